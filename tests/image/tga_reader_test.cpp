// Reading TARGA files: the third-party fixtures, built files and truncations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <string>

#include "support/load_image.h"
#include "support/image_files.h"
#include "support/test_support.h"

namespace rdsgen {
namespace {

struct ReadResult {
    Status status;
    Image image;
};

// Reads a file as the program does: whole, keeping the block as the pixels.
ReadResult readFile(const std::string& path, std::int32_t threads = 1) {
    ReadResult r;
    if (threads == 1) {
        r.status = loadImageFile(path.c_str(), r.image);
        return r;
    }
    int descriptor = -1;
    r.status = openImageFile(path.c_str(), descriptor);
    if (r.status) r.status = readImageFile(descriptor, r.image, {}, threads);
    if (descriptor >= 0) close(descriptor);
    return r;
}

ReadResult readBytes(const std::vector<std::uint8_t>& bytes) {
    ReadResult r;
    r.status = readTga(bytes, r.image);
    return r;
}

// The pixel block, rows top first, or bottom first when flip is set; with
// widen, as the pattern image reads it (copyPatternRow: 3 bytes per pixel).
std::vector<std::uint8_t> pixelsOf(const Image& image, bool flip = false, bool widen = false) {
    std::vector<std::uint8_t> result;
    std::vector<std::uint8_t> wide(3 * std::size_t(image.width));
    for (std::int32_t i = 0; i < image.height; ++i) {
        const std::int32_t r = flip ? image.height - 1 - i : i;
        if (widen) {
            copyPatternRow(image, r, wide.data());
            result.insert(result.end(), wide.begin(), wide.end());
        } else {
            result.insert(result.end(), imageRow(image, r), imageRow(image, r) + image.rowBytes);
        }
    }
    return result;
}

// The fixture rows of MANIFEST.md, split on unescaped '|':
// 0 file, 1 picture, 4 type, 5 size, 6 depth, 12 verdict, 13 why, 14 decodes to.
std::vector<std::vector<std::string>> manifest() {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(fixturePath("MANIFEST.md"));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("| `", 0) != 0 || line.find(".tga`") == std::string::npos) continue;
        std::vector<std::string> cells;
        for (std::size_t begin = 1, i = 1; i < line.size(); ++i) {
            if (line[i] != '|' || line[i - 1] == '\\') continue;
            std::string cell = line.substr(begin + 1, i - begin - 2);
            cells.push_back(cell[0] == '`' ? cell.substr(1, cell.size() - 2) : cell);
            begin = i + 1;
        }
        rows.push_back(cells);
    }
    return rows;
}

// The number that follows `label` in text, or -1.
int numberAfter(const std::string& text, const std::string& label) {
    std::size_t at = text.find(label);
    if (at == std::string::npos) return -1;
    return std::stoi(text.substr(at + label.size()));
}

// The text between the first pair of double quotes.
std::string quoted(const std::string& text) {
    std::size_t open = text.find('"');
    std::size_t close = text.find('"', open + 1);
    if (open != 0 || close == std::string::npos) return "";
    return text.substr(open + 1, close - open - 1);
}

// Every fixture is read from its file and decoded from its bytes in memory;
// both ways must agree.
TEST(TgaFixtures, AcceptedFilesLoadAndRefusedFilesGiveTheirMessage) {
    int accepted = 0;
    for (const auto& f : manifest()) {
        SCOPED_TRACE(f[0]);
        ReadResult r = readFile(fixturePath(f[0]));
        ReadResult inMemory = readBytes(readFileBytes(fixturePath(f[0])));
        EXPECT_EQ(inMemory.status.code, r.status.code);
        if (f[12] == "refuse") {
            std::string message = quoted(f[13]);
            ASSERT_FALSE(message.empty());
            EXPECT_NE(r.status.code, StatusCode::kOk);
            EXPECT_EQ(statusText(r.status), message);
            EXPECT_EQ(r.image.pixels, nullptr);
            EXPECT_EQ(inMemory.image.pixels, nullptr);
            continue;
        }
        const int width = std::stoi(f[5]), height = numberAfter(f[5], "× ");
        ASSERT_GT(height, 0);
        ASSERT_EQ(r.status.code, StatusCode::kOk) << statusText(r.status);
        ++accepted;
        int type = std::stoi(f[4]), greyBytes = type == 3 ? std::stoi(f[6]) / 8 : 0;
        EXPECT_EQ(r.image.kind, type == 3 ? static_cast<PixelKind>(greyBytes) : PixelKind::kColour);
        EXPECT_EQ(r.image.width, width);
        EXPECT_EQ(r.image.height, height);
        EXPECT_EQ(r.image.rowBytes, r.image.width * (greyBytes == 0 ? 3 : greyBytes));
        EXPECT_EQ(inMemory.image.kind, r.image.kind);
        EXPECT_TRUE(pixelsOf(inMemory.image) == pixelsOf(r.image));
    }
    EXPECT_GT(accepted, 90);
}

// Each file is compared, read as a pattern image (3 bytes per pixel), with the
// first file of its picture that decodes to the picture exactly. Kept 16- and
// 24-bit grey is compared by its most significant byte (the byte a pattern
// image takes), or by its low byte where that holds the picture.
TEST(TgaFixtures, SamePictureDecodesAlike) {
    const auto rows = manifest();
    std::map<std::string, std::string> reference;
    for (const auto& f : rows) {
        bool exact = f[14] == "the picture" || f[14] == "the picture (same either way up)";
        if (f[12] == "accept" && exact && !reference.count(f[1])) {
            reference[f[1]] = f[0];
        }
    }
    int compared = 0;
    for (const auto& f : rows) {
        if (f[12] != "accept" || f[14].rfind("the picture", 0) != 0 || !reference.count(f[1])) continue;
        SCOPED_TRACE(f[0]);
        const Image picture = readFile(fixturePath(reference[f[1]])).image;
        std::vector<std::uint8_t> expected = pixelsOf(picture, false, true);
        ReadResult r = readFile(fixturePath(f[0]));
        // A wide grey pixel whose low byte holds the picture (its high byte
        // alpha) is compared by that byte as stored.
        const bool lowByte = f[14].rfind("the picture in the low byte", 0) == 0;
        const bool kept = f[14].find("precision") != std::string::npos || lowByte;
        std::vector<std::uint8_t> actual = pixelsOf(r.image, f[14] == "the picture upside down", !kept);
        int tolerance = std::max(numberAfter(f[14], "max channel difference "), 0);
        const int highByteTolerance = numberAfter(f[14], "high byte within ");
        if (kept) {
            // Keep the high (or low) byte of each kept grey pixel, as three bytes.
            const std::size_t bytes = std::size_t(pixelBytes(r.image.kind));
            ASSERT_GE(bytes, 2u);
            std::vector<std::uint8_t> one;
            for (std::size_t i = lowByte ? 0 : bytes - 1; i < actual.size(); i += bytes) one.insert(one.end(), 3, actual[i]);
            actual = one;
            if (!lowByte) tolerance = highByteTolerance;
        }
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < actual.size(); ++i) {
            ASSERT_LE(std::abs(actual[i] - expected[i]), tolerance) << "byte " << i;
        }
        ++compared;
    }
    EXPECT_GT(compared, 90);
}

TEST(TgaRead, ColourMapLookUpStaysInsideTheMap) {
    TgaLayout layout;
    layout.imageType = 1;
    layout.colourMapType = 1;
    layout.mapFirst = 16;
    layout.mapLength = 2;
    layout.mapEntryBits = 24;
    layout.colourMap = {1, 2, 3, 4, 5, 6};
    layout.width = 4;
    layout.height = 1;
    layout.pixels = {16, 17, 15, 18};  // entries 0, 1, -1, 2
    EXPECT_EQ(pixelsOf(readBytes(buildTga(layout)).image),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0}));
    layout.colourMapType = 0;  // no map at all: black
    layout.colourMap.clear();
    EXPECT_EQ(pixelsOf(readBytes(buildTga(layout)).image), std::vector<std::uint8_t>(12, 0));
}

// Files cut inside each reading step; none may be accepted or keep a block.
TEST(TgaRead, TruncatedFilesAreRefused) {
    const std::string endOfFile = "Unexpected end of file in TARGA image.";
    const std::string noType = "Can't read TARGA image type -1 (compressed image)";
    TgaLayout layout;
    layout.idLength = 5;
    layout.colourMapType = 1;
    layout.mapLength = 4;
    layout.mapEntryBits = 24;
    layout.colourMap.assign(12, 7);
    layout.width = 5;
    layout.height = 3;
    layout.pixels.assign(15, 9);
    const std::vector<std::uint8_t> whole = buildTga(layout);
    ASSERT_EQ(readBytes(whole).status.code, StatusCode::kOk);
    // 20: inside the ID; 30: inside the colour map; the last: inside the pixels.
    for (std::size_t length : {std::size_t{0}, std::size_t{2}, std::size_t{3}, std::size_t{10},
                               std::size_t{17}, std::size_t{20}, std::size_t{30}, whole.size() - 1}) {
        SCOPED_TRACE(length);
        ReadResult r = readBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + length));
        EXPECT_EQ(r.status.code, length < 3 ? StatusCode::kTgaCompressed : StatusCode::kTgaEndOfFile);
        EXPECT_EQ(statusText(r.status), length < 3 ? noType : endOfFile);
        EXPECT_EQ(r.image.pixels, nullptr);
    }
    // The missing entry-size byte is found before the colour-map length is tested.
    TgaLayout longMap;
    longMap.mapLength = 300;
    std::vector<std::uint8_t> seven = buildTga(longMap);
    seven.resize(7);
    EXPECT_EQ(statusText(readBytes(seven).status), endOfFile);
    // A huge claim in a tiny file is refused before any allocation or reading.
    TgaLayout huge;
    huge.imageType = 2;
    huge.pixelDepth = 24;
    huge.width = huge.height = 65535;
    huge.pixels.assign(100, 1);
    auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(statusText(readBytes(buildTga(huge)).status), endOfFile);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
}

// Rows read back as stored (the height image) and widened (the pattern
// image), and the failures of loading a file.
TEST(LoadImageFile, RowsAndFailures) {
    std::string path = temporaryDirectory() + "/h.tga";
    writeFileBytes(path, greyTga(2, 2, {1, 2, 3, 4}));
    ReadResult r = readFile(path);
    ASSERT_EQ(r.status.code, StatusCode::kOk);
    EXPECT_EQ(std::vector<std::uint8_t>(imageRow(r.image, 1), imageRow(r.image, 1) + r.image.rowBytes),
              (std::vector<std::uint8_t>{3, 4}));
    std::vector<std::uint8_t> row(6);
    copyPatternRow(r.image, 1, row.data());
    EXPECT_EQ(row, (std::vector<std::uint8_t>{3, 3, 3, 4, 4, 4}));

    writeFileBytes(path, {0, 0, 9});
    r = readFile(path);
    EXPECT_EQ(r.status.code, StatusCode::kTgaCompressed);
    EXPECT_EQ(statusText(r.status), "Can't read TARGA image type 9 (compressed image)");
    EXPECT_EQ(r.image.pixels, nullptr);
    EXPECT_EQ(readFile(temporaryDirectory() + "/missing.tga").status.code, StatusCode::kCantOpenFile);
}

// A pattern image of 16- or 24-bit grey (TARGA or PNG) takes the most
// significant byte of each pixel: a smooth ramp stays smooth.
TEST(PatternRow, WideGreyTakesTheMostSignificantByte) {
    const std::vector<std::uint16_t> ramp = {0x00FF, 0x1280, 0x12FF, 0xFE01};
    const std::vector<std::uint8_t> expected = {0x00, 0x00, 0x00, 0x12, 0x12, 0x12,
                                                0x12, 0x12, 0x12, 0xFE, 0xFE, 0xFE};
    TgaLayout layout;
    layout.width = 4;
    layout.height = 1;
    layout.pixelDepth = 16;
    for (std::uint16_t v : ramp) layout.pixels.insert(layout.pixels.end(), {std::uint8_t(v & 0xFF), std::uint8_t(v >> 8)});
    PngLayout png;
    png.width = 4;
    png.bitDepth = 16;
    png.samples = ramp;
    TgaLayout deep = layout;
    deep.pixelDepth = 24;
    deep.pixels.clear();
    for (std::uint16_t v : ramp) deep.pixels.insert(deep.pixels.end(), {0x77, std::uint8_t(v & 0xFF), std::uint8_t(v >> 8)});
    const std::pair<const char*, std::vector<std::uint8_t>> files[] = {
        {"TARGA 16", buildTga(layout)}, {"TARGA 24", buildTga(deep)}, {"PNG 16", buildPng(png)}};
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        Image image;
        ASSERT_TRUE(readImage(file, image));
        ASSERT_NE(image.kind, PixelKind::kGrey8);
        std::vector<std::uint8_t> row(12);
        copyPatternRow(image, 0, row.data());
        EXPECT_EQ(row, expected);
    }
}

// Large images held as stored keep the file's block (mapped memory from
// 1 MiB on) as their pixels, the ID and colour map before the pixels
// included; rows stored bottom first are turned over in place. Read from a
// file (a file of 38 MB also on 2 and 3 threads) or decoded from memory,
// either row order gives the same picture.
TEST(TgaReader, LargeImagesReadAlikeWhateverTheRowOrder) {
    struct Case {
        int type, depth, width, height;
    };
    for (const Case& c : {Case{3, 8, 1100, 1000}, Case{3, 16, 800, 700}, Case{2, 24, 700, 500},
                          Case{3, 8, 6200, 6200}}) {
        SCOPED_TRACE(c.type * 100 + c.depth);
        const std::size_t rowBytes = std::size_t(c.width) * (c.depth / 8);
        std::vector<std::uint8_t> picture(rowBytes * c.height);
        for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 7 + i / rowBytes);

        TgaLayout layout;
        layout.idLength = 5;
        layout.colourMapType = 1;
        layout.mapLength = 2;
        layout.mapEntryBits = 24;
        layout.colourMap = {1, 2, 3, 4, 5, 6};
        layout.imageType = c.type;
        layout.width = c.width;
        layout.height = c.height;
        layout.pixelDepth = c.depth;
        layout.pixels = picture;
        const std::vector<std::uint8_t> topFirst = buildTga(layout);

        layout.descriptor = 0;
        layout.pixels.clear();
        for (int r = c.height; r-- > 0;) {
            layout.pixels.insert(layout.pixels.end(), picture.begin() + r * rowBytes,
                                 picture.begin() + (r + 1) * rowBytes);
        }
        const std::vector<std::uint8_t> bottomFirst = buildTga(layout);

        const std::string path = temporaryDirectory() + "/large.tga";
        for (const std::vector<std::uint8_t>* file : {&topFirst, &bottomFirst}) {
            SCOPED_TRACE(file == &topFirst ? "top first" : "bottom first");
            writeFileBytes(path, *file);
            ReadResult fromFile = readFile(path);
            ReadResult inMemory = readBytes(*file);
            ASSERT_EQ(fromFile.status.code, StatusCode::kOk);
            ASSERT_EQ(inMemory.status.code, StatusCode::kOk);
            EXPECT_EQ(fromFile.image.rowBytes, static_cast<std::int32_t>(rowBytes));
            EXPECT_TRUE(pixelsOf(fromFile.image) == picture);
            EXPECT_TRUE(pixelsOf(inMemory.image) == picture);
            for (std::int32_t threads : {2, 3}) {
                if (file->size() < std::size_t{8} << 20) break;  // smaller files are read on one thread
                ReadResult inParts = readFile(path, threads);
                ASSERT_EQ(inParts.status.code, StatusCode::kOk) << threads;
                EXPECT_TRUE(pixelsOf(inParts.image) == picture) << threads;
            }
        }
    }
}


// A file read in pieces on several threads that is cut while one piece is
// read and grows again before the next: the data ends at the cut, not with a
// gap of zeros before the later pieces.
TEST(TgaReader, SharedReadEndsWhereAPieceComesBackShort) {
    const std::size_t fileBytes = 4 * kPieceBytes;
    const std::size_t cut = kPieceBytes + kPieceBytes / 2;  // inside the second piece
    const auto byteAt = [](std::size_t offset) { return static_cast<std::uint8_t>(offset * 7 + offset / 4099); };
    const ReadAt readAt = [&](std::uint8_t* into, std::size_t count, std::size_t offset) -> ssize_t {
        // The second piece finds the file ending at the cut; the others see it whole.
        const bool secondPiece = offset >= kPieceBytes && offset < 2 * kPieceBytes;
        const std::size_t end = secondPiece ? cut : fileBytes;
        if (offset >= end) return 0;
        count = std::min(count, end - offset);
        for (std::size_t i = 0; i < count; ++i) into[i] = byteAt(offset + i);
        return static_cast<ssize_t>(count);
    };
    for (std::size_t threads : {std::size_t{1}, std::size_t{3}}) {
        SCOPED_TRACE(threads);
        std::vector<std::uint8_t> block(fileBytes, 0);
        EXPECT_EQ(readShared(readAt, block.data(), 18, fileBytes, threads), cut - 18);
        bool same = true;
        for (std::size_t i = 18; i < cut; ++i) same = same && block[i] == byteAt(i);
        EXPECT_TRUE(same);
    }
}

}  // namespace
}  // namespace rdsgen
