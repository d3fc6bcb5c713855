#include "foundation/Uuid.h"

#include <uuid/uuid.h>

#include <algorithm>

namespace tessaly {

Uuid Uuid::random() {
    uuid_t raw;
    uuid_generate_random(raw);
    std::array<std::uint8_t, 16> bytes;
    std::copy(std::begin(raw), std::end(raw), bytes.begin());
    return Uuid(bytes);
}

std::string Uuid::text() const {
    uuid_t raw;
    std::copy(bytes_.begin(), bytes_.end(), std::begin(raw));
    char buffer[37];
    uuid_unparse_upper(raw, buffer);
    return std::string(buffer, 36);
}

}  // namespace tessaly
