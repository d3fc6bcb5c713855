#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tessaly {

/// The bytes of a message-port exchange on a Unix-domain socket, one exchange per connection:
///   request  the message id: 4 bytes, signed, big-endian. Requests carry no data.
///   reply    1 byte 0 for "no reply"; or 1 byte 1, the length (4 bytes, unsigned, big-endian, at
///            most maxReplySize) and that many bytes of reply data.
namespace MessagePortFrame {

/// The bytes of a whole request.
inline constexpr std::size_t requestSize = 4;
/// The first byte of a reply: whether data follows.
inline constexpr unsigned char noReplyMarker = 0;
inline constexpr unsigned char replyMarker = 1;
/// The bytes of a reply's length.
inline constexpr std::size_t lengthSize = 4;
/// The largest reply either side accepts, so that a confused peer cannot make the other allocate
/// without bound.
inline constexpr std::size_t maxReplySize = 1024 * 1024;

/// The request for `messageID`.
std::array<unsigned char, requestSize> encodeRequest(std::int32_t messageID);
/// The message id of the request that starts `received`; nothing while fewer than requestSize bytes
/// have arrived. Any bytes after the request are not part of it.
std::optional<std::int32_t> decodeRequest(std::span<const unsigned char> received);
/// The reply frame for the callout's answer, or for no answer.
std::string encodeReply(const std::optional<std::string>& reply);
/// A reply's length from its lengthSize bytes.
std::uint32_t decodeLength(std::span<const unsigned char, lengthSize> bytes);

}  // namespace MessagePortFrame

}  // namespace tessaly
