#include "posix/MessagePortFrame.h"

namespace tessaly::MessagePortFrame {

namespace {

std::array<unsigned char, 4> bigEndian(std::uint32_t value) {
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

std::uint32_t fromBigEndian(std::span<const unsigned char, 4> bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

std::array<unsigned char, requestSize> encodeRequest(std::int32_t messageID) {
    return bigEndian(static_cast<std::uint32_t>(messageID));
}

std::optional<std::int32_t> decodeRequest(std::span<const unsigned char> received) {
    if (received.size() < requestSize) return std::nullopt;
    return static_cast<std::int32_t>(fromBigEndian(received.first<requestSize>()));
}

std::string encodeReply(const std::optional<std::string>& reply) {
    if (!reply) return std::string(1, static_cast<char>(noReplyMarker));
    const auto length = bigEndian(static_cast<std::uint32_t>(reply->size()));
    std::string frame(1, static_cast<char>(replyMarker));
    frame.append(length.begin(), length.end());
    frame += *reply;
    return frame;
}

std::uint32_t decodeLength(std::span<const unsigned char, lengthSize> bytes) {
    return fromBigEndian(bytes);
}

}  // namespace tessaly::MessagePortFrame
