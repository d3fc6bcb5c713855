#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPixmap>

#include "SetupWindowFixture.h"
#include "WindowStates.h"

namespace tessaly::testing {
namespace {

using SetupWindowScreenshots = SetupWindowFixture;

// Saves the window in each state of the state table under <build>/screenshots for a person to look
// at; the state test checks the texts.
TEST_F(SetupWindowScreenshots, EachStateOfTheTableIsDrawn) {
    const QString folder = QString(TESSALY_BUILD_DIR) + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(folder));
    launchAndSettle();
    for (const auto& state : windowStateCases()) {
        if (!state.screenshot) continue;
        actions.setSnapshot(*state.snapshot);
        loop.advance(2);
        settle();
        // New texts change the labels' heights; let the posted layout requests run before drawing.
        QApplication::processEvents();
        const QImage image = window->window()->grab().toImage();
        EXPECT_EQ(image.width(), 600) << state.screenshot;
        EXPECT_TRUE(image.save(folder + "/" + state.screenshot + ".png")) << state.screenshot;
    }
}

}  // namespace
}  // namespace tessaly::testing
