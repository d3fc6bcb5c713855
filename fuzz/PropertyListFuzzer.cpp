// Property lists from outside: agent definitions, the legacy agent, Info.plist and login-item
// records, XML or binary. Reading either yields a value that the writers turn into bytes that read
// back to the same value, or throws one of the system's errors.

#include <optional>
#include <stdexcept>

#include "FuzzInput.h"
#include "foundation/Error.h"
#include "values/PropertyList.h"

using namespace tessaly;

namespace {

// Written bytes must read back to a value that writes the very same bytes (comparing the bytes
// rather than the values keeps a NaN, which equals nothing, from looking like a change).
template <typename Write>
void requireRoundTrip(const CFValue& value, Write write) {
    std::string written;
    try {
        written = write(value);
    } catch (const std::invalid_argument&) {
        return;  // a text holding a NUL has no property-list form
    }
    fuzz::require(write(PropertyList::parse(written)) == written,
                  "a property list the system writes reads back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<CFValue> value;
    try {
        value = PropertyList::parse(fuzz::bytesOf(data, size));
    } catch (const Error&) {
        return 0;
    }
    requireRoundTrip(*value, PropertyList::writeXml);
    requireRoundTrip(*value, PropertyList::writeBinary);
    return 0;
}
