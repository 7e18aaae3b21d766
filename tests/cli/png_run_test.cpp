// PNG and JPEG through the whole program: refusals, inputs that must run
// exactly like their TARGA twins, PNG output checked with libspng against
// the TARGA output of the same run, and memory for huge claims.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spng.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/image_files.h"
#include "support/test_support.h"

namespace {

using ByteVector = std::vector<std::uint8_t>;

std::vector<std::uint16_t> noise(std::size_t count, std::uint32_t mask, std::uint32_t seed) {
    std::vector<std::uint16_t> samples(count);
    for (std::uint16_t& s : samples) {
        seed = seed * 1103515245u + 12345u;
        s = static_cast<std::uint16_t>((seed >> 8) & mask);
    }
    return samples;
}

// A 64 x 40 grey height image: a raised square on a slope.
ByteVector heightsTga() {
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 64; ++x) pixels.push_back(x > 16 && x < 48 && y > 10 && y < 30 ? 200 : x * 2);
    }
    return greyTga(64, 40, pixels);
}

ProcessResult run(const std::string& dir, const std::vector<std::string>& args,
                  const std::vector<std::string>& environment = {}) {
    return runRdsgenProcess(args, dir, 0, environment);
}

TEST(PngRunTest, BadImagesEndWithTheirErrorLine) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", heightsTga());
    PngLayout png;
    png.width = 4;
    png.height = 3;
    png.samples = noise(12, 255, 1);
    png.badCrcChunk = "IHDR";
    writeFileBytes(dir + "/crc.png", buildPng(png));
    png.badCrcChunk.clear();
    png.claimedWidth = 70000;
    png.claimedHeight = 5;
    writeFileBytes(dir + "/wide.png", buildPng(png));
    JpegLayout jpeg;
    jpeg.width = jpeg.height = 32;
    jpeg.pixels.assign(32 * 32, 0);
    for (std::size_t i = 0; i < jpeg.pixels.size(); ++i) jpeg.pixels[i] = static_cast<std::uint8_t>(i * 7);
    ByteVector jpegFile = buildJpeg(jpeg);
    jpegFile.resize(jpegFile.size() / 2);
    writeFileBytes(dir + "/cut.jpg", jpegFile);

    const std::string crcLine = std::string("ERROR: Can't read PNG image 'crc.png': ") + spng_strerror(SPNG_ECHUNK_CRC) + ".\n";
    const std::string jpegLine = "ERROR: Can't read JPEG image 'cut.jpg': Premature end of JPEG file.\n";
    const std::string wideLine = "ERROR: Image 'wide.png' is too large (70000 x 5 pixels, at most 65535 x 65535).\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"crc.png", "out.tga"}, crcLine},
        {{"heights.tga", "out.tga", "/PatT:crc.png"}, crcLine},
        {{"cut.jpg", "out.tga"}, jpegLine},
        {{"heights.tga", "out.png", "/PatT:cut.jpg"}, jpegLine},
        {{"wide.png", "out.tga"}, wideLine},
        {{"heights.tga", "out.tga", "/PatT:wide.png"}, wideLine},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(args.back());
        const ProcessResult r = run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, line);
        EXPECT_FALSE(fileExists(dir + "/" + args[1]));
    }
}

// A file that ends before a whole PNG or JPEG signature is refused as that
// format, saying why, when its bytes begin the signature or its name ends
// in .png, .jpg or .jpeg; any other file keeps the TARGA reader's message.
TEST(PngRunTest, FilesEndingBeforeTheSignatureSaySo) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", heightsTga());
    const std::pair<std::string, ByteVector> files[] = {
        {"empty.png", {}},
        {"empty.JPEG", {}},
        {"two.jpg", {'h', 'i'}},
        {"part", {0x89, 'P', 'N', 'G'}},
        {"ff", {0xFF, 0xD8}},
        {"empty", {}},
        {"short.png", {'S', 'O', 'M', 'E', 'T', 'H', 'I', 'N', 'G'}},
    };
    for (const auto& [name, bytes] : files) writeFileBytes(dir + "/" + name, bytes);
    const auto png = [](const std::string& name, const std::string& reason) {
        return "ERROR: Can't read PNG image '" + name + "': " + reason + ".\n";
    };
    const auto jpeg = [](const std::string& name, const std::string& reason) {
        return "ERROR: Can't read JPEG image '" + name + "': " + reason + ".\n";
    };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"empty.png", "out.tga"}, png("empty.png", "file is empty")},
        {{"empty.JPEG", "out.tga"}, jpeg("empty.JPEG", "file is empty")},
        {{"two.jpg", "out.tga"}, jpeg("two.jpg", "file ends inside the signature")},
        {{"part", "out.tga"}, png("part", "file ends inside the signature")},
        {{"heights.tga", "out.tga", "/PatT:ff"}, jpeg("ff", "file ends inside the signature")},
        {{"empty", "out.tga"}, png("empty", "file is empty")},  // as an empty /dev/stdin
        {{"short.png", "out.tga"}, "ERROR: Can't read TARGA image type 77 (compressed image)\n"},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(args[0] + " " + args.back());
        const ProcessResult r = run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, line);
    }
}

// A TARGA file of 24-bit pixels (blue, green, red) or 8-bit grey, top row first.
ByteVector plainTga(int width, int height, bool grey, const ByteVector& pixels) {
    TgaLayout layout;
    layout.imageType = grey ? 3 : 2;
    layout.pixelDepth = grey ? 8 : 24;
    layout.width = width;
    layout.height = height;
    layout.pixels = pixels;
    return buildTga(layout);
}

ByteVector turbojpegPixels(const ByteVector& file, int width, int height, bool grey) {
    tjhandle handle = tjInitDecompress();
    ByteVector pixels(std::size_t(width) * height * (grey ? 1 : 3));
    tjDecompress2(handle, file.data(), file.size(), pixels.data(), width, 0, height, grey ? TJPF_GRAY : TJPF_BGR,
                  TJFLAG_ACCURATEDCT);
    tjDestroy(handle);
    return pixels;
}

// Each PNG or JPEG image, as the height image or the pattern image, gives
// the same output bytes as the TARGA image it stands for. The format is told
// by the content, not by the name.
TEST(PngRunTest, InputsRunLikeTheirTargaTwins) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", heightsTga());
    struct Case {
        std::string name;
        ByteVector file;
        ByteVector twin;
        std::vector<std::string> options;
        bool pattern;
    };
    std::vector<Case> cases;

    // 16-bit heights whose low bytes differ from their high bytes.
    PngLayout grey16;
    grey16.width = 60;
    grey16.height = 45;
    grey16.bitDepth = 16;
    TgaLayout twin16;
    twin16.width = 60;
    twin16.height = 45;
    twin16.pixelDepth = 16;
    for (int y = 0; y < 45; ++y) {
        for (int x = 0; x < 60; ++x) {
            const std::uint16_t v = static_cast<std::uint16_t>(x > 15 && x < 45 && y > 10 && y < 35 ? 0xC8F1 : x * 700 + y * 3);
            grey16.samples.push_back(v);
            twin16.pixels.insert(twin16.pixels.end(), {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)});
        }
    }
    const ByteVector grey16File = buildPng(grey16);
    cases.push_back({"grey16.png", grey16File, buildTga(twin16), {"/Rand:3"}, false});
    cases.push_back({"grey16.png", grey16File, buildTga(twin16), {"/Rand:3", "/PatT:6", "/Stret:Z"}, false});
    cases.push_back({"png-named.tga", grey16File, buildTga(twin16), {"/Rand:4", "/Double"}, false});

    // A palette pattern image and its colour-mapped twin.
    PngLayout palette;
    palette.width = 30;
    palette.height = 20;
    palette.colourType = kPngPalette;
    palette.bitDepth = 4;
    palette.samples = noise(600, 15, 9);
    TgaLayout mapped;
    mapped.imageType = 1;
    mapped.colourMapType = 1;
    mapped.mapLength = 16;
    mapped.mapEntryBits = 24;
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t red = static_cast<std::uint8_t>(i * 16), green = static_cast<std::uint8_t>(255 - i * 9),
                           blue = static_cast<std::uint8_t>(i * i);
        palette.palette.insert(palette.palette.end(), {red, green, blue});
        mapped.colourMap.insert(mapped.colourMap.end(), {blue, green, red});
    }
    mapped.width = 30;
    mapped.height = 20;
    for (std::uint16_t index : palette.samples) mapped.pixels.push_back(static_cast<std::uint8_t>(index));
    cases.push_back({"palette.png", buildPng(palette), buildTga(mapped), {"/Rand:5"}, true});

    // JPEG: grey heights and a colour pattern, as turbojpeg decodes them.
    JpegLayout greyJpeg;
    greyJpeg.width = 61;
    greyJpeg.height = 37;
    for (int i = 0; i < 61 * 37; ++i) greyJpeg.pixels.push_back(static_cast<std::uint8_t>(i % 61 * 4));
    const ByteVector greyJpegFile = buildJpeg(greyJpeg);
    cases.push_back({"grey.jpg", greyJpegFile, plainTga(61, 37, true, turbojpegPixels(greyJpegFile, 61, 37, true)),
                     {"/Rand:6"}, false});
    JpegLayout colourJpeg;
    colourJpeg.width = 29;
    colourJpeg.height = 31;
    colourJpeg.source = JpegSource::kColour;
    colourJpeg.subsampling = JpegSubsampling::k420;
    for (int i = 0; i < 29 * 31 * 3; ++i) colourJpeg.pixels.push_back(static_cast<std::uint8_t>(i * 13 + i / 87));
    const ByteVector colourJpegFile = buildJpeg(colourJpeg);
    cases.push_back({"colour.jpg", colourJpegFile,
                     plainTga(29, 31, false, turbojpegPixels(colourJpegFile, 29, 31, false)), {"/Rand:7"}, true});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.options.back());
        writeFileBytes(dir + "/" + c.name, c.file);
        writeFileBytes(dir + "/twin.tga", c.twin);
        auto outputOf = [&](const std::string& image) {
            std::vector<std::string> args = {c.pattern ? "heights.tga" : image, "out.tga"};
            if (c.pattern) args.push_back("/PatT:" + image);
            args.insert(args.end(), c.options.begin(), c.options.end());
            const ProcessResult r = run(dir, args);
            EXPECT_EQ(r.status, 0) << r.err;
            return readFileBytes(dir + "/out.tga");
        };
        const ByteVector expected = outputOf("twin.tga");
        EXPECT_GT(expected.size(), 18u);
        EXPECT_EQ(outputOf(c.name), expected);
    }
}

struct PngPicture {
    int error = -1;
    spng_ihdr header{};
    ByteVector pixels;  // grey, or red, green, blue
};

// Decoded by libspng, to the end of the file.
PngPicture decodeWithSpng(const ByteVector& file) {
    PngPicture picture;
    spng_ctx* context = spng_ctx_new(0);
    spng_set_png_buffer(context, file.data(), file.size());
    int error = spng_get_ihdr(context, &picture.header);
    const int format = picture.header.color_type == SPNG_COLOR_TYPE_GRAYSCALE ? SPNG_FMT_G8 : SPNG_FMT_RGB8;
    std::size_t size = 0;
    if (error == 0) error = spng_decoded_image_size(context, format, &size);
    if (error == 0) {
        picture.pixels.resize(size);
        error = spng_decode_image(context, picture.pixels.data(), size, format, 0);
    }
    if (error == 0) error = spng_decode_chunks(context);
    spng_ctx_free(context);
    picture.error = error;
    return picture;
}

// The pixels of a TARGA output (top row first) in PNG order.
ByteVector tgaPixelsInPngOrder(const ByteVector& tga) {
    if (tga.size() < 18) return {};
    ByteVector pixels(tga.begin() + 18, tga.end());
    if (tga[2] == 2) {
        for (std::size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
    }
    return pixels;
}

// A name ending in .png, in any case, gives a PNG file holding the pixels of
// the TARGA output of the same run: grey where the TARGA file is grey.
TEST(PngRunTest, PngOutputHoldsTheTargaPixels) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", heightsTga());
    struct Case {
        std::string name;
        std::vector<std::string> options;
        bool grey;
    };
    const Case cases[] = {
        {"out.png", {"/PatT:1"}, true},
        {"OUT.PNG", {"/PatT:6"}, false},
        {"double.Png", {"/PatT:6", "/Double"}, false},
        {"cut.png", {"/PatT:1", "/CutOff", "/FocP:2"}, true},
        {"true.png", {"/PatT:2", "/TrueOut", "/Double", "/CutOff", "/FocP:2"}, false},
    };
    for (const auto& [name, options, grey] : cases) {
        SCOPED_TRACE(name);
        auto runTo = [&](const std::string& output) {
            std::vector<std::string> args = {"heights.tga", output, "/Rand:11"};
            args.insert(args.end(), options.begin(), options.end());
            const ProcessResult r = run(dir, args);
            EXPECT_EQ(r.status, 0) << r.err;
            return readFileBytes(dir + "/" + output);
        };
        const ByteVector tga = runTo("out.tga");
        ASSERT_GE(tga.size(), 18u);
        EXPECT_EQ(tga[2], grey ? 3 : 2);
        const ByteVector png = runTo(name);
        const PngPicture picture = decodeWithSpng(png);
        ASSERT_EQ(picture.error, 0) << spng_strerror(picture.error);
        EXPECT_EQ(picture.header.width, static_cast<std::uint32_t>(tga[12] | tga[13] << 8));
        EXPECT_EQ(picture.header.height, static_cast<std::uint32_t>(tga[14] | tga[15] << 8));
        EXPECT_EQ(picture.header.bit_depth, 8);
        EXPECT_EQ(picture.header.color_type, grey ? SPNG_COLOR_TYPE_GRAYSCALE : SPNG_COLOR_TYPE_TRUECOLOR);
        EXPECT_EQ(picture.header.interlace_method, 0);
        EXPECT_TRUE(picture.pixels == tgaPixelsInPngOrder(tga));
        // The file ends with the standard empty IEND chunk.
        const ByteVector iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
        ASSERT_GE(png.size(), iend.size());
        EXPECT_TRUE(ByteVector(png.end() - 12, png.end()) == iend);
    }
    // Other names, .jpg included, give TARGA files.
    ASSERT_EQ(run(dir, {"heights.tga", "ref.tga", "/Rand:11", "/PatT:6"}).status, 0);
    const ByteVector reference = readFileBytes(dir + "/ref.tga");
    for (const std::string name : {"out.png.tga", "out.jpg", "png"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(run(dir, {"heights.tga", name, "/Rand:11", "/PatT:6"}).status, 0);
        EXPECT_TRUE(readFileBytes(dir + "/" + (name == "png" ? "png.TGA" : name)) == reference);
    }
}

// Blocks of rows are compressed on the worker threads: the file does not
// depend on how many there are.
TEST(PngRunTest, PngOutputIsTheSameForAnyThreadCount) {
    const std::string dir = temporaryDirectory();
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) pixels.push_back(static_cast<std::uint8_t>((x * x + y * 3) % 251));
    }
    writeFileBytes(dir + "/heights.tga", greyTga(640, 480, pixels));
    for (const std::string pattern : {"/PatT:6", "/PatT:1"}) {
        SCOPED_TRACE(pattern);
        ByteVector first;
        for (const std::string threads : {"1", "2", "3"}) {
            const ProcessResult r = run(dir, {"heights.tga", "out.png", "/Rand:2", pattern}, {"RDSGEN_THREADS=" + threads});
            ASSERT_EQ(r.status, 0) << r.err;
            const ByteVector png = readFileBytes(dir + "/out.png");
            ASSERT_EQ(decodeWithSpng(png).error, 0);
            if (first.empty()) {
                first = png;
            } else {
                EXPECT_TRUE(png == first) << threads << " threads";
            }
        }
    }
}

TEST(PngRunTest, PngInputIsNeverOverwritten) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", heightsTga());
    PngLayout layout;
    layout.width = 40;
    layout.height = 30;
    layout.samples = noise(1200, 255, 3);
    const ByteVector png = buildPng(layout);
    writeFileBytes(dir + "/x.png", png);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"x.png", "x.png"}, {"heights.tga", "x.png", "/PatT:x.png"}}) {
        const ProcessResult r = run(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "ERROR: Output file 'x.png' would overwrite an input image.\n");
        EXPECT_EQ(readFileBytes(dir + "/x.png"), png);
    }
}


// The probe is started with the program, while its process is small.
MemoryProbe probe;

// Small files claiming 65535 x 65535 pixels (the JPEG 65500 x 65500, the
// most its library takes; read whole: /CutOff keeps the output within its
// limits) are refused with memory for the data they hold, not for the
// pixels they claim.
TEST(PngRunTest, HugeClaimsInSmallFilesCostLittleMemory) {
    const std::string dir = temporaryDirectory();
    // The first rows of a 65535-pixel-wide image, each chunk whole.
    auto claim = [](int bitDepth, bool interlaced, std::uint32_t rows, std::size_t size) {
        PngLayout layout;
        layout.width = 65535;
        layout.height = rows;
        layout.colourType = bitDepth == 1 ? kPngGrey : kPngRgb;
        layout.bitDepth = bitDepth;
        layout.interlaced = interlaced;
        layout.claimedHeight = 65535;
        layout.idatPiece = 500;
        ByteVector file = buildPng(layout);
        // Whole chunks up to `size` bytes, then IEND.
        std::size_t end = 33;
        while (end < file.size()) {
            const std::size_t length = std::size_t(file[end]) << 24 | file[end + 1] << 16 | file[end + 2] << 8 | file[end + 3];
            if (end + 12 + length + 12 > size) break;
            end += 12 + length;
        }
        file.resize(end);
        const ByteVector iend = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
        file.insert(file.end(), iend.begin(), iend.end());
        return file;
    };
    JpegLayout jpeg;
    jpeg.width = jpeg.height = 16;
    jpeg.pixels.assign(256, 90);
    ByteVector jpegClaim = buildJpeg(jpeg);
    for (std::size_t i = 0; i + 8 < jpegClaim.size(); ++i) {
        if (jpegClaim[i] == 0xFF && jpegClaim[i + 1] == 0xC0) {
            for (std::size_t k = i + 5; k < i + 9; ++k) jpegClaim[k] = k % 2 == i % 2 ? 0xDC : 0xFF;
            break;
        }
    }
    const std::pair<std::string, ByteVector> cases[] = {
        {"100 bytes", claim(1, false, 2, 100)},
        {"8 KiB", claim(8, false, 40, 8192)},
        {"1 KiB interlaced", claim(1, true, 64, 1024)},
        {"JPEG", jpegClaim},
    };
    for (const auto& [name, file] : cases) {
        SCOPED_TRACE(name + ", " + std::to_string(file.size()) + " bytes");
        const std::string image = name == "JPEG" ? "claim.jpg" : "claim.png";
        writeFileBytes(dir + "/" + image, file);
        const auto [status, peakKiB] = memoryProbe().run(dir, {image, "out.tga", "/CutOff"});
        EXPECT_EQ(status, 1);
        EXPECT_LT(peakKiB, 64 * 1024) << "peak resident KiB";
        const ProcessResult r = run(dir, {image, "out.tga", "/CutOff"});
        EXPECT_EQ(r.err.rfind(name == "JPEG" ? "ERROR: Can't read JPEG image 'claim.jpg': "
                                             : "ERROR: Can't read PNG image 'claim.png': ", 0),
                  0u)
            << r.err;
        EXPECT_FALSE(fileExists(dir + "/out.tga"));
    }
}

// An image whose size the run refuses whatever its pixels (65500 wide and a
// 68-pixel pattern) is refused from its header: the broken data after the
// header is never decoded.
TEST(PngRunTest, SizesRefusedFromTheHeaderAlone) {
    const std::string dir = temporaryDirectory();
    PngLayout png;
    png.width = 8;
    png.height = 2;
    png.claimedWidth = 65500;
    png.claimedHeight = 16000;
    png.bitDepth = 1;
    writeFileBytes(dir + "/wide.png", buildPng(png));
    JpegLayout jpeg;
    jpeg.width = jpeg.height = 16;
    jpeg.pixels.assign(256, 90);
    ByteVector wideJpeg = buildJpeg(jpeg);
    for (std::size_t i = 0; i + 8 < wideJpeg.size(); ++i) {
        if (wideJpeg[i] == 0xFF && wideJpeg[i + 1] == 0xC0) {  // height, then width: 16000 x 65500
            const std::uint8_t size[] = {0x3E, 0x80, 0xFF, 0xDC};
            std::copy(std::begin(size), std::end(size), wideJpeg.begin() + static_cast<std::ptrdiff_t>(i + 5));
            break;
        }
    }
    writeFileBytes(dir + "/wide.jpg", wideJpeg);
    for (const char* image : {"wide.png", "wide.jpg"}) {
        const ProcessResult r = run(dir, {image, "out.tga"});
        EXPECT_EQ(r.status, 1) << image;
        EXPECT_EQ(r.err, "ERROR: Output image too large (65568 x 16533 pixels, at most 65535 x 65535).\n")
            << image;
        // With stripes the pattern width is known from the header too.
        EXPECT_EQ(run(dir, {image, "out.tga", "/PSiz:S2"}).err,
                  "ERROR: Output image too large (98250 x 16533 pixels, at most 65535 x 65535).\n")
            << image;
    }
}

// PNG rows are written as they are made: an output of 60 MB of raw pixels
// (a tall image, doubled, in colour) needs no memory for its rows.
TEST(PngRunTest, PngOutputMemoryStaysFlat) {
    const std::string dir = temporaryDirectory();
    std::vector<std::uint8_t> pixels(std::size_t(100) * 30000);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i % 100 * 3 + i / 100);
    writeFileBytes(dir + "/tall.tga", greyTga(100, 30000, pixels));
    const auto [status, peakKiB] = memoryProbe().run(dir, {"tall.tga", "tall.png", "/PatT:6", "/Double", "/Rand:1"});
    EXPECT_EQ(status, 0);
    EXPECT_LT(peakKiB, 32 * 1024) << "peak resident KiB";
    const ByteVector png = readFileBytes(dir + "/tall.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_GE(png[22] << 8 | png[23], 60000);  // the height in the header
}

}  // namespace

MemoryProbe& memoryProbe() { return probe; }
