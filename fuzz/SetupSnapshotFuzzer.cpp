// The setup status record, as `setup-status --json` prints it and a script may feed it back:
// decoding either yields a snapshot that writes back to itself and that the setup window can
// show, or throws one of the system's errors.

#include "FuzzInput.h"
#include "foundation/Error.h"
#include "foundation/Json.h"
#include "setup/SetupSnapshot.h"
#include "setup/SetupWindowState.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetupSnapshot snapshot;
    try {
        const Json::Value value = Json::parse(fuzz::bytesOf(data, size));
        snapshot = SetupSnapshot::fromJson(Json::ObjectReader(value));
    } catch (const Error&) {
        return 0;
    }
    const Json::Value written = Json::parse(Json::writePretty(snapshot.toJson()));
    fuzz::require(SetupSnapshot::fromJson(Json::ObjectReader(written)) == snapshot,
                  "a decoded snapshot writes back to itself");
    // The window draws whatever snapshot it is given, healthy or not.
    SetupWindowState::derive(snapshot, false);
    SetupWindowState::derive(snapshot, true);
    return 0;
}
