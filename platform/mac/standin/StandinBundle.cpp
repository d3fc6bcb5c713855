// The main bundle on Linux: the bundle a test routes, as Core Foundation objects that the bundle
// keeps (Get functions lend them) until the route changes.

#include <algorithm>
#include <cstring>
#include <string>

#include "mac/CFConversion.h"
#include "mac/CFReference.h"
#include "mac/standin/MacStandin.h"
#include "mac/standin/StandinObject.h"
#include "ports/ProcessEnvironment.h"

using tessaly::CFReference;
namespace standin = tessaly::MacStandin;

struct __CFURL : standin::Object {
    explicit __CFURL(std::string filePath) : Object(standin::urlType), path(std::move(filePath)) {}
    std::string path;
};

struct __CFBundle : standin::Object {
    __CFBundle() : Object(standin::bundleType) {}
    void dropContents() override {
        identifier = {};
        info = {};
    }
    CFReference identifier;
    std::string path;
    CFReference info;
};

namespace {

CFReference mainBundle;

}  // namespace

namespace tessaly::MacStandin {

void routeMainBundle(const MainBundle* bundle) {
    mainBundle = {};
    if (bundle == nullptr) return;
    auto object = new __CFBundle();
    made(object);
    if (bundle->identifier) object->identifier = CFConversion::create(CFValue(*bundle->identifier), nullptr);
    object->path = bundle->path;
    object->info = CFConversion::create(CFValue(bundle->infoDictionary), nullptr);
    mainBundle = CFReference::adopt(object);
}

}  // namespace tessaly::MacStandin

extern "C" {

CFBundleRef CFBundleGetMainBundle(void) {
    return const_cast<CFBundleRef>(mainBundle.as<const __CFBundle*>());
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) {
    return bundle->identifier.as<CFStringRef>();
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
    auto url = new __CFURL(bundle->path);
    standin::made(url);
    return url;
}

CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) {
    return bundle->info.as<CFDictionaryRef>();
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8* buffer, CFIndex maxBufLen) {
    const std::string& path = url->path;
    if (maxBufLen <= 0 || path.size() >= static_cast<std::size_t>(maxBufLen)) return false;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return true;
}

}  // extern "C"
