// The Objective-C tap description on Linux: a stand-in Core Foundation object that carries the
// settings. On a Mac, MacTapDescription.mm makes and reads the real CATapDescription instead.

#include "mac/MacTapDescription.h"
#include "mac/standin/StandinObject.h"
#include "mac/standin/StandinRoutes.h"

namespace tessaly::MacTapDescription {

namespace {

struct TapDescriptionObject : MacStandin::Object {
    explicit TapDescriptionObject(CATapDescription settings)
        : Object(MacStandin::tapDescriptionType), description(std::move(settings)) {}
    bool equals(const Object& other) const override {
        return description == static_cast<const TapDescriptionObject&>(other).description;
    }
    CFHashCode hash() const override { return description.processes.size(); }
    CATapDescription description;
};

}  // namespace

CFReference create(const CATapDescription& description) {
    auto object = new TapDescriptionObject(description);
    MacStandin::made(object);
    return CFReference::adopt(static_cast<const MacStandin::Object*>(object));
}

std::optional<CATapDescription> read(CFTypeRef object) {
    auto tap = MacStandin::as<TapDescriptionObject>(object, MacStandin::tapDescriptionType);
    return tap == nullptr ? std::nullopt : std::optional(tap->description);
}

OSStatus createProcessTap(const CATapDescription& description, AudioObjectID& outTapID) {
    CoreAudio* audio = MacStandin::routedCoreAudio();
    if (audio == nullptr) return static_cast<OSStatus>(fourCharCode("stop"));
    // The object the Objective-C call would take, made and given back as there.
    CFReference object = create(description);
    return audio->AudioHardwareCreateProcessTap(*read(object.get()), outTapID);
}

}  // namespace tessaly::MacTapDescription
