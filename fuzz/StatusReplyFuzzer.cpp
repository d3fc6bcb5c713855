// A status reply as a peer on the status port may send it: decoding either yields a reply that
// encodes back to itself and can be checked and shown, or throws one of the system's errors.

#include "FuzzInput.h"
#include "foundation/Error.h"
#include "service/StatusReply.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StatusReply reply;
    try {
        reply = StatusReply::decode(fuzz::bytesOf(data, size));
    } catch (const Error&) {
        return 0;
    }
    const StatusReply again = StatusReply::decode(reply.encode());
    fuzz::require(again.status == reply.status && again.error == reply.error,
                  "a decoded reply encodes back to itself");
    if (!reply.status) return 0;
    try {
        reply.status->validate();
    } catch (const Error&) {
        return 0;
    }
    // The helper's `status` command shows a status that passed the check.
    fuzz::require(!reply.status->summary().empty(), "a healthy status has a summary");
    return 0;
}
