#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "FakeAlerts.h"
#include "FakeSetupActions.h"
#include "SetupWindow.h"
#include "SnapshotBuilder.h"
#include "VirtualRefreshScheduler.h"
#include "support/VirtualRunLoop.h"

namespace tessaly::testing {

/// A setup window over fake actions and alerts, its refresh loop on virtual time. The worker
/// thread is real: tests wait (bounded) for its results to come back to the GUI thread.
class SetupWindowFixture : public ::testing::Test {
protected:
    void SetUp() override { actions.setSnapshot(installedSnapshot()); }

    void TearDown() override {
        // A held call would keep the worker, and so the window's destruction, waiting forever.
        actions.releaseAll();
        window.reset();
    }

    /// Launches the window and waits until the first snapshot is shown.
    void launchAndSettle() {
        window->launch();
        settle();
    }

    /// Turns the event loop until no setup work is queued, running, or waiting to be applied.
    void settle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return window->runner().pendingCount() == 0; }, 10000));
    }

    QPushButton* button(const char* identifier) const {
        return window->window()->findChild<QPushButton*>(identifier);
    }

    QString text(const char* identifier) const {
        return window->window()->findChild<QLabel*>(identifier)->text();
    }

    QPushButton* primary() const { return button("tessaly-toggle"); }

    /// The five buttons a running operation disables, main button first.
    std::vector<QPushButton*> operationButtons() const {
        return {primary(), button("tessaly-accessibility"), button("tessaly-login-settings"),
                button("tessaly-restart"), button("tessaly-uninstall")};
    }

    bool allEnabled(bool enabled) const {
        for (QPushButton* each : operationButtons()) {
            if (each->isEnabled() != enabled) return false;
        }
        return true;
    }

    VirtualRunLoop loop;
    VirtualRefreshScheduler scheduler{loop};
    FakeSetupActions actions;
    FakeAlerts alerts;
    std::unique_ptr<SetupWindow> window = std::make_unique<SetupWindow>(actions, alerts, scheduler);
    QSignalSpy terminations{window.get(), &SetupWindow::terminationGranted};
};

}  // namespace tessaly::testing
