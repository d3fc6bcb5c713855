// A bundle's Contents/Info.plist as anything may have replaced it: finding the main bundle either
// reads its identifier from the list or treats the executable as one outside a bundle.

#include "FuzzInput.h"
#include "posix/PosixProcessEnvironment.h"
#include "values/PropertyList.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string bundle = fuzz::scratchFolder() + "/Tessaly.app";
    static const bool made = (FileSystem::createDirectories(bundle + "/Contents/MacOS", 0700), true);
    (void)made;
    fuzz::putFile(bundle + "/Contents/Info.plist", fuzz::bytesOf(data, size));

    const MainBundle found = PosixProcessEnvironment::bundleOf(bundle + "/Contents/MacOS/Tessaly");
    if (found.path != bundle) return 0;
    const auto identifier = found.infoDictionary.find("CFBundleIdentifier");
    if (identifier == found.infoDictionary.end() || !identifier->second.text()) {
        fuzz::require(!found.identifier, "a bundle without a text identifier has none");
    } else {
        fuzz::require(found.identifier == *identifier->second.text(), "the identifier is the list's own");
    }
    return 0;
}
