#pragma once

#include <QObject>
#include <QPointer>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "RefreshScheduler.h"
#include "SetupActions.h"
#include "SetupAlerts.h"
#include "SetupOperationRunner.h"
#include "setup/SetupSnapshot.h"

class QLabel;
class QMainWindow;
class QPushButton;
class QScrollArea;
class QWidget;

namespace tessaly {

/// The whole setup user interface: the application's menu and its one window, kept in step with
/// the installation by a snapshot every two seconds, and the buttons' setup operations, run one at a
/// time on a worker thread with the buttons disabled meanwhile. It also holds back quitting while
/// an operation runs, so that quitting, closing the window or uninstalling never cut one short.
/// Everything here runs on the GUI thread.
class SetupWindow : public QObject {
    Q_OBJECT

public:
    /// The labels and buttons are made here with their initial texts; the window waits for launch().
    SetupWindow(SetupActions& actions, SetupAlerts& alerts, RefreshScheduler& scheduler,
                QObject* parent = nullptr);
    ~SetupWindow() override;

    /// Builds the menu and the window, shows it, and starts the refresh loop with a refresh at once.
    void launch();
    /// A quit request (the Quit item, closing the window, the end of an uninstall): granted at once
    /// when idle; while an operation runs, granted as soon as it has finished.
    void requestTermination();
    /// Brings the window back to the front, as a click on the running application's icon does.
    void reopen();

    /// The main button: runs the action the stored snapshot calls for.
    void toggle();
    /// Asks for the Accessibility prompt, then opens its settings; not an operation, never busy.
    void allowAccessibility();
    /// Opens the Login Items settings; never busy.
    void openLoginSettings();
    /// Restarts the helper as an operation.
    void restartMemory();
    /// "Done": closes the window, which quits the application.
    void closeSetup();
    /// Asks for confirmation, then uninstalls as an operation and quits when it has succeeded.
    void removeApp();

    /// The window; null until launch().
    QMainWindow* window() const { return window_.get(); }
    /// Whether an operation started from the window is running.
    bool isBusy() const { return busy_; }
    /// The worker, so callers can tell whether setup work is still in flight.
    const SetupOperationRunner& runner() const { return runner_; }

signals:
    /// Quitting was granted: the application should end its event loop now.
    void terminationGranted();

protected:
    /// Turns the window's close into a quit request.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenu();
    void buildWindow();
    QWidget* buildContent();
    QWidget* buildHeader();
    QWidget* buildStatusBlock();
    void connectButtons();
    void placeWindow();
    void showAbout();

    void loopTick();
    void scheduleLoop();
    void refresh(std::function<void()> then);
    void apply();

    void perform(SetupOperationRunner::Job operation, std::function<void()> afterSuccess = nullptr);
    void finishOperation(std::exception_ptr error, const std::function<void()>& afterSuccess);
    void runAction(SetupOperationRunner::Job action);
    void setOperationButtonsEnabled(bool enabled);
    void showError(std::exception_ptr error);
    void grantTermination();

    SetupActions& actions_;
    SetupAlerts& alerts_;
    RefreshScheduler& scheduler_;

    std::unique_ptr<QMainWindow> window_;
    std::optional<SetupSnapshot> snapshot_;
    bool busy_ = false;
    bool deferredTermination_ = false;
    bool terminated_ = false;

    // Owned by window_ once it is built; deleted by hand if it never is.
    QPointer<QLabel> status_;
    QPointer<QLabel> detail_;
    QPointer<QLabel> saved_;
    QPointer<QPushButton> permission_;
    QPointer<QPushButton> primary_;
    QPointer<QPushButton> restart_;
    QPointer<QPushButton> login_;
    QPointer<QPushButton> uninstall_;

    // Last, so it is destroyed first: its completions call into everything above.
    SetupOperationRunner runner_;
};

}  // namespace tessaly
