#pragma once

#include <cstdint>

namespace tessaly {

/// The requests of the status port; the message id on the wire is the position plus one.
enum class ServiceRequest : std::int32_t { status = 1, stop = 2, flush = 3 };

}  // namespace tessaly
