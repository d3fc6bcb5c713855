#pragma once

#include <cstdio>
#include <string>

namespace tessaly {

/// A level from 0 to 1 as the session's words say it: "40 %".
inline std::string percent(double level) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f %%", level * 100);
    return text;
}

}  // namespace tessaly
