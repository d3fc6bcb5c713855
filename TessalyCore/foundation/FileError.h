#pragma once

#include <string>

#include "foundation/Error.h"

namespace tessaly {

/// A failed file-system call. The code tells a missing file apart from every other failure,
/// because callers treat a missing preference file as "nothing stored yet".
class FileError : public Error {
public:
    enum class Code { noSuchFile, other };

    /// Builds the error from a failed call's errno: "<action> “<path>” failed: <reason>."
    FileError(const std::string& action, const std::string& path, int errorNumber);

    Code code() const { return code_; }
    int errorNumber() const { return errorNumber_; }

private:
    Code code_;
    int errorNumber_;
};

}  // namespace tessaly
