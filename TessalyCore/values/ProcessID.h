#pragma once
// Port value type: a process identifier (pid_t), shared by the ports that name processes.

#include <cstdint>

namespace tessaly {

/// A process identifier, 32-bit signed like pid_t.
using ProcessID = std::int32_t;

}  // namespace tessaly
