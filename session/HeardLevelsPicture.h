#pragma once

#include <QImage>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessaly {

class SessionWorld;

/// The picture of what the user heard: one row per preview with its file name and what happened in
/// words, the level its sound reached the speakers at (green) and the level the helper's file
/// remembered at the same moment (orange, dashed), over a time axis in milliseconds from each
/// preview's window appearing and a level axis in percent. Drawn with Qt's painting classes and
/// written as PNG.
class HeardLevelsPicture {
public:
    /// One preview from its window appearing to its closing (or the end of the timeline).
    struct Preview {
        int number = 0;
        std::string file;
        double opened = 0;
        std::optional<double> closed;
        /// What the speakers play from each time on (seconds, level 0 to 1), in time order.
        std::vector<std::pair<double, double>> heard;
        /// When its player started to play the file, after loading it; nothing: it never played.
        std::optional<double> soundStarted;
    };
    /// Everything the picture shows; times in seconds on one clock.
    struct Timeline {
        std::vector<Preview> previews;
        /// The remembered level from each time on, in time order; nothing while it could not be read.
        std::vector<std::pair<double, std::optional<double>>> remembered;
        double now = 0;
    };

    /// The longest stretch the time axis shows, in seconds; a longer preview is cut there.
    static constexpr double longestAxis = 5.0;

    explicit HeardLevelsPicture(Timeline timeline) : timeline_(std::move(timeline)) {}

    /// What `world` has recorded so far.
    static Timeline timelineOf(const SessionWorld& world);

    /// What a preview sounded like, in words: "silent from its first sound", "heard at 100 % for
    /// 66 ms, then 40 %".
    static std::string story(const Preview& preview);
    /// The remembered level while `preview` was open, as it changed: each level with the time it
    /// started, the first at the opening; nothing before the first reading or while unreadable.
    std::vector<std::pair<double, std::optional<double>>> rememberedWhileOpen(const Preview& preview) const;

    QImage draw() const;
    /// Draws the picture and writes it to `path` as PNG, atomically; throws FileError or
    /// TessalyError when it cannot.
    void write(const std::string& path) const;

private:
    Timeline timeline_;
};

}  // namespace tessaly
