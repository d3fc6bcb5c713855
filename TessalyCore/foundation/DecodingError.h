#pragma once

#include "foundation/Error.h"

namespace tessaly {

/// JSON that is malformed or does not have the shape of the record being decoded.
class DecodingError : public Error {
public:
    /// `detail` names what was wrong, e.g. "the member “volume” is missing".
    explicit DecodingError(const std::string& detail)
        : Error("The data couldn\xE2\x80\x99t be read because it isn\xE2\x80\x99t in the correct format: " +
                detail + ".") {}
};

}  // namespace tessaly
