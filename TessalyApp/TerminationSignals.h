#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "TerminationSignalPipe.h"

namespace tessaly {

/// SIGTERM, SIGHUP and SIGINT as quit requests: a logout, a closed terminal session or a kill
/// asks the setup window to quit, and the window lets a running operation finish first (between a
/// legacy bootout and the registration, say) instead of dying in the middle of it.
///
/// The byte the handler writes to its pipe (TerminationSignalPipe) wakes the GUI thread's event
/// loop, which emits `received`. One instance at a time.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    /// Installs the handlers; the signals are no longer fatal while this object lives.
    explicit TerminationSignals(QObject* parent = nullptr);
    /// Restores the default handling.
    ~TerminationSignals() override;

signals:
    /// A termination signal arrived; emitted on the GUI thread.
    void received();

private:
    void drain();

    TerminationSignalPipe pipe_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tessaly
