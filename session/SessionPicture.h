#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SessionWorld.h"

namespace tessaly {

/// A picture of what the user heard: one strip per preview, from its opening to its closing (or
/// now), with the heard level drawn in green and the level the helper remembered when the preview
/// opened drawn in orange. Each strip is labelled with the preview's number and its length in ms.
namespace SessionPicture {

/// An RGB image, row by row.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // 3 bytes a pixel
};

/// Draws the world's timeline.
Image draw(const SessionWorld& world);
/// The PNG file of an image (8-bit RGB, no interlace, zlib-compressed).
std::string encodePNG(const Image& image);
/// Draws the world's timeline and writes it to `path` atomically; throws FileError on failure.
void write(const SessionWorld& world, const std::string& path);

}  // namespace SessionPicture

}  // namespace tessaly
