// The bytes a client sends to the status port's server: the server takes the message id from
// exactly the first four bytes, and answers in a frame that states its own length.

#include <algorithm>
#include <span>

#include "FuzzInput.h"
#include "posix/MessagePortFrame.h"

using namespace tessaly;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> received(data, size);
    const auto messageID = MessagePortFrame::decodeRequest(received);
    fuzz::require(messageID.has_value() == (size >= MessagePortFrame::requestSize),
                  "a request is decoded exactly when all its bytes arrived");
    if (!messageID) return 0;
    const auto request = MessagePortFrame::encodeRequest(*messageID);
    fuzz::require(std::equal(request.begin(), request.end(), data),
                  "a message id encodes to the bytes it came from");

    const std::string reply(fuzz::bytesOf(data, size));
    const std::string frame = MessagePortFrame::encodeReply(reply);
    const auto* lengthBytes = reinterpret_cast<const unsigned char*>(frame.data() + 1);
    fuzz::require(
        frame.size() == 1 + MessagePortFrame::lengthSize + size &&
            static_cast<unsigned char>(frame[0]) == MessagePortFrame::replyMarker &&
            MessagePortFrame::decodeLength(std::span<const unsigned char, MessagePortFrame::lengthSize>(
                lengthBytes, MessagePortFrame::lengthSize)) == size &&
            frame.substr(1 + MessagePortFrame::lengthSize) == reply,
        "a reply frame states its length and carries the reply");
    return 0;
}
