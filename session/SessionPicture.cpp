#include "SessionPicture.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "foundation/FileSystem.h"
#include "foundation/TessalyError.h"

namespace tessaly::SessionPicture {

namespace {

constexpr int width = 960;
constexpr int stripHeight = 110;
constexpr int margin = 24;
constexpr int plotTop = 14;
constexpr int plotHeight = 80;

using Colour = std::array<std::uint8_t, 3>;
constexpr Colour grid{220, 220, 220};
constexpr Colour ink{60, 60, 60};
constexpr Colour heardColour{30, 150, 60};
constexpr Colour rememberedColour{235, 130, 20};

// Digits and "ms" in a 3 by 5 font, one row per entry, the high bit on the left.
constexpr std::array<std::array<std::uint8_t, 5>, 12> glyphs{{
    {7, 5, 5, 5, 7},
    {2, 6, 2, 2, 7},
    {7, 1, 7, 4, 7},
    {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7},
    {7, 1, 1, 1, 1},
    {7, 5, 7, 5, 7},
    {7, 5, 7, 1, 7},
    {0, 0, 7, 7, 5},
    {0, 3, 6, 3, 6},
}};

void put(Image& image, int x, int y, const Colour& colour) {
    if (x < 0 || y < 0 || x >= image.width || y >= image.height) return;
    std::copy(colour.begin(), colour.end(),
              image.pixels.begin() + (static_cast<std::ptrdiff_t>(y) * image.width + x) * 3);
}

void text(Image& image, int x, int y, const std::string& characters) {
    for (char character : characters) {
        int glyph = -1;
        if (character >= '0' && character <= '9') glyph = character - '0';
        if (character == 'm') glyph = 10;
        if (character == 's') glyph = 11;
        for (int row = 0; glyph >= 0 && row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if (!(glyphs[static_cast<std::size_t>(glyph)][static_cast<std::size_t>(row)] & (4 >> column)))
                    continue;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) put(image, x + column * 2 + dx, y + row * 2 + dy, ink);
            }
        }
        x += 8;
    }
}

void chunk(std::string& png, const char* type, const std::string& data) {
    auto u32 = [&png](std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<char>(value >> shift));
    };
    u32(static_cast<std::uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    png += typed;
    u32(static_cast<std::uint32_t>(
        ::crc32(0L, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

}  // namespace

Image draw(const SessionWorld& world) {
    const auto& lives = world.lives();
    Image image;
    image.width = width;
    image.height = std::max<int>(1, static_cast<int>(lives.size())) * stripHeight;
    image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 3, 255);
    int strip = 0;
    const int plotWidth = width - 2 * margin - 100;
    for (const auto& [number, life] : lives) {
        const int top = strip++ * stripHeight + plotTop;
        const double start = life.opened;
        const double end = std::max(life.closed.value_or(world.now()), start + 1e-3);
        auto xOf = [&](double time) {
            return margin + 40 + static_cast<int>(std::lround((time - start) / (end - start) * plotWidth));
        };
        auto yOf = [&](double level) {
            return top + plotHeight - static_cast<int>(std::lround(level * plotHeight));
        };
        for (int x = xOf(start); x <= xOf(end); ++x) {
            put(image, x, yOf(0), grid);
            put(image, x, yOf(1), grid);
        }
        for (int y = yOf(1); y <= yOf(0); ++y) put(image, xOf(start), y, grid);
        text(image, margin, top + plotHeight / 2 - 5, std::to_string(number));
        text(image, xOf(end) + 8, yOf(0) - 10,
             std::to_string(static_cast<long>(std::lround((end - start) * 1000))) + "ms");
        if (life.remembered) {
            for (int x = xOf(start); x <= xOf(end); x += 1) {
                if ((x / 6) % 2 == 0) {
                    put(image, x, yOf(*life.remembered), rememberedColour);
                    put(image, x, yOf(*life.remembered) + 1, rememberedColour);
                }
            }
        }
        // The heard level as a step line: each sample holds until the next one of this preview.
        double level = 0;
        double from = start;
        auto drawSpan = [&](double until) {
            for (int x = xOf(from); x <= xOf(std::min(until, end)); ++x) {
                put(image, x, yOf(level), heardColour);
                put(image, x, yOf(level) - 1, heardColour);
            }
        };
        for (const auto& sample : world.timeline()) {
            if (sample.preview != number || sample.time < start || sample.time > end) continue;
            drawSpan(sample.time);
            const int fromY = yOf(level);
            const int toY = yOf(sample.level);
            for (int y = std::min(fromY, toY); y <= std::max(fromY, toY); ++y)
                put(image, xOf(sample.time), y, heardColour);
            level = sample.level;
            from = sample.time;
        }
        drawSpan(end);
    }
    return image;
}

std::string encodePNG(const Image& image) {
    std::string raw;
    raw.reserve(static_cast<std::size_t>(image.height) * (image.width * 3 + 1));
    for (int y = 0; y < image.height; ++y) {
        raw.push_back(0);  // no filter
        const auto row = image.pixels.begin() + static_cast<std::ptrdiff_t>(y) * image.width * 3;
        raw.append(row, row + image.width * 3);
    }
    uLongf size = ::compressBound(static_cast<uLong>(raw.size()));
    std::string compressed(size, '\0');
    if (::compress2(reinterpret_cast<Bytef*>(compressed.data()), &size,
                    reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                    Z_BEST_COMPRESSION) != Z_OK)
        throw TessalyError("The picture could not be compressed.");
    compressed.resize(size);

    std::string header;
    for (int value : {image.width, image.height}) {
        for (int shift = 24; shift >= 0; shift -= 8) header.push_back(static_cast<char>(value >> shift));
    }
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter set, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", compressed);
    chunk(png, "IEND", "");
    return png;
}

void write(const SessionWorld& world, const std::string& path) {
    FileSystem::writeAtomically(path, encodePNG(draw(world)), 0644);
}

}  // namespace tessaly::SessionPicture
