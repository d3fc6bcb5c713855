#include "SetupApplication.h"

#include <QApplication>
#include <QMainWindow>

#include "ApplicationIcon.h"
#include "MessageBoxAlerts.h"
#include "QtRefreshScheduler.h"
#include "ServiceSetupActions.h"
#include "SetupWindow.h"
#include "TerminationSignals.h"
#include "foundation/Version.h"

namespace tessaly {
namespace {

// A click on the running application's icon activates it; a window that was minimized or closed
// while an operation ran comes back then.
void bringBackOnReopen(QApplication& application, SetupWindow& window) {
    QObject::connect(&application, &QGuiApplication::applicationStateChanged, &window,
                     [&window](Qt::ApplicationState state) {
                         if (state != Qt::ApplicationActive || !window.window()) return;
                         if (window.window()->isVisible() && !window.window()->isMinimized()) return;
                         window.reopen();
                     });
}

}  // namespace

int openSetupWindow(SetupService& service, Workspace& workspace, int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Tessaly");
    QApplication::setApplicationVersion(QString::fromUtf8(version.data(), version.size()));
    QApplication::setWindowIcon(applicationIcon());
    // The window decides when closing it may end the application: not while an operation runs.
    QApplication::setQuitOnLastWindowClosed(false);

    ServiceSetupActions actions(service, workspace, InstallationPaths::forCurrentUser());
    MessageBoxAlerts alerts;
    QtRefreshScheduler scheduler;
    SetupWindow window(actions, alerts, scheduler);
    QObject::connect(
        &window, &SetupWindow::terminationGranted, &application, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    bringBackOnReopen(application, window);
    TerminationSignals quitSignals;
    QObject::connect(&quitSignals, &TerminationSignals::received, &window, &SetupWindow::requestTermination);

    window.launch();
    return QApplication::exec();
}

}  // namespace tessaly
