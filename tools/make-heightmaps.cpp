// make-heightmaps: writes example height images for rdsgen.
//
// USAGE
//   make-heightmaps [-s WIDTHxHEIGHT] [-t TEXT] [-f FORMAT] [--frames N] DIRECTORY [SHAPE...]
//
//   Writes one height image per shape into DIRECTORY. FORMAT: tga (8-bit
//   grey TARGA, type 3, top row first, SHAPE.tga; the default), tga16
//   (16-bit grey TARGA, SHAPE16.tga) or png16 (16-bit grey PNG,
//   SHAPE16.png); the 16-bit images hold the same shapes with 257 times
//   finer steps. Shapes: dome, torus, terraces, ramp, text (TEXT raised from
//   the background, default "3D"). Without SHAPE all five are written. The
//   default size is 640x480. Brighter is nearer; 0 is the background plane.
//
// The shapes are smooth and large, so that they stand out clearly in a
// stereogram made with the default pattern width.
#include <spng.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Canvas {
    int width = 640;
    int height = 480;
    std::string text = "3D";
    std::string format = "tga";
    double phase = 0;  // of the motion, 0 to 1
};

// A 5 x 7 bitmap font: seven rows per glyph, bit 4 is the leftmost column.
struct Glyph {
    char letter;
    std::uint8_t rows[7];
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

const Glyph* findGlyph(char letter) {
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (const Glyph& glyph : kFont) {
        if (glyph.letter == upper) return &glyph;
    }
    return nullptr;
}

// Heights are levels from 0 to 255, rounded only when written.
double toHeight(double h) { return std::clamp(h, 0.0, 255.0); }

// Coordinates centred on the image, 1.0 at half the shorter side.
struct Point {
    double u;
    double v;
};

Point centred(const Canvas& c, int x, int y) {
    double half = std::min(c.width, c.height) / 2.0;
    return {(x + 0.5 - c.width / 2.0) / half, (y + 0.5 - c.height / 2.0) / half};
}

// A hemisphere of radius 0.8.
double dome(const Canvas& c, int x, int y) {
    Point p = centred(c, x, y);
    double r = std::hypot(p.u, p.v) / 0.8;
    return r < 1.0 ? toHeight(255.0 * std::sqrt(1.0 - r * r)) : 0;
}

// A ring with a round cross-section around the centre.
double torus(const Canvas& c, int x, int y) {
    Point p = centred(c, x, y);
    double d = std::abs(std::hypot(p.u, p.v) - 0.55) / 0.25;
    return d < 1.0 ? toHeight(255.0 * std::sqrt(1.0 - d * d)) : 0;
}

// A stepped pyramid of five flat levels.
double terraces(const Canvas& c, int x, int y) {
    Point p = centred(c, x, y);
    double edge = std::max(std::abs(p.u) * 0.75, std::abs(p.v));
    int level = static_cast<int>(std::floor((0.8 - edge) / 0.15)) + 1;
    return toHeight(std::clamp(level, 0, 5) * 50.0);
}

// A plane rising from the top edge (background) to the bottom edge (nearest).
double ramp(const Canvas& c, int, int y) {
    return c.height > 1 ? toHeight(255.0 * y / (c.height - 1)) : 0;
}

// The text, centred, as large as fits with a margin of one cell.
struct TextLayout {
    int cell = 1;
    int left = 0;
    int top = 0;
};

TextLayout layoutText(const Canvas& c) {
    int columns = static_cast<int>(c.text.size()) * 6 - 1;
    TextLayout layout;
    layout.cell = std::max(1, std::min(c.width / (columns + 2), c.height / 9));
    layout.left = (c.width - columns * layout.cell) / 2;
    layout.top = (c.height - 7 * layout.cell) / 2;
    return layout;
}

double text(const Canvas& c, const TextLayout& layout, int x, int y) {
    if (x < layout.left || y < layout.top) return 0;
    int column = (x - layout.left) / layout.cell;
    int row = (y - layout.top) / layout.cell;
    std::size_t index = static_cast<std::size_t>(column / 6);
    if (row >= 7 || index >= c.text.size() || column % 6 == 5) return 0;
    const Glyph* glyph = findGlyph(c.text[index]);
    if (glyph == nullptr) return 0;
    return (glyph->rows[row] >> (4 - column % 6)) & 1 ? 200 : 0;
}

// A sphere of radius 0.3 going round an ellipse about the centre, its
// nearest point rising from 90 to 255 and falling back over one loop.
double ball(const Canvas& c, int x, int y) {
    const double angle = 2.0 * 3.14159265358979323846 * c.phase;
    Point p = centred(c, x, y);
    const double du = p.u - 0.55 * std::cos(angle);
    const double dv = p.v - 0.3 * std::sin(angle);
    const double r = std::hypot(du, dv) / 0.3;
    const double top = 172.5 + 82.5 * std::sin(angle);
    return r < 1.0 ? toHeight(top - 60.0 + 60.0 * std::sqrt(1.0 - r * r)) : 0;
}

double shapeHeight(const std::string& shape, const Canvas& c, const TextLayout& layout,
                         int x, int y) {
    if (shape == "ball") return ball(c, x, y);
    if (shape == "dome") return dome(c, x, y);
    if (shape == "torus") return torus(c, x, y);
    if (shape == "terraces") return terraces(c, x, y);
    if (shape == "ramp") return ramp(c, x, y);
    return text(c, layout, x, y);
}

bool knownShape(const std::string& shape) {
    return shape == "dome" || shape == "torus" || shape == "terraces" || shape == "ramp" ||
           shape == "text" || shape == "ball";
}

// Writes the 18-byte header of a grey, top-first TARGA image.
bool writeHeader(std::FILE* file, int width, int height, int bits) {
    std::uint8_t header[18] = {};
    header[2] = 3;
    header[12] = static_cast<std::uint8_t>(width & 0xFF);
    header[13] = static_cast<std::uint8_t>(width >> 8);
    header[14] = static_cast<std::uint8_t>(height & 0xFF);
    header[15] = static_cast<std::uint8_t>(height >> 8);
    header[16] = static_cast<std::uint8_t>(bits);
    header[17] = 0x20;
    return std::fwrite(header, 1, sizeof header, file) == sizeof header;
}

// Writes the rows of a shape with `row(y, bytes)`: one row held in memory,
// 16-bit values little-endian for TARGA and host-endian for the PNG encoder.
template <typename MakeRow>
bool writeRows(std::FILE* file, const Canvas& c, bool png, bool sixteen, MakeRow makeRow) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(c.width) * (sixteen ? 2 : 1));
    if (!png) {
        bool ok = writeHeader(file, c.width, c.height, sixteen ? 16 : 8);
        for (int y = 0; ok && y < c.height; ++y) {
            makeRow(y, row.data());
            ok = std::fwrite(row.data(), 1, row.size(), file) == row.size();
        }
        return ok;
    }
    spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
    if (context == nullptr) return false;
    spng_ihdr header{static_cast<std::uint32_t>(c.width), static_cast<std::uint32_t>(c.height), 16,
                     SPNG_COLOR_TYPE_GRAYSCALE, 0, 0, 0};
    bool ok = spng_set_png_file(context, file) == 0 && spng_set_ihdr(context, &header) == 0 &&
              spng_encode_image(context, nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE) == 0;
    for (int y = 0; ok && y < c.height; ++y) {
        makeRow(y, row.data());
        const int result = spng_encode_row(context, row.data(), row.size());
        ok = result == 0 || (result == SPNG_EOI && y == c.height - 1);
    }
    spng_ctx_free(context);
    return ok;
}

// Writes one shape row by row; frame (from 1) numbers the file, 0 none.
bool writeShape(const std::string& directory, const std::string& shape, const Canvas& c, int frame = 0) {
    const bool png = c.format == "png16";
    const bool sixteen = c.format != "tga";
    char number[16] = "";
    if (frame > 0) std::snprintf(number, sizeof number, "_%04d", frame);
    std::string path = directory + "/" + shape + (sixteen ? "16" : "") + number + (png ? ".png" : ".tga");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make-heightmaps: cannot create %s\n", path.c_str());
        return false;
    }
    TextLayout layout = layoutText(c);
    bool ok = writeRows(file, c, png, sixteen, [&](int y, std::uint8_t* row) {
        for (int x = 0; x < c.width; ++x) {
            const double h = shapeHeight(shape, c, layout, x, y);
            if (!sixteen) {
                row[x] = static_cast<std::uint8_t>(std::lround(h));
                continue;
            }
            const auto value = static_cast<std::uint16_t>(std::lround(h * 257.0));
            if (png) {
                std::memcpy(row + 2 * x, &value, 2);
            } else {
                row[2 * x] = static_cast<std::uint8_t>(value & 0xFF);
                row[2 * x + 1] = static_cast<std::uint8_t>(value >> 8);
            }
        }
    });
    if (std::fclose(file) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "make-heightmaps: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("%s\n", path.c_str());
    return true;
}

bool parseSize(const char* text, Canvas& c) {
    int width = 0;
    int height = 0;
    char rest = 0;
    if (std::sscanf(text, "%dx%d%c", &width, &height, &rest) != 2) return false;
    if (width < 1 || height < 1 || width > 65535 || height > 65535) return false;
    c.width = width;
    c.height = height;
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: make-heightmaps [-s WIDTHxHEIGHT] [-t TEXT] [-f tga|tga16|png16] [--frames N] DIRECTORY "
                 "[SHAPE...]\n"
                 "shapes: dome torus terraces ramp text (default: these five) ball (default with --frames)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Canvas canvas;
    int frames = 0;
    int i = 1;
    for (; i + 1 < argc && argv[i][0] == '-'; i += 2) {
        if (std::strcmp(argv[i], "-s") == 0) {
            if (!parseSize(argv[i + 1], canvas)) return usage();
        } else if (std::strcmp(argv[i], "-t") == 0) {
            canvas.text = argv[i + 1];
        } else if (std::strcmp(argv[i], "-f") == 0) {
            canvas.format = argv[i + 1];
            if (canvas.format != "tga" && canvas.format != "tga16" && canvas.format != "png16") return usage();
        } else if (std::strcmp(argv[i], "--frames") == 0) {
            char rest = 0;
            if (std::sscanf(argv[i + 1], "%d%c", &frames, &rest) != 1 || frames < 1 || frames > 9999) return usage();
        } else {
            return usage();
        }
    }
    if (i >= argc || argv[i][0] == '-') return usage();
    std::string directory = argv[i++];
    std::vector<std::string> shapes(argv + i, argv + argc);
    if (shapes.empty() && frames > 0) shapes = {"ball"};
    if (shapes.empty()) shapes = {"dome", "torus", "terraces", "ramp", "text"};
    for (const std::string& shape : shapes) {
        if (!knownShape(shape)) {
            std::fprintf(stderr, "make-heightmaps: unknown shape '%s'\n", shape.c_str());
            return usage();
        }
    }
    for (const std::string& shape : shapes) {
        if (frames == 0 && !writeShape(directory, shape, canvas)) return 1;
        for (int frame = 1; frame <= frames; ++frame) {
            canvas.phase = static_cast<double>(frame - 1) / frames;
            if (!writeShape(directory, shape, canvas, frame)) return 1;
        }
    }
    return 0;
}
