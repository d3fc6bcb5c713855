#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "service/AudioStatus.h"

namespace tessaly {

/// The envelope of a status answer: the helper fills exactly one of the two members.
struct StatusReply {
    std::optional<AudioStatus> status;
    std::optional<std::string> error;

    /// Compact JSON, absent members left out.
    std::string encode() const;
    /// Throws DecodingError for anything that is not a well-formed reply.
    static StatusReply decode(std::string_view bytes);
};

}  // namespace tessaly
