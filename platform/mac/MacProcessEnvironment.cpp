#include "mac/MacProcessEnvironment.h"

#include <CoreFoundation/CoreFoundation.h>
#include <unistd.h>

#include <array>
#include <vector>

#include "mac/CFConversion.h"
#include "mac/CFReference.h"

namespace tessaly {

namespace {

// Longest file-system path a Mac hands out (PATH_MAX there).
constexpr std::size_t longestPath = 1024;

std::optional<std::string> textOf(CFTypeRef object) {
    auto value = CFConversion::value(object, nullptr);
    if (!value || value->text() == nullptr) return std::nullopt;
    return *value->text();
}

std::string pathOf(CFBundleRef bundle) {
    const CFReference url = CFReference::adopt(CFBundleCopyBundleURL(bundle));
    std::array<UInt8, longestPath> path{};
    if (!url || !CFURLGetFileSystemRepresentation(url.as<CFURLRef>(), true, path.data(), path.size()))
        return {};
    return reinterpret_cast<const char*>(path.data());
}

// Each entry crosses on its own, so that one of a kind CFValue has not (a date) leaves only itself out.
CFDictionary infoOf(CFBundleRef bundle) {
    CFDictionary result;
    CFDictionaryRef info = CFBundleGetInfoDictionary(bundle);
    if (info == nullptr) return result;
    const auto count = static_cast<std::size_t>(CFDictionaryGetCount(info));
    std::vector<const void*> keys(count);
    std::vector<const void*> values(count);
    CFDictionaryGetKeysAndValues(info, keys.data(), values.data());
    for (std::size_t index = 0; index < count; ++index) {
        auto key = textOf(keys[index]);
        auto value = CFConversion::value(values[index], nullptr);
        if (key && value) result.insert_or_assign(std::move(*key), std::move(*value));
    }
    return result;
}

}  // namespace

MainBundle MacProcessEnvironment::mainBundle() const {
    MainBundle result;
    CFBundleRef bundle = CFBundleGetMainBundle();
    if (bundle == nullptr) return result;
    result.identifier = textOf(CFBundleGetIdentifier(bundle));
    result.path = pathOf(bundle);
    result.infoDictionary = infoOf(bundle);
    return result;
}

ProcessID MacProcessEnvironment::processID() const {
    return getpid();
}

ProcessID MacProcessEnvironment::parentProcessID() const {
    return getppid();
}

std::uint32_t MacProcessEnvironment::userID() const {
    return getuid();
}

}  // namespace tessaly
