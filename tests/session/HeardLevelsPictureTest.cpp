// The picture of what the user heard: each preview's story in words, the remembered level as it
// changed while each preview was open, and a PNG that is written whole or not at all.

#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>

#include "HeardLevelsPicture.h"
#include "foundation/FileError.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using Preview = HeardLevelsPicture::Preview;

TEST(HeardLevelsPicture, TellsEachPreviewInWordsFromItsFirstSoundToItsClosing) {
    const struct {
        std::vector<std::pair<double, double>> heard;
        std::string story;
        std::optional<double> soundStarted = std::nullopt;
    } cases[] = {
        {{{1.0, 0}, {1.08, 0.4}}, "heard at 40 % from its first sound", 1.08},
        {{{1.0, 0}, {1.2, 0.4}}, "silent for 120 ms, then 40 %", 1.08},
        {{{1.0, 0}}, "silent from its first sound"},
        {{{1.0, 0.4}, {1.2, 0.4}}, "heard at 40 % from its first sound"},
        {{{1.0, 1}, {1.066, 0.4}}, "heard at 100 % for 66 ms, then 40 %"},
        {{{1.0, 1}, {1.0004, 0}, {1.037, 0.4}, {1.5, 0}},
         "heard at 100 % for 0.4 ms, then silent for 37 ms, then 40 %"},
        {{{1.0, 0}, {1.0, 0.4}, {1.1, 0}, {1.2, 0.4}, {1.3, 0}, {1.4, 0.4}, {1.45, 0}},
         "heard at 40 % for 100 ms, then silent for 100 ms, then 40 % for 100 ms, then silent for 100 ms, then 40 % "
         "for 50 ms, and 1 more change"},
        {{}, "not heard"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(
            HeardLevelsPicture::story(Preview{1, "Harbour.mov", 1.0, 1.5, test.heard, test.soundStarted}),
            test.story);
    }
}

TEST(HeardLevelsPicture, ShowsTheRememberedLevelAsItChangedWhileEachPreviewWasOpen) {
    using Steps = std::vector<std::pair<double, std::optional<double>>>;
    const HeardLevelsPicture picture({{}, {{0.5, 0.0}, {0.9, std::nullopt}, {1.2, 0.4}, {2.5, 0.0}}, 3.0});
    EXPECT_EQ(picture.rememberedWhileOpen(Preview{1, "Harbour.mov", 0.2, 0.7, {}, {}}),
              (Steps{{0.2, {}}, {0.5, 0.0}}));
    // The file could not be read for a while; the choice changed while the preview was open.
    EXPECT_EQ(picture.rememberedWhileOpen(Preview{2, "Lagoon.mov", 0.6, 2.0, {}, {}}),
              (Steps{{0.6, 0.0}, {0.9, std::nullopt}, {1.2, 0.4}}));
    EXPECT_EQ(picture.rememberedWhileOpen(Preview{3, "Tide.mov", 2.1, {}, {}, {}}),
              (Steps{{2.1, 0.4}, {2.5, 0.0}}));
}

TEST(HeardLevelsPicture, IsWrittenAsAPNGWithARowPerPreviewOrNotAtAll) {
    const testing::TemporaryDirectory folder;
    const HeardLevelsPicture picture({{Preview{1, "Harbour.mov", 0.1, 0.5, {{0.1, 0}, {0.3, 0.4}}, {}},
                                       Preview{2, "Lagoon.mov", 0.6, {}, {{0.6, 1}}, {}}},
                                      {{0.0, 0.0}, {0.45, 0.4}},
                                      0.9});
    picture.write(folder / "heard-levels.png");
    QImage written;
    ASSERT_TRUE(written.load(QString::fromStdString(folder / "heard-levels.png"), "PNG"));
    EXPECT_EQ(written.size(), picture.draw().size());
    const HeardLevelsPicture oneRow({{Preview{1, "Harbour.mov", 0.1, 0.5, {}, {}}}, {}, 0.9});
    EXPECT_GT(written.height(), oneRow.draw().height());

    EXPECT_THROW(picture.write(folder / "missing/heard-levels.png"), FileError);
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

}  // namespace
}  // namespace tessaly
