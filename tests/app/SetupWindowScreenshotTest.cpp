#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <set>

#include "SetupWindowFixture.h"
#include "WindowStates.h"

namespace tessaly::testing {
namespace {

using SetupWindowScreenshots = SetupWindowFixture;

/// Whether the image holds more than one colour inside `area`: something is drawn there.
bool isDrawn(const QImage& image, const QRect& area) {
    std::set<QRgb> colours;
    for (int y = area.top(); y <= area.bottom() && colours.size() < 2; ++y) {
        for (int x = area.left(); x <= area.right(); ++x) colours.insert(image.pixel(x, y));
    }
    return colours.size() > 1;
}

// In each state of the state table, every text and button the window shows is drawn whole: inside
// the window's width (it never scrolls sideways), as tall as its text needs, and clear of the
// others. The drawings are saved under <build>/screenshots for a person to look at as well.
TEST_F(SetupWindowScreenshots, EachStateShowsEveryControlWholeAndApart) {
    const QString folder = QString(TESSALY_BUILD_DIR) + "/screenshots";
    ASSERT_TRUE(QDir().mkpath(folder));
    launchAndSettle();
    const QScrollArea* scroll = window->window()->findChild<QScrollArea*>();
    QWidget* document = scroll->widget();
    for (const auto& state : windowStateCases()) {
        if (!state.screenshot) continue;
        actions.setSnapshot(*state.snapshot);
        loop.advance(2);
        settle();
        // New texts change the labels' heights; let the posted layout requests run before drawing.
        QApplication::processEvents();
        const QImage content = document->grab().toImage();
        std::vector<QRect> drawn;
        for (QWidget* control : document->findChildren<QWidget*>()) {
            if (!control->isVisibleTo(document) ||
                !(qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control)))
                continue;
            const QRect area(control->mapTo(document, QPoint(0, 0)), control->size());
            const int needed = control->hasHeightForWidth() ? control->heightForWidth(control->width())
                                                            : control->sizeHint().height();
            const std::string name = state.screenshot + (" " + control->objectName().toStdString());
            EXPECT_TRUE(QRect(0, 0, scroll->viewport()->width(), content.height()).contains(area)) << name;
            EXPECT_GE(area.height(), needed) << name;
            EXPECT_TRUE(isDrawn(content, area & content.rect())) << name;
            for (const QRect& other : drawn) EXPECT_FALSE(area.intersects(other)) << name;
            drawn.push_back(area);
        }
        EXPECT_EQ(drawn.size(),
                  9 + state.shown.size() - std::count(state.shown.begin(), state.shown.end(), '-'))
            << state.screenshot;
        EXPECT_TRUE(window->window()->grab().save(folder + "/" + state.screenshot + ".png"))
            << state.screenshot;
    }
}

}  // namespace
}  // namespace tessaly::testing
