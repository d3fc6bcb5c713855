// The mute guard's record inside a status reply: decoding either yields a record that writes
// back to itself or throws one of the system's errors.

#include "FuzzInput.h"
#include "foundation/Error.h"
#include "foundation/Json.h"
#include "service/MuteStatus.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MuteStatus status;
    try {
        status = MuteStatus::fromJson(Json::ObjectReader(Json::parse(fuzz::bytesOf(data, size))));
    } catch (const Error&) {
        return 0;
    }
    const Json::Value written = Json::parse(Json::writeCompact(status.toJson()));
    fuzz::require(MuteStatus::fromJson(Json::ObjectReader(written)) == status,
                  "a decoded guard status writes back to itself");
    return 0;
}
