// Reading TARGA files: the third-party fixtures, built files and truncations.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>

#include "support/test_support.h"

namespace {

struct ReadResult {
    int status = -1;
    std::string out;
    std::string err;
    TgaImage image;
};

ReadResult readFile(const std::string& path, bool keepGrey) {
    ReadResult result;
    result.image.stream = std::fopen(path.c_str(), "rb");
    EXPECT_NE(result.image.stream, nullptr) << path;
    if (result.image.stream == nullptr) return result;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    result.status = readTga(result.image, keepGrey);
    result.err = testing::internal::GetCapturedStderr();
    result.out = testing::internal::GetCapturedStdout();
    std::fclose(result.image.stream);
    result.image.stream = nullptr;
    return result;
}

ReadResult readBytes(const std::vector<std::uint8_t>& bytes, bool keepGrey = true) {
    std::string path = temporaryDirectory() + "/image.tga";
    writeFileBytes(path, bytes);
    return readFile(path, keepGrey);
}

std::vector<std::uint8_t> pixelsOf(const TgaImage& image) {
    const std::uint8_t* start = image.pixels.get();
    return std::vector<std::uint8_t>(start, start + std::size_t(image.height) * image.rowBytes);
}

// The same image with its rows in the opposite order.
std::vector<std::uint8_t> flipped(const TgaImage& image) {
    std::vector<std::uint8_t> result;
    for (std::int32_t r = image.height; r-- > 0;) {
        const std::uint8_t* row = image.pixels.get() + std::size_t(r) * image.rowBytes;
        result.insert(result.end(), row, row + image.rowBytes);
    }
    return result;
}

// One fixture row of MANIFEST.md.
struct Fixture {
    std::string file, picture, verdict, why, decodesTo;
    int type = 0, width = -1, height = -1, depth = 0;
};

std::vector<Fixture> manifest() {
    std::vector<Fixture> fixtures;
    std::ifstream in(fixturePath("MANIFEST.md"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| `", 0) != 0) continue;
        std::vector<std::string> cells;
        std::size_t begin = 1;
        for (std::size_t i = 1; i < line.size(); ++i) {
            if (line[i] == '|' && line[i - 1] != '\\') {
                std::string cell = line.substr(begin, i - begin);
                cell.erase(0, cell.find_first_not_of(' '));
                cell.erase(cell.find_last_not_of(' ') + 1);
                cells.push_back(cell);
                begin = i + 1;
            }
        }
        if (cells.size() != 15 || cells[0].find(".tga`") == std::string::npos) continue;
        Fixture f;
        f.file = cells[0].substr(1, cells[0].size() - 2);
        f.picture = cells[1];
        f.type = std::atoi(cells[4].c_str());
        std::smatch size;
        if (std::regex_match(cells[5], size, std::regex(R"((\d+) × (\d+))"))) {
            f.width = std::stoi(size[1]);
            f.height = std::stoi(size[2]);
        }
        f.depth = std::atoi(cells[6].c_str());
        f.verdict = cells[12];
        f.why = cells[13];
        f.decodesTo = cells[14];
        fixtures.push_back(f);
    }
    return fixtures;
}

TEST(TgaFixtures, ManifestIsRead) {
    std::vector<Fixture> fixtures = manifest();
    EXPECT_GT(fixtures.size(), 100u);
    for (const Fixture& f : fixtures) {
        EXPECT_TRUE(f.verdict == "accept" || f.verdict == "refuse") << f.file;
    }
}

TEST(TgaFixtures, AcceptedFilesLoadWithTheirSize) {
    for (const Fixture& f : manifest()) {
        if (f.verdict != "accept") continue;
        for (bool keepGrey : {true, false}) {
            SCOPED_TRACE(f.file + (keepGrey ? " as height image" : " as pattern image"));
            ReadResult r = readFile(fixturePath(f.file), keepGrey);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.image.format, 1);
            EXPECT_EQ(r.image.imageType, f.type);
            EXPECT_EQ(r.image.width, f.width);
            EXPECT_EQ(r.image.height, f.height);
            int greyBytes = keepGrey && f.type == 3 ? f.depth / 8 : 0;
            EXPECT_EQ(r.image.greyBytes, greyBytes);
            EXPECT_EQ(r.image.rowBytes, f.width * (greyBytes == 0 ? 3 : greyBytes));
            EXPECT_NE(r.image.pixels, nullptr);
        }
    }
}

TEST(TgaFixtures, RefusedFilesGiveTheirMessage) {
    const std::regex quoted("^\"([^\"]+)\"");
    for (const Fixture& f : manifest()) {
        if (f.verdict != "refuse") continue;
        SCOPED_TRACE(f.file);
        std::smatch message;
        ASSERT_TRUE(std::regex_search(f.why, message, quoted));
        ReadResult r = readFile(fixturePath(f.file), true);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ERROR: " + message[1].str() + "\n");
        EXPECT_EQ(r.out, "\n");
        EXPECT_EQ(r.image.pixels, nullptr);
    }
}

// Every decoded file is compared with the first file of its picture that
// decodes to the picture itself, both read as pattern images (3 bytes).
TEST(TgaFixtures, SamePictureDecodesAlike) {
    std::vector<Fixture> fixtures = manifest();
    std::map<std::string, std::string> reference;
    for (const Fixture& f : fixtures) {
        bool exact = f.decodesTo == "the picture" || f.decodesTo == "the picture (same either way up)";
        if (f.verdict == "accept" && exact && !reference.count(f.picture)) {
            reference[f.picture] = f.file;
        }
    }
    const std::regex reduced(R"(max channel difference (\d+))");
    const std::regex precise(R"(at (16|24)-bit precision \(high byte within (\d+))");
    int compared = 0;
    for (const Fixture& f : fixtures) {
        if (f.verdict != "accept" || f.decodesTo.rfind("the picture", 0) != 0) continue;
        SCOPED_TRACE(f.file);
        if (!reference.count(f.picture)) continue;  // no 8-bit copy among the fixtures
        ReadResult ref = readFile(fixturePath(reference[f.picture]), false);
        std::vector<std::uint8_t> expected = pixelsOf(ref.image);
        std::smatch match;
        if (std::regex_search(f.decodesTo, match, precise)) {
            // Kept grey: the most significant stored byte follows the 8-bit picture.
            ReadResult r = readFile(fixturePath(f.file), true);
            const int bytes = r.image.greyBytes, tolerance = std::stoi(match[2]);
            ASSERT_EQ(bytes, std::stoi(match[1]) / 8);
            for (std::size_t i = 0; i < expected.size() / 3; ++i) {
                int high = r.image.pixels[i * bytes + bytes - 1];
                ASSERT_LE(std::abs(high - expected[3 * i]), tolerance) << "pixel " << i;
            }
            ++compared;
            continue;
        }
        ReadResult r = readFile(fixturePath(f.file), false);
        std::vector<std::uint8_t> actual = pixelsOf(r.image);
        if (f.decodesTo == "the picture upside down") {
            EXPECT_EQ(flipped(r.image), expected);
        } else if (std::regex_search(f.decodesTo, match, reduced)) {
            ASSERT_EQ(actual.size(), expected.size());
            int largest = 0;
            for (std::size_t i = 0; i < actual.size(); ++i) {
                largest = std::max(largest, std::abs(actual[i] - expected[i]));
            }
            EXPECT_LE(largest, std::stoi(match[1]));
        } else {
            EXPECT_EQ(actual, expected);
        }
        ++compared;
    }
    EXPECT_GT(compared, 80);
}

TEST(TgaFixtures, SixteenBitGreyKeepsBothBytesOrWidensItsLowByte) {
    ReadResult kept = readFile(fixturePath("dome-64x48_t3-16-bot_pil-la.tga"), true);
    ReadResult widened = readFile(fixturePath("dome-64x48_t3-16-bot_pil-la.tga"), false);
    ReadResult picture = readFile(fixturePath("dome-64x48_t3-8-bot_im.tga"), true);
    ASSERT_EQ(kept.status, 0);
    ASSERT_EQ(widened.status, 0);
    for (std::size_t i = 0; i < 64 * 48; ++i) {
        ASSERT_EQ(kept.image.pixels[2 * i], picture.image.pixels[i]);
        ASSERT_EQ(kept.image.pixels[2 * i + 1], 255);
        for (int c = 0; c < 3; ++c) ASSERT_EQ(widened.image.pixels[3 * i + c], picture.image.pixels[i]);
    }
}

TEST(TgaFixtures, IndicesOutsideTheColourMapAreBlack) {
    ReadResult noMap = readFile(fixturePath("hand_t1-no-cmap.tga"), true);
    ASSERT_EQ(noMap.status, 0);
    EXPECT_EQ(pixelsOf(noMap.image), std::vector<std::uint8_t>(64 * 48 * 3, 0));

    // 128 map entries: stored indices from 128 up are black.
    std::vector<std::uint8_t> file = readFileBytes(fixturePath("hand_t1-index-beyond-map.tga"));
    ReadResult r = readFile(fixturePath("hand_t1-index-beyond-map.tga"), true);
    ASSERT_EQ(r.status, 0);
    const std::size_t pixelStart = 18 + 128 * 3;
    int outside = 0;
    for (std::size_t i = 0; i < 64 * 48; ++i) {
        if (file[pixelStart + i] < 128) continue;
        ++outside;
        std::size_t row = 47 - i / 64, column = i % 64;  // stored bottom first
        const std::uint8_t* pixel = r.image.pixels.get() + row * r.image.rowBytes + 3 * column;
        ASSERT_EQ(pixel[0] | pixel[1] | pixel[2], 0) << "pixel " << i;
    }
    EXPECT_GT(outside, 0);
}

TEST(TgaRead, ColourMapFirstEntryIsSubtracted) {
    TgaSpec spec;
    spec.imageType = 1;
    spec.colourMapType = 1;
    spec.mapFirst = 16;
    spec.mapLength = 2;
    spec.mapEntryBits = 24;
    spec.colourMap = {1, 2, 3, 4, 5, 6};
    spec.width = 4;
    spec.height = 1;
    spec.pixels = {16, 17, 15, 18};  // entries 0, 1, -1, 2
    ReadResult r = readBytes(buildTga(spec));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(pixelsOf(r.image), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 0, 0, 0, 0, 0, 0}));
}

TEST(TgaRead, RowsArePutTopFirst) {
    for (int descriptor : {0x00, 0x20}) {
        for (int depth : {8, 24}) {
            SCOPED_TRACE(testing::Message() << "descriptor " << descriptor << " depth " << depth);
            TgaSpec spec;
            spec.width = 3;
            spec.height = 2;
            spec.pixelDepth = depth;
            spec.descriptor = descriptor;
            for (int i = 0; i < 6 * depth / 8; ++i) spec.pixels.push_back(std::uint8_t(i + 1));
            ReadResult r = readBytes(buildTga(spec));
            ASSERT_EQ(r.status, 0);
            std::vector<std::uint8_t> stored = spec.pixels;
            if (descriptor == 0) {
                std::size_t half = stored.size() / 2;
                std::rotate(stored.begin(), stored.begin() + half, stored.end());
            }
            EXPECT_EQ(pixelsOf(r.image), stored);
        }
    }
}

// Files cut at each reading step; none may be accepted or allocate.
TEST(TgaRead, TruncatedFilesAreRefused) {
    const std::string endOfFile = "ERROR: Unexpected end of file in TARGA image.\n";
    TgaSpec spec;
    spec.idLength = 5;
    spec.colourMapType = 1;
    spec.mapLength = 4;
    spec.mapEntryBits = 24;
    spec.colourMap.assign(12, 7);
    spec.width = 5;
    spec.height = 3;
    spec.pixels.assign(15, 9);
    const std::vector<std::uint8_t> whole = buildTga(spec);
    ASSERT_EQ(readBytes(whole).status, 0);
    struct Cut {
        std::size_t length;
        std::string message;
    };
    const std::vector<Cut> cuts = {
        {0, "ERROR: Can't read TARGA image type -1 (compressed image)\n"},
        {2, "ERROR: Can't read TARGA image type -1 (compressed image)\n"},
        {3, endOfFile}, {10, endOfFile}, {17, endOfFile},
        {20, endOfFile},                  // inside the image ID
        {30, endOfFile},                  // inside the colour map
        {whole.size() - 1, endOfFile},    // inside the pixel data
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.length);
        ReadResult r = readBytes(std::vector<std::uint8_t>(whole.begin(), whole.begin() + cut.length));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, cut.message);
        EXPECT_EQ(r.image.pixels, nullptr);
    }
    // The missing entry-size byte is found before the colour-map length is tested.
    TgaSpec longMap;
    longMap.mapLength = 300;
    std::vector<std::uint8_t> seven = buildTga(longMap);
    seven.resize(7);
    EXPECT_EQ(readBytes(seven).err, endOfFile);
}

TEST(TgaRead, HugeClaimInATinyFileIsRefusedAtOnce) {
    TgaSpec spec;
    spec.imageType = 2;
    spec.pixelDepth = 24;
    spec.width = 65535;
    spec.height = 65535;
    spec.pixels.assign(100, 1);
    auto begin = std::chrono::steady_clock::now();
    ReadResult r = readBytes(buildTga(spec));
    auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Unexpected end of file in TARGA image.\n");
    EXPECT_LT(elapsed, std::chrono::seconds(1));
}

TEST(TgaRead, LayoutRefusalsFromBuiltHeaders) {
    struct Case {
        int type, depth, mapType, mapLength, mapBits;
        const char* message;
    };
    const std::vector<Case> cases = {
        {2, 24, 0, 300, 0, "Can't read paletted images with more than 256 colors."},
        {1, 8, 1, 16, 16, "Can't read non-24bit-palettes."},
        {3, 7, 0, 0, 0, "Can't read targas with less than 8 bits per pixel."},
        {1, 32, 1, 2, 24, "Can't read >24bit paletted targas."},
        {3, 32, 0, 0, 0, "Can't read >24bit grayscale targas."},
        {2, 16, 0, 0, 0, "Can only read 24bit truecolor targas."},
        {8, 8, 0, 0, 0, "Unknown targa type."},
        {10, 24, 0, 0, 0, "Can't read TARGA image type 10 (compressed image)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TgaSpec spec;
        spec.imageType = c.type;
        spec.pixelDepth = c.depth;
        spec.colourMapType = c.mapType;
        spec.mapLength = c.mapLength;
        spec.mapEntryBits = c.mapBits;
        spec.width = 2;
        spec.height = 2;
        spec.pixels.assign(16, 0);
        ReadResult r = readBytes(buildTga(spec));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string("ERROR: ") + c.message + "\n");
        EXPECT_EQ(r.out, "\n");
    }
}

TEST(LoadImage, PrintsAndBlanksItsProgressText) {
    const std::string blank = "\r" + std::string(67, ' ') + "\r";
    std::string path = temporaryDirectory() + "/h.tga";
    writeFileBytes(path, greyTga(2, 2, {1, 2, 3, 4}));
    for (bool heightImage : {true, false}) {
        TgaImage image;
        testing::internal::CaptureStdout();
        EXPECT_EQ(loadImage(image, path.c_str(), heightImage), 0);
        std::string text = heightImage ? "Reading height (elevation) image..." : "Reading pattern image...";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), text + blank);
        EXPECT_EQ(image.rowBytes, heightImage ? 2 : 6);
        std::vector<std::uint8_t> row(std::size_t(image.rowBytes));
        copyImageRow(image, row.data(), 1);
        std::vector<std::uint8_t> expected = {3, 4};
        if (!heightImage) expected = {3, 3, 3, 4, 4, 4};
        EXPECT_EQ(row, expected);
    }
    // A refusal: progress text, newline, error, blanking.
    writeFileBytes(path, {0, 0, 9});
    TgaImage image;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadImage(image, path.c_str(), false), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: Can't read TARGA image type 9 (compressed image)\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Reading pattern image...\n" + blank);
}

TEST(LoadImage, MissingFileGivesOnlyTheOpenError) {
    std::string path = temporaryDirectory() + "/missing.tga";
    TgaImage image;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadImage(image, path.c_str(), false), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't open input file '" + path + "'.\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
