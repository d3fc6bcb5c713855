#pragma once
// What every fuzz target shares: the input as bytes, the one way to report a broken property, and
// a private folder for targets whose decoder reads a file.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/FileSystem.h"

namespace tessaly::fuzz {

inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// Stops the run with `what` when a property every input must keep does not hold.
inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "Broken property: %s\n", what);
    std::abort();
}

/// A folder of this process's own under the temporary folder, made once.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        const std::string path = "/tmp/tessaly-fuzz-" + std::to_string(::getpid());
        FileSystem::createDirectories(path, 0700);
        // Readers that refuse paths through links must not see one on the way here.
        return FileSystem::resolvingSymbolicLinks(path);
    }();
    return folder;
}

/// Replaces the file at `path` with `bytes`, writing it in place (the decoders re-read it whole).
inline void putFile(const std::string& path, std::string_view bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    require(file != nullptr, "the scratch file can be written");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

}  // namespace tessaly::fuzz
