#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>

#include "SetupWindowFixture.h"

namespace tessaly::testing {
namespace {

struct ScreenshotCase {
    const char* name;
    SetupSnapshot snapshot;
    const char* status;
};

std::vector<ScreenshotCase> screenshotCases() {
    SetupSnapshot notInstalled = installedSnapshot();
    notInstalled.installed = false;
    SetupSnapshot approval = installedSnapshot();
    approval.registration = "requires-approval";
    approval.accessibilityTrusted = false;
    SetupSnapshot upgrade = runningSnapshot();
    upgrade.legacyInstallation = true;
    SetupSnapshot untrusted = runningSnapshot();
    untrusted.accessibilityTrusted = false;
    untrusted.helper.reset();
    SetupSnapshot attention = installedSnapshot();
    attention.registration = "enabled";
    attention.error = "The login helper is registered but has not answered. Choose Restart Audio Memory.";
    SetupSnapshot on = runningSnapshot();
    on.volume = 0;
    SetupSnapshot off = installedSnapshot();
    off.volume.reset();
    return {{"1-move-to-applications", notInstalled, "Move to Applications first"},
            {"2-allow-in-background", approval, "Allow Tessaly in the background"},
            {"3-finish-upgrade", upgrade, "Finish the upgrade"},
            {"4-allow-accessibility", untrusted, "Allow Accessibility"},
            {"5-needs-attention", attention, "Tessaly needs attention"},
            {"6-on", on, "Audio memory is on"},
            {"7-off", off, "Audio memory is off"}};
}

using SetupWindowScreenshots = SetupWindowFixture;

// Saves the window in each state of the state table under <build>/screenshots for a person to look at.
TEST_F(SetupWindowScreenshots, EachStateOfTheTableIsDrawn) {
    const QString folder = QString(TESSALY_BUILD_DIR) + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(folder));
    launchAndSettle();
    for (const auto& state : screenshotCases()) {
        actions.setSnapshot(state.snapshot);
        loop.advance(2);
        settle();
        ASSERT_EQ(text("tessaly-status"), state.status);
        // New texts change the labels' heights; let the posted layout requests run before drawing.
        QApplication::processEvents();
        const QImage image = window->window()->grab().toImage();
        EXPECT_EQ(image.width(), 600) << state.name;
        EXPECT_TRUE(image.save(folder + "/" + state.name + ".png")) << state.name;
    }
}

}  // namespace
}  // namespace tessaly::testing
