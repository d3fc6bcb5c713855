#include "HeardLevelsPicture.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "LevelText.h"
#include "SessionWorld.h"
#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"

namespace tessaly {

namespace {

// The size a terminal user's image viewer shows without scaling: rows of 120 pixels, 1280 wide.
constexpr int width = 1280;
constexpr int margin = 28;
constexpr int headerHeight = 118;
constexpr int rowHeight = 120;
constexpr int footerHeight = 44;
constexpr int labelWidth = 330;
constexpr int plotLeft = margin + labelWidth + 64;
constexpr int plotRight = width - margin - 12;
constexpr int plotTopInRow = 18;
constexpr int plotHeight = 64;
// The most changes a row puts into words.
constexpr std::size_t toldChanges = 5;

const QColor ink(40, 40, 40);
const QColor quiet(110, 110, 110);
const QColor grid(221, 221, 221);
const QColor plotBackground(249, 249, 249);
const QColor heardColour(30, 150, 60);
const QColor rememberedColour(235, 130, 20);

// Whole milliseconds, and tenths below ten, so that a brief sound does not read as none.
std::string milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, seconds < 0.00995 ? "%.1f ms" : "%.0f ms", seconds * 1000);
    return text;
}

// Text needs a font database, which only a Gui application brings. A program without one (the
// session has no window) gets one on the offscreen platform while it paints; it goes with what it
// set up once the painting is done. Qt takes its arguments out of the list it is given, so each one
// has a list of its own.
class OffscreenApplication {
public:
    OffscreenApplication() : application_(argc_, argv_) {}

private:
    char name_[16] = "tessaly-session";
    char option_[10] = "-platform";
    char platform_[10] = "offscreen";
    char* argv_[4] = {name_, option_, platform_, nullptr};
    int argc_ = 3;
    QGuiApplication application_;
};

QFont font(int pixels, bool bold = false) {
    QFont chosen("DejaVu Sans");
    chosen.setPixelSize(pixels);
    chosen.setBold(bold);
    return chosen;
}

// A tick step of 1, 2 or 5 times a power of ten that splits `length` into at most eight parts.
double tickStep(double length) {
    double step = 1e-3;
    for (;;) {
        for (double factor : {1.0, 2.0, 5.0}) {
            if (length / (step * factor) <= 8) return step * factor;
        }
        step *= 10;
    }
}

// The changes of one preview's level while it was open: each level with the time it started,
// equal neighbours merged and a change that lasted no time dropped.
std::vector<std::pair<double, double>> changesWhileOpen(const HeardLevelsPicture::Preview& preview) {
    std::vector<std::pair<double, double>> changes;
    for (const auto& [time, level] : preview.heard) {
        if (time < preview.opened || (preview.closed && time >= *preview.closed)) continue;
        if (!changes.empty() && changes.back().first == time) changes.pop_back();
        if (!changes.empty() && changes.back().second == level) continue;
        changes.emplace_back(time, level);
    }
    return changes;
}

}  // namespace

HeardLevelsPicture::Timeline HeardLevelsPicture::timelineOf(const SessionWorld& world) {
    Timeline timeline;
    timeline.now = world.now();
    for (const auto& [number, life] : world.lives()) {
        Preview preview{number, life.file, life.opened, life.closed, {}, life.soundStarted};
        for (const auto& sample : world.timeline()) {
            if (sample.preview == number) preview.heard.emplace_back(sample.time, sample.level);
        }
        timeline.previews.push_back(std::move(preview));
    }
    for (const auto& sample : world.rememberedTimeline())
        timeline.remembered.emplace_back(sample.time, sample.level);
    return timeline;
}

std::string HeardLevelsPicture::story(const Preview& preview) {
    // Told from the first sound: while the player loads its file there is nothing to hear.
    auto changes = changesWhileOpen(preview);
    if (preview.soundStarted) {
        // The level in effect at the first sound starts the story there.
        const auto first = std::find_if(changes.begin(), changes.end(), [&](const auto& change) {
            return change.first > *preview.soundStarted;
        });
        if (first != changes.begin()) {
            const double level = std::prev(first)->second;
            changes.erase(changes.begin(), first);
            changes.insert(changes.begin(), {*preview.soundStarted, level});
        }
    }
    if (changes.empty()) return "not heard";
    auto level = [](double value, bool first) {
        if (value == 0) return std::string("silent");
        return (first ? "heard at " : "") + percent(value);
    };
    if (changes.size() == 1) return level(changes[0].second, true) + " from its first sound";
    std::string story;
    const std::size_t told = std::min(changes.size(), toldChanges);
    for (std::size_t index = 0; index < told; ++index) {
        if (index > 0) story += ", then ";
        story += level(changes[index].second, index == 0);
        if (index + 1 < changes.size())
            story += " for " + milliseconds(changes[index + 1].first - changes[index].first);
    }
    if (const std::size_t more = changes.size() - told; more > 0)
        story += ", and " + std::to_string(more) + (more == 1 ? " more change" : " more changes");
    return story;
}

std::vector<std::pair<double, std::optional<double>>> HeardLevelsPicture::rememberedWhileOpen(
    const Preview& preview) const {
    std::vector<std::pair<double, std::optional<double>>> steps{{preview.opened, std::nullopt}};
    const double end = preview.closed.value_or(timeline_.now);
    for (const auto& [time, level] : timeline_.remembered) {
        if (time >= end) break;
        if (time <= preview.opened) {
            steps.front().second = level;
        } else {
            steps.emplace_back(time, level);
        }
    }
    return steps;
}

QImage HeardLevelsPicture::draw() const {
    const auto& previews = timeline_.previews;
    const int rows = std::max<int>(1, static_cast<int>(previews.size()));
    QImage image(width, headerHeight + rows * rowHeight + footerHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    std::optional<OffscreenApplication> application;
    if (!QGuiApplication::instance()) application.emplace();
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // One time axis for every row, so that the rows compare: the longest preview, within bounds.
    double longest = 0.1;
    for (const auto& preview : previews) {
        longest = std::max(longest, preview.closed.value_or(timeline_.now) - preview.opened);
    }
    longest = std::min(longest, longestAxis);
    const double step = tickStep(longest);
    const double axis = std::ceil(longest / step - 1e-9) * step;
    auto xOf = [&](double sinceOpening) {
        return plotLeft + std::clamp(sinceOpening / axis, 0.0, 1.0) * (plotRight - plotLeft);
    };

    painter.setPen(ink);
    painter.setFont(font(22, true));
    painter.drawText(margin, 40, "What each preview sounded like");
    painter.setFont(font(14));
    painter.setPen(quiet);
    painter.drawText(
        margin, 64,
        "One row per Quick Look preview: the level its sound reached the speakers at, and the level "
        "Tessaly remembered, in percent of full volume.");
    // The legend.
    painter.setFont(font(14));
    const int legendY = 94;
    painter.setPen(QPen(heardColour, 3));
    painter.drawLine(margin, legendY - 5, margin + 36, legendY - 5);
    painter.setPen(ink);
    painter.drawText(margin + 46, legendY, "heard (what the speakers play)");
    const int rememberedLegend = margin + 330;
    painter.setPen(QPen(rememberedColour, 2.5, Qt::DashLine));
    painter.drawLine(rememberedLegend, legendY - 5, rememberedLegend + 36, legendY - 5);
    painter.setPen(ink);
    painter.drawText(rememberedLegend + 46, legendY, "remembered (the choice in audio.json)");

    if (previews.empty()) {
        painter.setFont(font(15));
        painter.setPen(quiet);
        painter.drawText(margin, headerHeight + 40, "No preview has opened yet.");
    }
    for (std::size_t row = 0; row < previews.size(); ++row) {
        const Preview& preview = previews[row];
        const int top = headerHeight + static_cast<int>(row) * rowHeight;
        const double end = preview.closed.value_or(timeline_.now);
        const double shown = std::min(end, preview.opened + axis);
        const int plotTop = top + plotTopInRow;
        auto yOf = [&](double level) { return plotTop + (1 - std::clamp(level, 0.0, 1.0)) * plotHeight; };

        painter.setPen(grid);
        painter.drawLine(margin, top, width - margin, top);

        // What happened, in words.
        painter.setPen(ink);
        painter.setFont(font(15, true));
        const QString title =
            QString::fromStdString("Preview " + std::to_string(preview.number) + ": " + preview.file);
        painter.drawText(QRect(margin, plotTop - 4, labelWidth, 22), Qt::AlignLeft | Qt::AlignTop,
                         QFontMetrics(painter.font()).elidedText(title, Qt::ElideRight, labelWidth));
        painter.setFont(font(14));
        // A number keeps its unit on its line.
        const QString told =
            QString::fromStdString(story(preview)).replace(" ms", "\u00a0ms").replace(" %", "\u00a0%");
        painter.drawText(QRect(margin, plotTop + 20, labelWidth, 40),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, told);
        painter.setPen(quiet);
        painter.setFont(font(12));
        std::string life =
            (preview.closed ? "closed after " : "still open after ") + milliseconds(end - preview.opened);
        if (shown < end) life += ", the first " + milliseconds(axis) + " shown";
        painter.drawText(QRect(margin, plotTop + 62, labelWidth, 18), Qt::AlignLeft | Qt::AlignTop,
                         QString::fromStdString(life));

        // The axes: levels in percent, milliseconds since the window appeared.
        painter.fillRect(QRectF(plotLeft, plotTop, plotRight - plotLeft, plotHeight), plotBackground);
        painter.setFont(font(12));
        for (double level : {0.0, 0.5, 1.0}) {
            painter.setPen(grid);
            painter.drawLine(QPointF(plotLeft, yOf(level)), QPointF(plotRight, yOf(level)));
            painter.setPen(quiet);
            painter.drawText(QRectF(plotLeft - 60, yOf(level) - 9, 52, 18), Qt::AlignRight | Qt::AlignVCenter,
                             QString::fromStdString(percent(level)));
        }
        for (double tick = 0; tick <= axis + 1e-9; tick += step) {
            const double x = xOf(tick);
            painter.setPen(grid);
            painter.drawLine(QPointF(x, plotTop), QPointF(x, plotTop + plotHeight + 4));
            painter.setPen(quiet);
            const QString label = QString::number(std::lround(tick * 1000)) + " ms";
            const int textWidth = QFontMetrics(painter.font()).horizontalAdvance(label);
            const double left =
                std::clamp(x - textWidth / 2.0, double(plotLeft) - 4, double(plotRight) - textWidth);
            painter.drawText(QPointF(left, plotTop + plotHeight + 18), label);
        }
        if (preview.closed && shown == end) {
            painter.setPen(QPen(quiet, 1, Qt::DotLine));
            painter.drawLine(QPointF(xOf(end - preview.opened), plotTop - 4),
                             QPointF(xOf(end - preview.opened), plotTop + plotHeight));
        }

        // The heard level: each change holds until the next one.
        const auto changes = changesWhileOpen(preview);
        if (!changes.empty()) {
            QPainterPath heard;
            heard.moveTo(xOf(changes[0].first - preview.opened), yOf(changes[0].second));
            for (std::size_t index = 1; index < changes.size(); ++index) {
                const double x = xOf(std::min(changes[index].first, shown) - preview.opened);
                heard.lineTo(x, yOf(changes[index - 1].second));
                heard.lineTo(x, yOf(changes[index].second));
            }
            heard.lineTo(xOf(shown - preview.opened), yOf(changes.back().second));
            painter.setPen(QPen(heardColour, 3.5, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
            painter.drawPath(heard);
        }

        // The remembered level as it stood at each moment, drawn over the heard one.
        auto remembered = rememberedWhileOpen(preview);
        std::erase_if(remembered, [&](const auto& change) {
            return change.first >= shown && change.first > preview.opened;
        });
        painter.setPen(QPen(rememberedColour, 2.5, Qt::DashLine, Qt::FlatCap, Qt::MiterJoin));
        for (std::size_t index = 0; index < remembered.size(); ++index) {
            const auto& [from, level] = remembered[index];
            if (!level) continue;
            const double until = index + 1 < remembered.size() ? remembered[index + 1].first : shown;
            QPainterPath path;
            path.moveTo(xOf(from - preview.opened), yOf(*level));
            path.lineTo(xOf(until - preview.opened), yOf(*level));
            if (index + 1 < remembered.size() && remembered[index + 1].second)
                path.lineTo(xOf(until - preview.opened), yOf(*remembered[index + 1].second));
            painter.drawPath(path);
        }
    }

    painter.setPen(quiet);
    painter.setFont(font(13));
    painter.drawText(QRect(plotLeft, image.height() - footerHeight + 6, plotRight - plotLeft, 20),
                     Qt::AlignCenter, "milliseconds since the preview's window appeared");
    return image;
}

void HeardLevelsPicture::write(const std::string& path) const {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!draw().save(&buffer, "PNG")) throw TessalyError("The picture could not be encoded as PNG.");
    FileSystem::writeAtomically(path, bytes.toStdString(), 0644);
}

}  // namespace tessaly
