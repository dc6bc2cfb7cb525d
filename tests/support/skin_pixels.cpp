#include "support/skin_pixels.h"

#include <map>
#include <string>
#include <vector>

namespace td_test {
namespace {

constexpr int kColours = 16;
constexpr BYTE kEscape = 0, kEndOfLine = 0, kEndOfBitmap = 1, kDelta = 2;

struct SkinImage {
    LONG width = 0, height = 0;
    std::vector<COLORREF> pixels; // top row first
};

// BI_RLE4 as its definition reads. Every pixel must be written exactly
// once: a pixel left out would show whatever lies under the drawing.
SkinImage Decode(const BITMAPINFOHEADER* h) {
    if (!h || h->biCompression != BI_RLE4 || h->biWidth <= 0 || h->biHeight <= 0) return {};
    const LONG width = h->biWidth, height = h->biHeight;
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(h) + h->biSize);
    const BYTE* p = reinterpret_cast<const BYTE*>(table + kColours);
    const BYTE* end = p + h->biSizeImage;
    std::vector<int> index(size_t(width) * height, -1);
    LONG x = 0, row = 0; // rows from the bottom, as stored
    bool whole = true, ended = false;
    auto put = [&](int colour) {
        if (x >= width || row >= height || index[size_t(row) * width + x] >= 0)
            whole = false;
        else
            index[size_t(row) * width + x] = colour;
        x++;
    };
    auto nibble = [](const BYTE* bytes, int i) {
        return i % 2 ? bytes[i / 2] & 0x0F : bytes[i / 2] >> 4;
    };
    while (!ended && whole && end - p >= 2) {
        BYTE count = p[0], code = p[1];
        p += 2;
        if (count != kEscape) {
            for (int i = 0; i < count; i++) put(nibble(&code, i % 2));
        } else if (code == kEndOfLine) {
            x = 0;
            row++;
        } else if (code == kEndOfBitmap) {
            ended = true;
        } else if (code == kDelta) {
            whole = false; // the skin never skips pixels
        } else {
            int bytes = (code + 1) / 2;
            bytes += bytes % 2;
            if (end - p < bytes) break;
            for (int i = 0; i < code; i++) put(nibble(p, i));
            p += bytes;
        }
    }
    SkinImage image;
    for (int i : index) whole = whole && i >= 0;
    if (!ended || !whole) return image;
    image.width = width;
    image.height = height;
    for (LONG y = height - 1; y >= 0; y--)
        for (LONG col = 0; col < width; col++) {
            const RGBQUAD& c = table[index[size_t(y) * width + col]];
            image.pixels.push_back(RGB(c.rgbRed, c.rgbGreen, c.rgbBlue));
        }
    return image;
}

} // namespace

COLORREF SkinPixel(const char* name, int x, int y) {
    static std::map<std::string, SkinImage> decoded;
    auto found = decoded.find(name);
    if (found == decoded.end()) {
        HMODULE module = GetModuleHandleA(nullptr);
        HRSRC resource = FindResourceA(module, name, RT_BITMAP);
        HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
        found =
            decoded
                .emplace(name,
                         Decode(loaded ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded))
                                       : nullptr))
                .first;
    }
    const SkinImage& s = found->second;
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return CLR_INVALID;
    return s.pixels[size_t(y) * s.width + x];
}

} // namespace td_test
