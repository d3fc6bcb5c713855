#pragma once

#include <string>
#include <string_view>

namespace tessaly {

/// Reading bytes that should be UTF-8 text, as the platform's string decoding does.
namespace Utf8 {

/// The bytes as text: every byte that does not start a well-formed sequence becomes U+FFFD.
std::string repaired(std::string_view bytes);

/// Well-formed `text` without white space and line ends (as Unicode counts them) at either end.
std::string trimmed(std::string_view text);

}  // namespace Utf8

}  // namespace tessaly
