#pragma once

#include <cmath>

namespace tessaly {

/// Whether two volume readings are the same: exactly equal, or both non-zero and at most 1e-6
/// apart. Players keep levels with less precision than they are given, but a reading of exactly
/// 0 means muted and only ever equals 0.
inline bool sameVolume(double a, double b) {
    if (a == b) return true;
    return a != 0 && b != 0 && std::abs(a - b) <= 1e-6;
}

}  // namespace tessaly
