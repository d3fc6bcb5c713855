// audio.json as any program or person may have left it: loading either yields a valid choice that
// saves and loads back unchanged, or throws one of the system's errors.

#include "FuzzInput.h"
#include "foundation/Error.h"
#include "foundation/Json.h"
#include "preference/PreferenceStore.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string home = fuzz::scratchFolder() + "/preference";
    static const PreferenceStore store = [] {
        FileSystem::createDirectories(home + "/Library/Application Support/Tessaly", 0700);
        return PreferenceStore::forHome(home);
    }();
    fuzz::putFile(home + "/Library/Application Support/Tessaly/audio.json", fuzz::bytesOf(data, size));

    std::optional<AudioPreference> loaded;
    try {
        loaded = store.load();
    } catch (const Error&) {
        return 0;
    }
    fuzz::require(size <= PreferenceStore::maximumFileSize, "a file beyond the size limit is refused");
    fuzz::require(loaded->isMuted() || loaded->volume() == loaded->unmutedVolume(),
                  "a loaded choice has one of two shapes");
    const std::string saved = Json::writePretty(loaded->toJson());
    fuzz::require(AudioPreference::fromJson(Json::parse(saved)) == *loaded,
                  "a loaded choice saves and loads back");
    return 0;
}
