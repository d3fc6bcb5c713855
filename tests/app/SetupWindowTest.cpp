#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenuBar>
#include <QScrollArea>
#include <QScrollBar>

#include "SetupWindowFixture.h"
#include "setup/SetupWindowState.h"

namespace tessaly::testing {
namespace {

using SetupWindowLaunch = SetupWindowFixture;

TEST_F(SetupWindowLaunch, ShowsCheckingWithAllFiveButtonsAndIgnoresTheMainButtonUntilTheFirstSnapshot) {
    // Before launch no control is a window of its own.
    for (QWidget* topLevel : QApplication::topLevelWidgets()) EXPECT_FALSE(topLevel->isVisible());
    actions.hold("snapshot");
    window->launch();
    ASSERT_TRUE(actions.waitForCall("snapshot"));

    const auto checking = SetupWindowState::derive(std::nullopt, false);
    EXPECT_EQ(text("tessaly-status").toStdString(), checking.status);
    EXPECT_EQ(text("tessaly-detail"), "");
    EXPECT_EQ(text("tessaly-saved-volume"), "");
    std::vector<QString> titles;
    for (QPushButton* each : operationButtons()) {
        EXPECT_TRUE(each->isVisible() && each->isEnabled()) << each->objectName().toStdString();
        titles.push_back(each->text());
    }
    EXPECT_EQ(titles, (std::vector<QString>{"Enable Audio Memory", "Allow Accessibility",
                                            "Open Login Settings", "Restart Audio Memory", "Uninstall..."}));
    primary()->click();

    actions.release("snapshot");
    settle();
    const auto off = SetupWindowState::derive(installedSnapshot(), false);
    EXPECT_EQ(text("tessaly-status").toStdString(), off.status);
    EXPECT_EQ(text("tessaly-detail").toStdString(), off.detail);
    EXPECT_EQ(text("tessaly-saved-volume").toStdString(), off.saved);
    EXPECT_TRUE(button("tessaly-restart")->isHidden());
    EXPECT_TRUE(button("tessaly-accessibility")->isHidden());
    EXPECT_EQ(actions.calls(), std::vector<std::string>{"snapshot"});
    EXPECT_FALSE(window->isBusy());
}

using SetupWindowLayout = SetupWindowFixture;

TEST_F(SetupWindowLayout, AFixedSizeWindowWithIdentifiedControlsAndMenusWherePasteComesFirst) {
    launchAndSettle();
    QMainWindow* main = window->window();
    EXPECT_EQ(main->windowTitle(), "Tessaly");
    EXPECT_EQ(main->objectName(), "tessaly-setup");
    EXPECT_EQ(main->accessibleName(), "tessaly-setup");
    EXPECT_EQ(main->minimumSize(), main->maximumSize());
    EXPECT_EQ(main->findChild<QScrollArea*>()->size(), QSize(600, 790));
    for (const char* identifier : {"tessaly-status", "tessaly-detail", "tessaly-saved-volume"}) {
        EXPECT_EQ(main->findChild<QLabel*>(identifier)->accessibleName(), identifier);
    }
    for (QPushButton* each : operationButtons()) EXPECT_EQ(each->accessibleName(), each->objectName());

    std::vector<std::pair<QString, QKeySequence>> items;
    for (QAction* menu : main->menuBar()->actions()) {
        items.emplace_back(menu->text(), QKeySequence());
        for (QAction* item : menu->menu()->actions()) items.emplace_back(item->text(), item->shortcut());
    }
    using Key = QKeySequence;
    const std::vector<std::pair<QString, QKeySequence>> expected{
        {"Tessaly", Key()},
        {"About Tessaly", Key()},
        {"", Key()},
        {"Quit Tessaly Setup", Key(Qt::CTRL | Qt::Key_Q)},
        {"Edit", Key()},
        {"Paste", Key(Qt::CTRL | Qt::Key_V)},
        {"Cut", Key(Qt::CTRL | Qt::Key_X)},
        {"Copy", Key(Qt::CTRL | Qt::Key_C)},
        {"Select All", Key(Qt::CTRL | Qt::Key_A)}};
    EXPECT_EQ(items, expected);
}

QAction* menuItem(QMainWindow* main, const QString& title) {
    for (QAction* menu : main->menuBar()->actions()) {
        for (QAction* item : menu->menu()->actions()) {
            if (item->text() == title) return item;
        }
    }
    return nullptr;
}

TEST_F(SetupWindowLayout, TheContentScrollsOnlyWhenItDoesNotFitAndItsDetailCanBeCopiedThroughTheEditMenu) {
    launchAndSettle();
    QScrollBar* scroller = window->window()->findChild<QScrollArea*>()->verticalScrollBar();
    EXPECT_FALSE(scroller->isVisible());

    SetupSnapshot snapshot = installedSnapshot();
    snapshot.error =
        std::string(60, '\n') + "The previous helper is still running. No replacement was started.";
    actions.setSnapshot(snapshot);
    loop.advance(2);
    settle();
    EXPECT_TRUE(QTest::qWaitFor([scroller] { return scroller->isVisible(); }, 10000));

    QApplication::clipboard()->clear();
    window->window()->findChild<QLabel*>("tessaly-detail")->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, 10000));
    menuItem(window->window(), "Select All")->trigger();
    menuItem(window->window(), "Copy")->trigger();
    // Qt copies a selected line break as a paragraph separator.
    EXPECT_EQ(QApplication::clipboard()->text().replace(QChar::ParagraphSeparator, '\n').toStdString(),
              *snapshot.error);
}

using SetupWindowRefreshLoop = SetupWindowFixture;

TEST_F(SetupWindowRefreshLoop, RefreshesTwoSecondsAfterThePreviousRefreshFinishedButNotWhileAnOperationRuns) {
    actions.hold("snapshot");
    window->launch();
    ASSERT_TRUE(actions.waitForCall("snapshot"));
    // A slow snapshot holds the loop back: the two seconds count from its end.
    loop.advance(10);
    actions.release("snapshot");
    settle();
    actions.setSnapshot(runningSnapshot());

    loop.advance(1.999);
    settle();
    EXPECT_EQ(actions.count("snapshot"), 1);
    loop.advance(0.001);
    settle();
    EXPECT_EQ(actions.count("snapshot"), 2);
    EXPECT_EQ(text("tessaly-status").toStdString(),
              SetupWindowState::derive(runningSnapshot(), false).status);

    // While an operation runs the loop keeps ticking but skips its refreshes.
    actions.hold("disable");
    primary()->click();
    ASSERT_TRUE(actions.waitForCall("disable"));
    loop.advance(2);
    loop.advance(2);
    actions.release("disable");
    settle();
    // Only the refresh that ends the operation ran; the loop's ticks while busy did not queue any.
    EXPECT_EQ(actions.calls(), (std::vector<std::string>{"snapshot", "snapshot", "disable", "snapshot"}));
    loop.advance(2);
    settle();
    EXPECT_EQ(actions.count("snapshot"), 4);
    button("tessaly-restart")->click();
    settle();
    EXPECT_EQ(actions.calls().back(), "snapshot");
    EXPECT_EQ(actions.count("restart"), 1);
}

TEST_F(SetupWindowRefreshLoop, ASnapshotArrivingDuringAnOperationKeepsTheMainButtonDisabled) {
    launchAndSettle();
    actions.hold("snapshot");
    actions.hold("enable");
    loop.advance(2);
    ASSERT_TRUE(actions.waitForCall("snapshot", 2));
    primary()->click();
    actions.setSnapshot(runningSnapshot());
    actions.release("snapshot");
    ASSERT_TRUE(actions.waitForCall("enable"));
    const QString on = QString::fromStdString(SetupWindowState::derive(runningSnapshot(), false).status);
    ASSERT_TRUE(QTest::qWaitFor([&] { return text("tessaly-status") == on; }, 10000));
    EXPECT_FALSE(primary()->isEnabled());

    actions.release("enable");
    settle();
    EXPECT_TRUE(primary()->isEnabled());
}

using SetupWindowOperations = SetupWindowFixture;

TEST_F(SetupWindowOperations, PressingTheMainButtonTwiceStartsOneOperation) {
    launchAndSettle();
    actions.hold("enable");
    // Return presses the main button.
    QTest::keyClick(window->window(), Qt::Key_Return);
    ASSERT_TRUE(actions.waitForCall("enable"));
    EXPECT_TRUE(allEnabled(false));
    // The disabled button swallows a real second click; a press that arrives anyway is ignored too.
    primary()->click();
    window->toggle();
    window->restartMemory();
    actions.release("enable");
    settle();
    EXPECT_EQ(actions.count("enable"), 1);
    EXPECT_EQ(actions.count("restart"), 0);
    EXPECT_TRUE(allEnabled(true));
}

// A quit asked for meanwhile waits until the alert is dismissed.
TEST_F(SetupWindowOperations, AFailureShowsTheAlertWhileStillBusyThenEnablesTheButtonsAgainOrQuits) {
    launchAndSettle();
    for (const bool quitRequested : {false, true}) {
        actions.failNext("enable", "Tessaly needs approval in General > Login Items & Extensions.");
        bool busyDuringAlert = false;
        alerts.whileErrorShown = [&] {
            busyDuringAlert = window->isBusy() && allEnabled(false) && terminations.count() == 0;
        };
        primary()->click();
        if (quitRequested) window->requestTermination();
        settle();
        EXPECT_EQ(alerts.errors.back(), "Tessaly needs approval in General > Login Items & Extensions.");
        EXPECT_TRUE(busyDuringAlert);
        EXPECT_FALSE(window->isBusy());
        EXPECT_TRUE(quitRequested || allEnabled(true));
        EXPECT_EQ(terminations.count(), quitRequested ? 1 : 0);
    }
    EXPECT_EQ(alerts.errors.size(), 2u);
    EXPECT_EQ(actions.count("snapshot"), 2) << "no refresh before the quit";
}

using SetupWindowQuickActions = SetupWindowFixture;

TEST_F(SetupWindowQuickActions, ShowApplicationsRevealsTheFolderWithoutBecomingBusyOrShowsTheAlert) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.installed = false;
    actions.setSnapshot(snapshot);
    launchAndSettle();
    primary()->click();
    EXPECT_FALSE(window->isBusy());
    settle();
    EXPECT_EQ(actions.calls(), (std::vector<std::string>{"snapshot", "revealApplicationsFolder"}));
    EXPECT_TRUE(alerts.errors.empty());

    actions.failRevealing();
    primary()->click();
    settle();
    EXPECT_EQ(alerts.errors,
              std::vector<std::string>{"Open Applications in Finder, then move Tessaly.app there."});
    EXPECT_EQ(actions.count("snapshot"), 1);
    EXPECT_TRUE(primary()->isEnabled());
}

TEST_F(SetupWindowQuickActions, LoginSettingsOpenFromBothButtonsWithoutBecomingBusy) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.registration = "requires-approval";
    actions.setSnapshot(snapshot);
    launchAndSettle();
    primary()->click();
    button("tessaly-login-settings")->click();
    EXPECT_FALSE(window->isBusy());
    EXPECT_TRUE(allEnabled(true));
    settle();
    EXPECT_EQ(actions.count("openLoginSettings"), 2);
}

TEST_F(SetupWindowQuickActions, AllowAccessibilityPromptsThenOpensTheSettings) {
    SetupSnapshot snapshot = installedSnapshot();
    snapshot.accessibilityTrusted = false;
    actions.setSnapshot(snapshot);
    launchAndSettle();
    button("tessaly-accessibility")->click();
    EXPECT_FALSE(window->isBusy());
    settle();
    EXPECT_EQ(actions.calls(),
              (std::vector<std::string>{"snapshot", "requestAccessibility", "openAccessibilitySettings"}));
    EXPECT_TRUE(alerts.errors.empty());

    actions.failNext("openAccessibilitySettings",
                     "Open System Settings > Privacy & Security > Accessibility manually.");
    button("tessaly-accessibility")->click();
    settle();
    EXPECT_EQ(alerts.errors, std::vector<std::string>{
                                 "Open System Settings > Privacy & Security > Accessibility manually."});
}

using SetupWindowTermination = SetupWindowFixture;

TEST_F(SetupWindowTermination, QuittingWhenIdleIsGrantedAtOnceAndStopsTheRefreshLoop) {
    launchAndSettle();
    menuItem(window->window(), "Quit Tessaly Setup")->trigger();
    EXPECT_EQ(terminations.count(), 1);
    loop.advance(10);
    settle();
    EXPECT_EQ(actions.count("snapshot"), 1);
}

// -[NSApplication terminate:] reaches Qt as the application's Quit event; it waits like Quit.
TEST_F(SetupWindowTermination, QuittingWhileAnOperationRunsWaitsForItThenQuitsWithoutARefresh) {
    launchAndSettle();
    actions.hold("enable");
    primary()->click();
    ASSERT_TRUE(actions.waitForCall("enable"));
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
    loop.advance(2);
    EXPECT_EQ(terminations.count(), 0);
    EXPECT_TRUE(window->window()->isVisible());

    actions.release("enable");
    settle();
    EXPECT_EQ(terminations.count(), 1);
    loop.advance(10);
    settle();
    EXPECT_EQ(actions.calls(), (std::vector<std::string>{"snapshot", "enable"}));
}

TEST_F(SetupWindowTermination,
       ClosingTheWindowWhileBusyHidesItAtOnceAndQuitsAfterTheOperationEvenIfReopened) {
    launchAndSettle();
    actions.hold("enable");
    primary()->click();
    window->window()->close();
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_EQ(terminations.count(), 0);

    window->reopen();
    EXPECT_TRUE(window->window()->isVisible());
    window->window()->showMinimized();
    window->reopen();
    EXPECT_FALSE(window->window()->isMinimized());

    actions.release("enable");
    settle();
    EXPECT_EQ(terminations.count(), 1);
}

TEST_F(SetupWindowTermination, DoneClosesTheWindowAndQuits) {
    launchAndSettle();
    for (QPushButton* each : window->window()->findChildren<QPushButton*>()) {
        if (each->text() == "Done") each->click();
    }
    EXPECT_FALSE(window->window()->isVisible());
    EXPECT_EQ(terminations.count(), 1);
}

using SetupWindowUninstall = SetupWindowFixture;

TEST_F(SetupWindowUninstall, CancellingDoesNothingAFailureStaysOpenAndSuccessQuits) {
    launchAndSettle();
    button("tessaly-uninstall")->click();
    settle();
    EXPECT_EQ(alerts.confirmations, 1);
    EXPECT_EQ(actions.count("uninstall"), 0);
    EXPECT_TRUE(allEnabled(true));

    alerts.confirmUninstallAnswer = true;
    actions.failNext("uninstall", "This app is managed by another account.");
    button("tessaly-uninstall")->click();
    settle();
    EXPECT_EQ(alerts.errors, std::vector<std::string>{"This app is managed by another account."});
    EXPECT_EQ(terminations.count(), 0);
    EXPECT_TRUE(allEnabled(true));
    EXPECT_EQ(actions.calls(), (std::vector<std::string>{"snapshot", "uninstall", "snapshot"}));

    actions.hold("uninstall");
    button("tessaly-uninstall")->click();
    ASSERT_TRUE(actions.waitForCall("uninstall", 2));
    EXPECT_TRUE(allEnabled(false));
    EXPECT_EQ(terminations.count(), 0);
    actions.release("uninstall");
    settle();
    EXPECT_EQ(terminations.count(), 1);
    EXPECT_EQ(actions.count("snapshot"), 2);
}

}  // namespace
}  // namespace tessaly::testing
