#include "TerminationSignals.h"

namespace tessaly {

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent), notifier_(std::make_unique<QSocketNotifier>(pipe_.readEnd(), QSocketNotifier::Read)) {
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

// The notifier, declared after the pipe it watches, goes first.
TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::drain() {
    if (pipe_.drain()) emit received();
}

}  // namespace tessaly
