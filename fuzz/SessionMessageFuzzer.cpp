// The bytes a client sends to a simulated session: each message is one request, read field by field
// and answered from the session's world. Whatever the bytes, the session refuses them with a
// DecodingError or answers them; a value it reads encodes to bytes that read back as the same value.

#include <memory>

#include "FuzzInput.h"
#include "SessionPeer.h"
#include "SessionWorld.h"
#include "foundation/DecodingError.h"
#include "posix/AsioRunLoop.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::bytesOf(data, size);
    try {
        SessionFrame::Reader reader(bytes);
        const CFValue value = reader.value();
        // Compared as bytes: a number that is NaN is a value, but never equal to itself.
        const std::string encoded = SessionFrame::Writer().value(value).bytes();
        SessionFrame::Reader again(encoded);
        fuzz::require(SessionFrame::Writer().value(again.value()).bytes() == encoded,
                      "a value read encodes to bytes that read as the same value");
    } catch (const DecodingError&) {
    }

    // One world for every input, as a session serves many clients, kept for the life of the run;
    // without latency every call is answered inside receive().
    static AsioRunLoop loop;
    static SessionWorld* shared = [] {
        auto* made = new SessionWorld(loop, fuzz::scratchFolder());
        made->latency = {0, 0};
        return made;
    }();
    std::string dropped;
    auto peer = std::make_shared<SessionPeer>(
        *shared, loop, [](std::string) {}, [&dropped](const std::string& reason) { dropped = reason; },
        // The user's command line writes files and stops the session: not for arbitrary bytes.
        [](const auto&, auto done) { done(1, "refused"); });
    try {
        peer->receive(bytes);
    } catch (const DecodingError&) {
    }
    peer->release();
    return 0;
}
