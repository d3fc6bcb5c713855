#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "foundation/DecodingError.h"
#include "foundation/FileError.h"
#include "foundation/TessalyError.h"
#include "preference/PreferenceStore.h"
#include "support/ErrorMessage.h"
#include "support/TemporaryDirectory.h"

namespace tessaly {
namespace {

using testing::messageOf;
using testing::permissionsOf;
using testing::readFile;
using testing::TemporaryDirectory;
using testing::writeFile;

const std::string notSmallFile = "The saved audio preference is not a regular, small configuration file.";

class PreferenceStoreTest : public ::testing::Test {
protected:
    std::string folder() const { return home / "Library/Application Support/Tessaly"; }
    std::string file() const { return folder() + "/audio.json"; }

    static std::string paddedRecord(std::size_t size) {
        std::string record = R"({"schemaVersion":1,"volume":0,"unmutedVolume":1})";
        record.insert(record.size() - 1, std::string(size - record.size(), ' '));
        return record;
    }

    TemporaryDirectory home;
    PreferenceStore store = PreferenceStore::forHome(home.path());
};

TEST_F(PreferenceStoreTest, LivesInApplicationSupportAndTheFirstSaveCreatesAPrivateFolderAndFile) {
    EXPECT_EQ(store.path(), home.path() + "/Library/Application Support/Tessaly/audio.json");
    EXPECT_EQ(testing::thrown<FileError>([&] { store.load(); }).code(), FileError::Code::noSuchFile);
    EXPECT_EQ(store.loadIfPresent(), std::nullopt);

    ::umask(022);
    store.save(AudioPreference::make(0, 1));
    EXPECT_EQ(permissionsOf(folder()), 0700u);
    EXPECT_EQ(permissionsOf(file()), 0600u);
    EXPECT_EQ(readFile(file()), "{\n  \"schemaVersion\" : 1,\n  \"unmutedVolume\" : 1,\n  \"volume\" : 0\n}");
}

TEST_F(PreferenceStoreTest, RoundTripsBothShapesUpTo4096BytesAndMakesAnExistingFilePrivate) {
    writeFile(file(), paddedRecord(4096));
    ::chmod(file().c_str(), 0644);
    EXPECT_EQ(store.load(), AudioPreference::make(0, 1));
    for (auto preference : {AudioPreference::make(0, 0.4), AudioPreference::make(0.4, 0.4),
                            AudioPreference::make(1.0 / 3.0, 1.0 / 3.0)}) {
        store.save(preference);
        EXPECT_EQ(permissionsOf(file()), 0600u);
        EXPECT_EQ(store.load(), preference);
    }
}

TEST_F(PreferenceStoreTest, RefusesAnythingButASmallRegularFileInAFolderOfItsOwnAndLeavesItAsItWas) {
    const std::string target = home / "elsewhere.json";
    const std::string record = R"({"schemaVersion":1,"volume":0,"unmutedVolume":1})";
    writeFile(target, record);
    const std::function<void()> replacements[] = {
        [&] { writeFile(file(), paddedRecord(4097)); },
        [&] { std::filesystem::create_symlink(target, file()); },
        [&] { std::filesystem::create_directories(file()); },
    };
    for (const auto& replace : replacements) {
        std::filesystem::remove_all(folder());
        std::filesystem::create_directories(folder());
        replace();
        const std::string before = std::filesystem::is_regular_file(file()) ? readFile(file()) : "";
        EXPECT_EQ(messageOf([&] { store.load(); }), notSmallFile);
        EXPECT_EQ(messageOf([&] { store.save(AudioPreference::make(0.5, 0.5)); }), notSmallFile);
        if (!before.empty()) {
            EXPECT_EQ(readFile(file()), before);
        }
    }
    EXPECT_EQ(readFile(target), record);

    // Nor is a linked folder written into.
    std::filesystem::remove_all(folder());
    const std::string redirected = home / "redirected";
    std::filesystem::create_directories(redirected);
    std::filesystem::create_directory_symlink(redirected, folder());
    EXPECT_EQ(messageOf([&] { store.save(AudioPreference::make(0, 1)); }),
              "Refusing a redirected audio-preference directory.");
    EXPECT_TRUE(std::filesystem::is_empty(redirected));
}

// Which contents are refused is AudioPreference's to check; the store passes its errors on.
TEST_F(PreferenceStoreTest, InvalidContentFailsAsItsDecodingDoes) {
    writeFile(file(), R"({"schemaVersion":1,"volume":0.4,"unmutedVolume":0.6})");
    EXPECT_THROW(store.load(), TessalyError);
    writeFile(file(), "");
    EXPECT_THROW(store.load(), DecodingError);
}

TEST_F(PreferenceStoreTest, AReaderNeverSeesAPartialFile) {
    const auto quiet = AudioPreference::make(0, 0.25);
    const auto loud = AudioPreference::make(0.875, 0.875);
    store.save(quiet);

    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0; i < 400; ++i) store.save(i % 2 ? quiet : loud);
        _exit(0);
    }
    int loads = 0;
    int status = 0;
    while (waitpid(writer, &status, WNOHANG) == 0) {
        const auto loaded = store.load();
        ASSERT_TRUE(loaded == quiet || loaded == loud);
        ++loads;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(loads, 0);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder()), {}), 1);
}

}  // namespace
}  // namespace tessaly
