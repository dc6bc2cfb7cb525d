// skinc: the skin compiler. Reads the readable skin sources (palettes, pixel-art
// glyphs and fonts, and small drawing programs) and writes every bitmap of the
// skin as a 4-bit BMP (BI_RLE4) with a full 16-entry colour table, and the
// program's icon as an ICO of 4-bit images.
//
//   skinc OUTDIR SOURCE...
//
// Art that does not fit the skin table (size, cell layout, palette size, pixels
// outside their cell, a missing character or bitmap) is refused with the file
// and line at fault and a non-zero exit, so nothing drifts silently. The
// source language is described in res/skin/README.md.
#include "res/skin_table.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kTransparent = '.';
constexpr int kMaxCallDepth = 32;
constexpr int kBayerSize = 4;
constexpr int kBayer[kBayerSize][kBayerSize] = {
    {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

struct Line {
    std::string file;
    int number = 0;
    std::string text;
};

[[noreturn]] void Fail(const Line& at, const std::string& message) {
    std::fprintf(stderr, "%s:%d: error: %s\n", at.file.c_str(), at.number, message.c_str());
    std::exit(1);
}

[[noreturn]] void FailPlain(const std::string& message) {
    std::fprintf(stderr, "skinc: error: %s\n", message.c_str());
    std::exit(1);
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// A '#' at the start of a line or after a blank begins a comment, unless it is
// inside a quoted string.
std::string StripComment(const std::string& s) {
    bool quoted = false;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '"') quoted = !quoted;
        if (!quoted && s[i] == '#' && (i == 0 || s[i - 1] == ' ' || s[i - 1] == '\t'))
            return s.substr(0, i);
    }
    return s;
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string word;
    while (in >> word) out.push_back(word);
    return out;
}

std::vector<std::string> Tokens(const Line& line) {
    return Split(StripComment(line.text));
}

int ParseInt(const Line& at, const std::string& s) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < -100000 || v > 100000)
        Fail(at, "'" + s + "' is not a number");
    return (int)v;
}

void ParseSize(const Line& at, const std::string& s, int* w, int* h) {
    size_t x = s.find('x');
    if (x == std::string::npos) Fail(at, "'" + s + "' is not a size like 20x20");
    *w = ParseInt(at, s.substr(0, x));
    *h = ParseInt(at, s.substr(x + 1));
    if (*w < 0 || *h < 0) Fail(at, "a size cannot be negative");
}

struct Colour {
    char key;
    std::string name;
    uint8_t r, g, b;
};

struct Palette {
    Line where;
    std::vector<Colour> colours;
};

struct Glyph {
    Line where;
    int width = 0;
    std::vector<std::string> rows;
};

struct Font {
    Line where;
    int cellWidth = 0; // 0: each glyph has its own width
    int height = 0;
    std::map<int, Glyph> glyphs;
};

struct Define {
    Line where;
    std::vector<std::string> params;
    std::vector<Line> body;
};

struct BitmapSource {
    Line where;
    std::string name;
    int width = 0, height = 0, cellWidth = 0, cellHeight = 0;
    std::string palette;
    std::vector<Line> body;
};

struct Skin {
    std::map<std::string, Palette> palettes;
    std::map<std::string, Glyph> glyphs;
    std::map<std::string, Font> fonts;
    std::map<std::string, Define> defines;
    std::vector<BitmapSource> bitmaps;
    std::vector<BitmapSource> iconImages;
};

bool OpensBlock(const std::string& word) {
    return word == "pixels";
}

// Collects the lines of a block up to its matching 'end'; 'pixels' blocks nest.
std::vector<Line> TakeBody(const std::vector<Line>& lines, size_t* i, const Line& opener) {
    std::vector<Line> body;
    int depth = 0;
    bool inPixels = false;
    for (; *i < lines.size(); ++*i) {
        const Line& l = lines[*i];
        std::string t = Trim(l.text);
        if (t == "end") {
            if (depth == 0) {
                ++*i;
                return body;
            }
            depth--;
            inPixels = false;
        } else if (!inPixels) {
            std::vector<std::string> w = Tokens(l);
            if (!w.empty() && OpensBlock(w[0])) {
                depth++;
                inPixels = true;
            }
        }
        body.push_back(l);
    }
    Fail(opener, "this block has no 'end'");
}

std::vector<std::string> PixelRows(const std::vector<Line>& body, const Line& opener) {
    std::vector<std::string> rows;
    for (const Line& l : body) {
        std::string t = Trim(l.text);
        if (t.empty()) continue;
        if (t.find_first_of(" \t") != std::string::npos)
            Fail(l, "a pixel row cannot contain blanks");
        if (!rows.empty() && t.size() != rows[0].size())
            Fail(l, "pixel row is " + std::to_string(t.size()) + " wide, the rows above are " +
                        std::to_string(rows[0].size()));
        rows.push_back(t);
    }
    if (rows.empty()) Fail(opener, "no pixel rows");
    return rows;
}

void ParsePalette(Skin& skin, const Line& at, const std::vector<std::string>& w,
                  const std::vector<Line>& body) {
    if (w.size() != 2) Fail(at, "expected: palette NAME");
    Palette p;
    p.where = at;
    for (const Line& l : body) {
        std::vector<std::string> t = Tokens(l);
        if (t.empty()) continue;
        if (t.size() != 3 || t[0].size() != 1 || t[1].size() != 6)
            Fail(l, "expected: KEY RRGGBB NAME");
        char key = t[0][0];
        if (key == kTransparent) Fail(l, "'.' is transparent and cannot be a colour key");
        unsigned rgb = 0;
        char* end = nullptr;
        rgb = (unsigned)std::strtoul(t[1].c_str(), &end, 16);
        if (*end != '\0') Fail(l, "'" + t[1] + "' is not a colour like 1a2b3c");
        for (const Colour& c : p.colours) {
            if (c.key == key) Fail(l, std::string("colour key '") + key + "' is used twice");
            if (c.name == t[2]) Fail(l, "colour name '" + t[2] + "' is used twice");
        }
        p.colours.push_back({key, t[2], (uint8_t)(rgb >> 16), (uint8_t)(rgb >> 8), (uint8_t)rgb});
    }
    if ((int)p.colours.size() != kSkinColours)
        Fail(at, "palette " + w[1] + " has " + std::to_string(p.colours.size()) +
                     " colours; a skin palette has exactly " + std::to_string(kSkinColours));
    if (!skin.palettes.emplace(w[1], p).second) Fail(at, "palette " + w[1] + " is defined twice");
}

void ParseGlyph(Skin& skin, const Line& at, const std::vector<std::string>& w,
                const std::vector<Line>& body) {
    if (w.size() != 2) Fail(at, "expected: glyph NAME");
    Glyph g;
    g.where = at;
    g.rows = PixelRows(body, at);
    g.width = (int)g.rows[0].size();
    if (!skin.glyphs.emplace(w[1], g).second) Fail(at, "glyph " + w[1] + " is defined twice");
}

// A font is a sheet: a 'chars' line names the characters, then come exactly
// height rows holding their pixels side by side, separated by blanks.
void ParseFont(Skin& skin, const Line& at, const std::vector<std::string>& w,
               const std::vector<Line>& body) {
    Font f;
    f.where = at;
    if (w.size() == 3) {
        ParseSize(at, w[2], &f.cellWidth, &f.height);
    } else if (w.size() == 4 && w[2] == "height") {
        f.height = ParseInt(at, w[3]);
    } else {
        Fail(at, "expected: font NAME WxH  or  font NAME height H");
    }
    if (f.height <= 0) Fail(at, "a font needs a height");
    size_t i = 0;
    while (i < body.size()) {
        const Line& header = body[i];
        std::string t = Trim(header.text);
        if (t.empty() || t[0] == '#') {
            i++;
            continue;
        }
        std::vector<std::string> names = Split(t);
        if (names[0] != "chars" || names.size() < 2) Fail(header, "expected: chars C C C ...");
        std::vector<int> codes;
        for (size_t k = 1; k < names.size(); k++) {
            if (names[k] == "space")
                codes.push_back(' ');
            else if (names[k].size() == 1)
                codes.push_back((unsigned char)names[k][0]);
            else
                Fail(header, "'" + names[k] + "' is not one character (write space for a blank)");
        }
        std::vector<Glyph> glyphs(codes.size());
        i++;
        for (int row = 0; row < f.height; row++, i++) {
            if (i >= body.size())
                Fail(header, "these characters need " + std::to_string(f.height) + " pixel rows");
            std::vector<std::string> cells = Split(body[i].text);
            if (cells.size() != codes.size())
                Fail(body[i], "this row holds " + std::to_string(cells.size()) +
                                  " characters, the chars line names " +
                                  std::to_string(codes.size()));
            for (size_t k = 0; k < codes.size(); k++) {
                Glyph& g = glyphs[k];
                if (row == 0) {
                    g.where = body[i];
                    g.width = (int)cells[k].size();
                    if (f.cellWidth && g.width != f.cellWidth)
                        Fail(body[i], std::string("character '") + (char)codes[k] + "' is " +
                                          std::to_string(g.width) + " wide, the font's cells " +
                                          std::to_string(f.cellWidth));
                } else if ((int)cells[k].size() != g.width) {
                    Fail(body[i], std::string("character '") + (char)codes[k] +
                                      "' changes width on this row");
                }
                g.rows.push_back(cells[k]);
            }
        }
        for (size_t k = 0; k < codes.size(); k++)
            if (!f.glyphs.emplace(codes[k], glyphs[k]).second)
                Fail(header, std::string("character '") + (char)codes[k] + "' is defined twice");
    }
    if (!skin.fonts.emplace(w[1], f).second) Fail(at, "font " + w[1] + " is defined twice");
}

void ParseBitmap(Skin& skin, const Line& at, const std::vector<std::string>& w,
                 const std::vector<Line>& body) {
    BitmapSource b;
    b.where = at;
    b.body = body;
    size_t k = 3;
    if (w.size() < 3) Fail(at, "expected: bitmap NAME WxH [cell WxH] palette NAME");
    b.name = w[1];
    ParseSize(at, w[2], &b.width, &b.height);
    b.cellWidth = b.width;
    b.cellHeight = b.height;
    if (k + 1 < w.size() && w[k] == "cell") {
        ParseSize(at, w[k + 1], &b.cellWidth, &b.cellHeight);
        k += 2;
    }
    if (k + 2 != w.size() || w[k] != "palette")
        Fail(at, "expected: bitmap NAME WxH [cell WxH] palette NAME");
    b.palette = w[k + 1];

    const SkinBitmapInfo* info = nullptr;
    for (const SkinBitmapInfo& s : kSkinBitmaps)
        if (b.name == s.name) info = &s;
    if (!info) Fail(at, b.name + " is not a bitmap of the skin");
    auto size = [](int x, int y) { return std::to_string(x) + "x" + std::to_string(y); };
    if (b.width != info->width || b.height != info->height)
        Fail(at, b.name + " must be " + size(info->width, info->height) + ", not " +
                     size(b.width, b.height));
    if (b.cellWidth != info->cellWidth || b.cellHeight != info->cellHeight)
        Fail(at, b.name + " is laid out in cells of " + size(info->cellWidth, info->cellHeight) +
                     ", not " + size(b.cellWidth, b.cellHeight));
    for (const BitmapSource& other : skin.bitmaps)
        if (other.name == b.name) Fail(at, b.name + " is defined twice");
    skin.bitmaps.push_back(b);
}

void ParseIcon(Skin& skin, const Line& at, const std::vector<std::string>& w,
               const std::vector<Line>& body) {
    BitmapSource b;
    b.where = at;
    b.body = body;
    if (w.size() != 5 || w[3] != "palette") Fail(at, "expected: icon NAME SxS palette NAME");
    b.name = w[1];
    ParseSize(at, w[2], &b.width, &b.height);
    b.cellWidth = b.width;
    b.cellHeight = b.height;
    b.palette = w[4];
    if (b.name != kSkinIconName) Fail(at, b.name + " is not the program's icon");
    bool known = false;
    for (int size : kSkinIconSizes) known = known || (b.width == size && b.height == size);
    if (!known) Fail(at, "the icon has no image of " + w[2]);
    for (const BitmapSource& other : skin.iconImages)
        if (other.width == b.width) Fail(at, "the icon's " + w[2] + " image is defined twice");
    skin.iconImages.push_back(b);
}

void ParseFile(Skin& skin, const std::string& path) {
    std::ifstream in(path);
    if (!in) FailPlain("cannot read " + path);
    std::vector<Line> lines;
    std::string text;
    for (int n = 1; std::getline(in, text); n++) lines.push_back({path, n, text});

    size_t i = 0;
    while (i < lines.size()) {
        const Line at = lines[i];
        std::vector<std::string> w = Tokens(at);
        i++;
        if (w.empty()) continue;
        const std::string& kind = w[0];
        if (kind != "palette" && kind != "glyph" && kind != "font" && kind != "define" &&
            kind != "bitmap" && kind != "icon")
            Fail(at, "expected palette, glyph, font, define, bitmap or icon, not '" + kind + "'");
        std::vector<Line> body = TakeBody(lines, &i, at);
        if (kind == "palette") ParsePalette(skin, at, w, body);
        if (kind == "glyph") ParseGlyph(skin, at, w, body);
        if (kind == "font") ParseFont(skin, at, w, body);
        if (kind == "bitmap") ParseBitmap(skin, at, w, body);
        if (kind == "icon") ParseIcon(skin, at, w, body);
        if (kind == "define") {
            if (w.size() < 2) Fail(at, "expected: define NAME [PARAM...]");
            Define d;
            d.where = at;
            d.params.assign(w.begin() + 2, w.end());
            d.body = body;
            if (!skin.defines.emplace(w[1], d).second)
                Fail(at, "define " + w[1] + " is defined twice");
        }
    }
}

// Drawing -------------------------------------------------------------------

struct Canvas {
    const BitmapSource* source;
    const Palette* palette;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> drawn; // 1 where anything was drawn
    int originX = 0, originY = 0;
    int clipLeft = 0, clipTop = 0, clipRight = 0, clipBottom = 0; // right, bottom exclusive
};

void Put(Canvas& c, const Line& at, int x, int y, int colour) {
    int ax = c.originX + x, ay = c.originY + y;
    if (ax < c.clipLeft || ay < c.clipTop || ax >= c.clipRight || ay >= c.clipBottom)
        Fail(at, "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") falls outside " +
                     (c.clipRight - c.clipLeft == c.source->width &&
                              c.clipBottom - c.clipTop == c.source->height
                          ? "the bitmap"
                          : "its cell"));
    c.pixels[(size_t)ay * c.source->width + ax] = (uint8_t)colour;
    c.drawn[(size_t)ay * c.source->width + ax] = 1;
}

int ColourByName(const Canvas& c, const Line& at, const std::string& name) {
    for (size_t i = 0; i < c.palette->colours.size(); i++)
        if (c.palette->colours[i].name == name) return (int)i;
    Fail(at, "palette " + c.source->palette + " has no colour '" + name + "'");
}

int ColourByKey(const Canvas& c, const Line& at, char key) {
    for (size_t i = 0; i < c.palette->colours.size(); i++)
        if (c.palette->colours[i].key == key) return (int)i;
    Fail(at, "palette " + c.source->palette + " has no colour key '" + std::string(1, key) + "'");
}

void Fill(Canvas& c, const Line& at, int x, int y, int w, int h, int colour) {
    if (w < 0 || h < 0) Fail(at, "a negative size");
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++) Put(c, at, x + i, y + j, colour);
}

// colour < 0: each pixel takes the palette colour its key names.
void StampRows(Canvas& c, const Line& at, const std::vector<std::string>& rows, int x, int y,
               int colour) {
    for (size_t j = 0; j < rows.size(); j++)
        for (size_t i = 0; i < rows[j].size(); i++) {
            char key = rows[j][i];
            if (key == kTransparent) continue;
            Put(c, at, x + (int)i, y + (int)j, colour >= 0 ? colour : ColourByKey(c, at, key));
        }
}

// Ordered dithering across a ramp of palette colours; t runs 0..steps-1.
int RampColour(const std::vector<int>& ramp, int t, int steps, int ax, int ay) {
    if (steps <= 1 || ramp.size() == 1) return ramp[0];
    int scaled = t * (int)(ramp.size() - 1) * 16 / (steps - 1); // in 1/16ths of a ramp step
    int segment = scaled / 16, frac = scaled % 16;
    if (segment >= (int)ramp.size() - 1) return ramp.back();
    return frac > kBayer[ay % kBayerSize][ax % kBayerSize] ? ramp[segment + 1] : ramp[segment];
}

void Need(const Line& at, const std::vector<std::string>& w, size_t n, const char* usage) {
    if (w.size() != n) Fail(at, std::string("expected: ") + usage);
}

const Glyph& FindGlyph(const Skin& skin, const Line& at, const std::string& name) {
    auto it = skin.glyphs.find(name);
    if (it == skin.glyphs.end()) Fail(at, "no glyph named " + name);
    return it->second;
}

const Font& FindFont(const Skin& skin, const Line& at, const std::string& name) {
    auto it = skin.fonts.find(name);
    if (it == skin.fonts.end()) Fail(at, "no font named " + name);
    return it->second;
}

std::string Substitute(const std::string& text, const std::map<std::string, std::string>& args) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '$') {
            size_t j = i + 1;
            while (j < text.size() && (isalnum((unsigned char)text[j]) || text[j] == '_')) j++;
            auto it = args.find(text.substr(i + 1, j - i - 1));
            if (it != args.end()) {
                out += it->second;
                i = j;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

void Run(const Skin& skin, Canvas& c, const std::vector<Line>& body,
         const std::map<std::string, std::string>& args, int depth);

void RunStatement(const Skin& skin, Canvas& c, const Line& at, const std::vector<Line>& body,
                  size_t* i, const std::map<std::string, std::string>& args, int depth) {
    std::vector<std::string> w = Tokens(at);
    if (w.empty()) return;
    const std::string& op = w[0];
    auto num = [&](size_t k) { return ParseInt(at, w[k]); };
    auto col = [&](size_t k) { return ColourByName(c, at, w[k]); };
    const BitmapSource& b = *c.source;

    if (op == "cell") {
        Need(at, w, 2, "cell K");
        int k = num(1), columns = b.width / b.cellWidth,
            count = columns * (b.height / b.cellHeight);
        if (k < 0 || k >= count)
            Fail(at, b.name + " has cells 0 to " + std::to_string(count - 1) + ", not " + w[1]);
        c.originX = c.clipLeft = (k % columns) * b.cellWidth;
        c.originY = c.clipTop = (k / columns) * b.cellHeight;
        c.clipRight = c.clipLeft + b.cellWidth;
        c.clipBottom = c.clipTop + b.cellHeight;
    } else if (op == "origin") {
        Need(at, w, 3, "origin X Y");
        c.originX = num(1);
        c.originY = num(2);
        c.clipLeft = c.clipTop = 0;
        c.clipRight = b.width;
        c.clipBottom = b.height;
    } else if (op == "fill") {
        Need(at, w, 6, "fill X Y W H COLOUR");
        Fill(c, at, num(1), num(2), num(3), num(4), col(5));
    } else if (op == "frame") {
        Need(at, w, 6, "frame X Y W H COLOUR");
        int x = num(1), y = num(2), fw = num(3), fh = num(4), k = col(5);
        Fill(c, at, x, y, fw, 1, k);
        Fill(c, at, x, y + fh - 1, fw, 1, k);
        Fill(c, at, x, y, 1, fh, k);
        Fill(c, at, x + fw - 1, y, 1, fh, k);
    } else if (op == "hline") {
        Need(at, w, 5, "hline X Y W COLOUR");
        Fill(c, at, num(1), num(2), num(3), 1, col(4));
    } else if (op == "vline") {
        Need(at, w, 5, "vline X Y H COLOUR");
        Fill(c, at, num(1), num(2), 1, num(3), col(4));
    } else if (op == "pixel") {
        Need(at, w, 4, "pixel X Y COLOUR");
        Put(c, at, num(1), num(2), col(3));
    } else if (op == "bevel") {
        // Light along the top and left, dark along the bottom and right.
        Need(at, w, 7, "bevel X Y W H LIGHT DARK");
        int x = num(1), y = num(2), bw = num(3), bh = num(4), light = col(5), dark = col(6);
        Fill(c, at, x, y, bw - 1, 1, light);
        Fill(c, at, x, y, 1, bh - 1, light);
        Fill(c, at, x, y + bh - 1, bw, 1, dark);
        Fill(c, at, x + bw - 1, y, 1, bh, dark);
    } else if (op == "dither") {
        Need(at, w, 7, "dither X Y W H COLOUR COLOUR");
        int x = num(1), y = num(2), a = col(5), d = col(6);
        for (int j = 0; j < num(4); j++)
            for (int k = 0; k < num(3); k++)
                Put(c, at, x + k, y + j, ((c.originX + x + k + c.originY + y + j) & 1) ? d : a);
    } else if (op == "vgradient" || op == "hgradient") {
        if (w.size() < 7) Fail(at, "expected: " + op + " X Y W H COLOUR COLOUR [COLOUR...]");
        int x = num(1), y = num(2), gw = num(3), gh = num(4);
        std::vector<int> ramp;
        for (size_t k = 5; k < w.size(); k++) ramp.push_back(col(k));
        bool vertical = op == "vgradient";
        for (int j = 0; j < gh; j++)
            for (int k = 0; k < gw; k++)
                Put(c, at, x + k, y + j,
                    RampColour(ramp, vertical ? j : k, vertical ? gh : gw, c.originX + x + k,
                               c.originY + y + j));
    } else if (op == "stamp") {
        if (w.size() != 4 && w.size() != 5) Fail(at, "expected: stamp GLYPH X Y [COLOUR]");
        const Glyph& g = FindGlyph(skin, at, w[1]);
        StampRows(c, at, g.rows, num(2), num(3), w.size() == 5 ? col(4) : -1);
    } else if (op == "text") {
        size_t q = at.text.find('"'), r = at.text.rfind('"');
        if (q == std::string::npos || r == q) Fail(at, "expected: text FONT X Y COLOUR \"TEXT\"");
        std::vector<std::string> head = Split(at.text.substr(0, q));
        std::vector<std::string> tail = Split(StripComment(at.text.substr(r + 1)));
        Need(at, head, 5, "text FONT X Y COLOUR \"TEXT\" [ADVANCE]");
        if (tail.size() > 1) Fail(at, "expected: text FONT X Y COLOUR \"TEXT\" [ADVANCE]");
        int advance = tail.empty() ? 0 : ParseInt(at, tail[0]);
        const Font& f = FindFont(skin, at, head[1]);
        int x = ParseInt(at, head[2]), y = ParseInt(at, head[3]);
        int k = ColourByName(c, at, head[4]);
        for (char ch : at.text.substr(q + 1, r - q - 1)) {
            auto g = f.glyphs.find((unsigned char)ch);
            if (g == f.glyphs.end())
                Fail(at, "font " + head[1] + " has no character '" + std::string(1, ch) + "'");
            StampRows(c, at, g->second.rows, x, y, k);
            x += advance ? advance : f.cellWidth ? f.cellWidth : g->second.width + 1;
        }
    } else if (op == "charmap") {
        // Cell k holds character first + k, for every character up to last.
        Need(at, w, 5, "charmap FONT FIRST LAST COLOUR");
        const Font& f = FindFont(skin, at, w[1]);
        if (f.cellWidth != b.cellWidth || f.height != b.cellHeight)
            Fail(at, "font " + w[1] + " does not have the cells of " + b.name);
        int first = num(2), last = num(3), k = col(4), columns = b.width / b.cellWidth;
        int count = columns * (b.height / b.cellHeight);
        if (last < first || last - first >= count)
            Fail(at, b.name + " holds " + std::to_string(count) + " characters at most");
        for (int n = 0; n <= last - first; n++) {
            auto g = f.glyphs.find(first + n);
            if (g == f.glyphs.end())
                Fail(at, "font " + w[1] + " has no character " + std::to_string(first + n) + " ('" +
                             std::string(1, (char)(first + n)) + "')");
            c.originX = c.clipLeft = (n % columns) * b.cellWidth;
            c.originY = c.clipTop = (n / columns) * b.cellHeight;
            c.clipRight = c.clipLeft + b.cellWidth;
            c.clipBottom = c.clipTop + b.cellHeight;
            StampRows(c, at, g->second.rows, 0, 0, k);
        }
    } else if (op == "sheet") {
        // The next cell-height rows hold the listed cells side by side.
        if (w.size() < 2) Fail(at, "expected: sheet CELL [CELL...]");
        int columns = b.width / b.cellWidth, count = columns * (b.height / b.cellHeight);
        std::vector<std::vector<std::string>> cells(w.size() - 1);
        for (int row = 0; row < b.cellHeight; row++, ++*i) {
            if (*i >= body.size())
                Fail(at,
                     "a sheet of " + b.name + " needs " + std::to_string(b.cellHeight) + " rows");
            std::vector<std::string> parts = Split(body[*i].text);
            if (parts.size() != cells.size())
                Fail(body[*i], "this row holds " + std::to_string(parts.size()) +
                                   " cells, the sheet line names " + std::to_string(cells.size()));
            for (size_t k = 0; k < parts.size(); k++) {
                if ((int)parts[k].size() != b.cellWidth)
                    Fail(body[*i], "a cell row of " + b.name + " is " +
                                       std::to_string(b.cellWidth) + " wide, not " +
                                       std::to_string(parts[k].size()));
                cells[k].push_back(parts[k]);
            }
        }
        for (size_t k = 0; k < cells.size(); k++) {
            int n = num(k + 1);
            if (n < 0 || n >= count)
                Fail(at,
                     b.name + " has cells 0 to " + std::to_string(count - 1) + ", not " + w[k + 1]);
            c.originX = c.clipLeft = (n % columns) * b.cellWidth;
            c.originY = c.clipTop = (n / columns) * b.cellHeight;
            c.clipRight = c.clipLeft + b.cellWidth;
            c.clipBottom = c.clipTop + b.cellHeight;
            StampRows(c, at, cells[k], 0, 0, -1);
        }
    } else if (op == "pixels") {
        Need(at, w, 3, "pixels X Y");
        std::vector<Line> rows;
        for (; *i < body.size() && Trim(body[*i].text) != "end"; ++*i) rows.push_back(body[*i]);
        if (*i == body.size()) Fail(at, "this block has no 'end'");
        ++*i;
        StampRows(c, at, PixelRows(rows, at), num(1), num(2), -1);
    } else if (op == "call") {
        if (w.size() < 2) Fail(at, "expected: call NAME [ARG...]");
        auto d = skin.defines.find(w[1]);
        if (d == skin.defines.end()) Fail(at, "nothing is defined as " + w[1]);
        if (w.size() - 2 != d->second.params.size())
            Fail(at, w[1] + " takes " + std::to_string(d->second.params.size()) + " arguments");
        if (depth >= kMaxCallDepth) Fail(at, "calls nest too deeply");
        std::map<std::string, std::string> inner;
        for (size_t k = 0; k < d->second.params.size(); k++) inner[d->second.params[k]] = w[k + 2];
        Canvas saved = c;
        Run(skin, c, d->second.body, inner, depth + 1);
        saved.pixels.swap(c.pixels);
        saved.drawn.swap(c.drawn);
        c = saved;
    } else {
        Fail(at, "unknown drawing operation '" + op + "'");
    }
    (void)args;
}

void Run(const Skin& skin, Canvas& c, const std::vector<Line>& body,
         const std::map<std::string, std::string>& args, int depth) {
    for (size_t i = 0; i < body.size();) {
        Line at = body[i++];
        at.text = Substitute(at.text, args);
        RunStatement(skin, c, at, body, &i, args, depth);
    }
}

// Output --------------------------------------------------------------------

void Put16(std::string& s, unsigned v) {
    s += (char)(v & 0xFF);
    s += (char)((v >> 8) & 0xFF);
}

void Put32(std::string& s, unsigned v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

constexpr unsigned kFileHeaderSize = 14;
constexpr unsigned kInfoHeaderSize = 40;
constexpr unsigned kColourTableSize = kSkinColours * 4;
constexpr unsigned kPixelsPerMetre = 2835;       // 72 dpi
constexpr unsigned kUncompressed = 0, kRle4 = 2; // BI_RGB, BI_RLE4
constexpr int kRleLongest = 255;
// Four pixels take two bytes either way; a shorter repeat stays in its literal stretch.
constexpr int kRleShortestRun = 4;
constexpr int kRleShortestLiteral = 3;

// The header and colour table of a device-independent bitmap; `headerHeight`
// is the height the header states (an icon's counts its mask, and an icon
// states no resolution).
std::string DibHeader(const Canvas& c, unsigned headerHeight, unsigned compression,
                      unsigned imageSize, unsigned pixelsPerMetre) {
    std::string s;
    Put32(s, kInfoHeaderSize);
    Put32(s, (unsigned)c.source->width);
    Put32(s, headerHeight); // positive: bottom row first
    Put16(s, 1);
    Put16(s, kSkinBitsPerPixel);
    Put32(s, compression);
    Put32(s, imageSize);
    Put32(s, pixelsPerMetre);
    Put32(s, pixelsPerMetre);
    Put32(s, kSkinColours);
    Put32(s, 0);
    for (const Colour& k : c.palette->colours) {
        s += (char)k.b;
        s += (char)k.g;
        s += (char)k.r;
        s += '\0';
    }
    return s;
}

// The 4-bit rows, bottom first, each padded to 32 bits.
std::string PackedRows(const Canvas& c) {
    const BitmapSource& b = *c.source;
    unsigned stride = ((unsigned)b.width * kSkinBitsPerPixel + 31) / 32 * 4;
    std::string s;
    for (int y = b.height - 1; y >= 0; y--) {
        std::string row(stride, '\0');
        for (int x = 0; x < b.width; x++) {
            uint8_t v = c.pixels[(size_t)y * b.width + x];
            row[x / 2] = (char)(row[x / 2] | (x % 2 ? v : v << 4));
        }
        s += row;
    }
    return s;
}

// Pixels as they stand, as runs of one or two (a run's colour pair) or as a
// literal stretch padded to 16 bits.
void PutRle4Literal(std::string& s, const uint8_t* p, int n) {
    while (n > 0) {
        int k = n < kRleLongest ? n : kRleLongest;
        if (k < kRleShortestLiteral) {
            s += (char)k;
            s += (char)(p[0] << 4 | (k > 1 ? p[1] : 0));
        } else {
            s += '\0';
            s += (char)k;
            std::string bytes((size_t)(k + 1) / 2 + (k + 1) / 2 % 2, '\0');
            for (int i = 0; i < k; i++)
                bytes[i / 2] = (char)(bytes[i / 2] | (i % 2 ? p[i] : p[i] << 4));
            s += bytes;
        }
        p += k;
        n -= k;
    }
}

// The rows, bottom first, in BI_RLE4: runs of up to 255 pixels alternating
// the two colours of a pair, literal stretches between them, an end of line
// after every row and an end of bitmap. Every pixel is written, so nothing of
// the destination shows through.
std::string Rle4Rows(const Canvas& c) {
    const BitmapSource& b = *c.source;
    std::string s;
    for (int y = b.height - 1; y >= 0; y--) {
        const uint8_t* row = &c.pixels[(size_t)y * b.width];
        int literal = 0, x = 0;
        while (x < b.width) {
            int run = 1;
            while (x + run < b.width && run < kRleLongest && row[x + run] == row[x + run % 2])
                run++;
            if (run < kRleShortestRun) {
                x++;
                continue;
            }
            PutRle4Literal(s, row + literal, x - literal);
            s += (char)run;
            s += (char)(row[x] << 4 | row[x + 1]);
            x += run;
            literal = x;
        }
        PutRle4Literal(s, row + literal, x - literal);
        s += '\0'; // end of line
        s += '\0';
    }
    s += '\0'; // end of bitmap
    s += '\1';
    return s;
}

// A skin bitmap: compressed, as the drawing hands it to the system, which
// keeps the program small.
std::string BmpBytes(const Canvas& c) {
    std::string rows = Rle4Rows(c);
    unsigned offset = kFileHeaderSize + kInfoHeaderSize + kColourTableSize;
    std::string s = "BM";
    Put32(s, offset + (unsigned)rows.size());
    Put32(s, 0);
    Put32(s, offset);
    return s +
           DibHeader(c, (unsigned)c.source->height, kRle4, (unsigned)rows.size(), kPixelsPerMetre) +
           rows;
}

// One image of an icon: the bitmap over twice its height, then the mask, a
// bit a pixel, set where the image is transparent. Icons are never compressed.
std::string IconImageBytes(const Canvas& c) {
    const BitmapSource& b = *c.source;
    unsigned maskStride = ((unsigned)b.width + 31) / 32 * 4;
    std::string pixels = PackedRows(c);
    std::string s = DibHeader(c, 2 * (unsigned)b.height, kUncompressed,
                              (unsigned)pixels.size() + maskStride * (unsigned)b.height, 0) +
                    pixels;
    for (int y = b.height - 1; y >= 0; y--) {
        std::string row(maskStride, '\0');
        for (int x = 0; x < b.width; x++)
            if (!c.drawn[(size_t)y * b.width + x])
                row[x / 8] = (char)(row[x / 8] | (0x80 >> (x % 8)));
        s += row;
    }
    return s;
}

constexpr unsigned kIconDirSize = 6;
constexpr unsigned kIconEntrySize = 16;
constexpr unsigned kIconType = 1;

// An ICO file: the directory, an entry per image, then the images.
std::string IcoBytes(const std::vector<std::pair<const BitmapSource*, std::string>>& images) {
    std::string s;
    Put16(s, 0);
    Put16(s, kIconType);
    Put16(s, (unsigned)images.size());
    unsigned offset = kIconDirSize + kIconEntrySize * (unsigned)images.size();
    for (const auto& image : images) {
        s += (char)image.first->width;
        s += (char)image.first->height;
        s += (char)kSkinColours;
        s += '\0';
        Put16(s, 1); // planes
        Put16(s, kSkinBitsPerPixel);
        Put32(s, (unsigned)image.second.size());
        Put32(s, offset);
        offset += (unsigned)image.second.size();
    }
    for (const auto& image : images) s += image.second;
    return s;
}

Canvas Render(const Skin& skin, const BitmapSource& b) {
    auto p = skin.palettes.find(b.palette);
    if (p == skin.palettes.end()) Fail(b.where, "no palette named " + b.palette);
    Canvas c;
    c.source = &b;
    c.palette = &p->second;
    c.pixels.assign((size_t)b.width * b.height, 0);
    c.drawn.assign((size_t)b.width * b.height, 0);
    c.clipRight = b.width;
    c.clipBottom = b.height;
    Run(skin, c, b.body, {}, 0);
    return c;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: skinc OUTDIR SOURCE...\n");
        return 2;
    }
    Skin skin;
    for (int i = 2; i < argc; i++) ParseFile(skin, argv[i]);

    std::vector<std::pair<std::string, std::string>> out;
    for (const BitmapSource& b : skin.bitmaps)
        out.emplace_back(b.name + ".bmp", BmpBytes(Render(skin, b)));
    for (const SkinBitmapInfo& s : kSkinBitmaps) {
        bool found = false;
        for (const auto& o : out) found = found || o.first == std::string(s.name) + ".bmp";
        if (!found) FailPlain(std::string("the skin has no ") + s.name);
    }
    std::vector<std::pair<const BitmapSource*, std::string>> images;
    for (int size : kSkinIconSizes) {
        const BitmapSource* image = nullptr;
        for (const BitmapSource& b : skin.iconImages)
            if (b.width == size) image = &b;
        if (!image)
            FailPlain(std::string("the icon has no ") + std::to_string(size) + "x" +
                      std::to_string(size) + " image");
        images.emplace_back(image, IconImageBytes(Render(skin, *image)));
    }
    out.emplace_back(std::string(kSkinIconName) + ".ico", IcoBytes(images));
    for (const auto& o : out) {
        std::string path = std::string(argv[1]) + "/" + o.first;
        std::ofstream f(path, std::ios::binary);
        if (!f.write(o.second.data(), (std::streamsize)o.second.size()))
            FailPlain("cannot write " + path);
    }
    return 0;
}
