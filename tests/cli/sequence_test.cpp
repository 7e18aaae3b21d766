// Frame sequences on the command line: numbered frames and image streams
// in; numbered files and a PNG stream out; the refusals of bad sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gif_lib.h>

#include "cli/cli.h"
#include "sequence/apng_reader.h"
#include "support/test_support.h"

using namespace rdsgen;

namespace {

// A 40 x 24 height image with a disc that moves with k.
std::vector<std::uint8_t> frameTga(int k, int width = 40, int height = 24) {
    std::vector<std::uint8_t> heights(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int dx = x - 10 - 3 * k;
            const int dy = y - 12;
            heights[static_cast<std::size_t>(y * width + x)] = dx * dx + dy * dy < 36 ? 200 : 20;
        }
    }
    return greyTga(width, height, heights);
}

std::string bytesOf(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Frames f1.tga to f<count>.tga in a fresh directory.
std::string framesDirectory(int count) {
    const std::string dir = temporaryDirectory();
    for (int k = 1; k <= count; ++k) writeFileBytes(dir + "/f" + std::to_string(k) + ".tga", frameTga(k));
    return dir;
}

}  // namespace

TEST(FrameNameTest, ReadsOneFrameNumberAndLiteralPercents) {
    FrameName name = readFrameName("depth/f%04d.png");
    EXPECT_EQ(name.kind, NameKind::kNumbered);
    EXPECT_EQ(frameFileName(name, 7), "depth/f0007.png");
    EXPECT_EQ(frameFileName(name, 123456), "depth/f123456.png");
    name = readFrameName("100%%-%d%%.tga");
    EXPECT_EQ(name.kind, NameKind::kNumbered);
    EXPECT_EQ(frameFileName(name, 3), "100%-3%.tga");
    name = readFrameName("a%%b.tga");
    EXPECT_EQ(name.kind, NameKind::kSingle);
    EXPECT_EQ(name.before, "a%b.tga");
    // A '%' that starts no frame number leaves the name as it was typed.
    for (const char* literal : {"50%.tga", "a%x%d.tga", "f%4d.tga", "f%0d.tga", "%"}) {
        name = readFrameName(literal);
        EXPECT_EQ(name.kind, NameKind::kSingle) << literal;
        EXPECT_EQ(name.before, literal);
    }
    EXPECT_EQ(readFrameName("f%d_%03d.tga").kind, NameKind::kTwoNumbers);
}

// Each numbered output is the single-image run of its frame; /Dots:New
// moves the seed on by one a frame.
TEST(SequenceRunTest, NumberedFramesEqualSingleRuns) {
    const std::string dir = framesDirectory(3);
    ProcessResult r = runRdsgenProcess({"f%d.tga", "s%02d.png", "/Rand:7"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("frame 3/3 ]"), std::string::npos);
    r = runRdsgenProcess({"f%d.tga", "n%d", "/Rand:7", "/Dots:new"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 1; k <= 3; ++k) {
        const std::string n = std::to_string(k);
        ASSERT_EQ(runRdsgenProcess({"f" + n + ".tga", "one.png", "/Rand:7"}, dir).status, 0);
        EXPECT_EQ(bytesOf(dir + "/s0" + n + ".png"), bytesOf(dir + "/one.png")) << k;
        ASSERT_EQ(runRdsgenProcess({"f" + n + ".tga", "one.tga", "/Rand:" + std::to_string(7 + k - 1)}, dir).status, 0);
        EXPECT_EQ(bytesOf(dir + "/n" + n + ".TGA"), bytesOf(dir + "/one.tga")) << k;
    }
    // /First:2 starts later; nothing but the frames is left behind.
    r = runRdsgenProcess({"f%d.tga", "l%d.png", "/Rand:7", "/First:2"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fileExists(dir + "/l1.png"));
    EXPECT_EQ(bytesOf(dir + "/l3.png"), bytesOf(dir + "/s03.png"));
    EXPECT_TRUE(otherFiles(dir, {"f1.tga", "f2.tga", "f3.tga", "s01.png", "s02.png", "s03.png", "n1.TGA",
                                 "n2.TGA", "n3.TGA", "one.png", "one.tga", "l2.png", "l3.png"})
                    .empty());
}

// A PNG stream on standard output is the numbered PNG files one after
// another, with every text on standard error; read back through standard
// input it gives the same files again.
TEST(SequenceRunTest, PngStreamOutAndImageStreamIn) {
    const std::string dir = framesDirectory(3);
    ASSERT_EQ(runRdsgenProcess({"f%d.tga", "s%d.png", "/Rand:9"}, dir).status, 0);
    const std::string joined = bytesOf(dir + "/s1.png") + bytesOf(dir + "/s2.png") + bytesOf(dir + "/s3.png");
    ProcessResult r = runRdsgenWithStreams({"f%d.tga", "-", "/Rand:9"}, dir, "", dir + "/stream.out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, joined);
    EXPECT_NE(r.err.find("finished."), std::string::npos);

    // TARGA frames and the PNG stream as input: frames numbered from 1.
    const std::string tgas = bytesOf(dir + "/f1.tga") + bytesOf(dir + "/f2.tga") + bytesOf(dir + "/f3.tga");
    writeFileBytes(dir + "/tgas.in", std::vector<std::uint8_t>(tgas.begin(), tgas.end()));
    r = runRdsgenWithStreams({"-", "t%d.png", "/Rand:9"}, dir, dir + "/tgas.in", dir + "/ignored");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* n : {"1", "2", "3"}) {
        EXPECT_EQ(bytesOf(dir + "/t" + n + ".png"), bytesOf(dir + "/s" + n + ".png")) << n;
    }
    // One image in, '-' out: one PNG on standard output.
    r = runRdsgenWithStreams({"f2.tga", "-", "/Rand:9"}, dir, "", dir + "/one.out");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, bytesOf(dir + "/s2.png"));
}

// Every bad sequence is refused with its ERROR line and status 1; frames
// written before a bad one stay, complete.
TEST(SequenceRunTest, BadSequencesAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::string dir = framesDirectory(3);
    writeFileBytes(dir + "/f5.tga", frameTga(5));             // a gap at 4
    writeFileBytes(dir + "/g1.tga", frameTga(1));
    writeFileBytes(dir + "/g2.tga", frameTga(2, 41, 24));     // another size
    writeFileBytes(dir + "/h0.tga", frameTga(0));
    writeFileBytes(dir + "/h1.tga", std::vector<std::uint8_t>(30, 0));  // broken
    const Case cases[] = {
        {{"f%d.tga", "o%d.png"}, "ERROR: Frame 4 ('f4.tga') is missing; the frames go on at 5 ('f5.tga').\n"},
        {{"g%d.tga", "o%d.png"}, "ERROR: Frame 2 ('g2.tga') is 41 x 24 pixels; the first frame is 40 x 24.\n"},
        {{"h%d.tga", "p%d.png", "/Rand:4"}, "ERROR: Frame 1 ('h1.tga'): Unknown targa type.\n"},
        {{"x%d.tga", "o%d.png"}, "ERROR: No input frame 'x0.tga' (nor 'x1.tga') for 'x%d.tga'.\n"},
        {{"f%d.tga", "o%d.png", "/First:7"}, "ERROR: Can't open input file 'f7.tga'.\n"},
        {{"f%d%d.tga", "o%d.png"}, "ERROR: Name 'f%d%d.tga' holds more than one frame number.\n"},
        {{"g%d.tga", "o.tga"},
         "ERROR: Output 'o.tga' can't hold a sequence of frames: name numbered files (%04d), one .png, .apng or "
         ".gif file, or - for standard output.\n"},
        {{"g1.tga", "o%d.tga"}, "ERROR: Output name 'o%d.tga' has a frame number, but input 'g1.tga' is a single image.\n"},
        {{"g%d.tga", "o%d.png", "/Rate:0"}, "ERROR: /Rate must be from 1 to 65535 frames per second.\n"},
        {{"g%d.tga", "o%d.png", "/Dots:old"}, "ERROR: /Dots takes Same or New.\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = runRdsgenProcess(c.args, dir);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.err, c.error) << c.args[0];
    }
    // The frame before the broken one is there and whole; no temporary file.
    ASSERT_EQ(runRdsgenProcess({"h0.tga", "single.png", "/Rand:4"}, dir).status, 0);
    EXPECT_EQ(bytesOf(dir + "/p0.png"), bytesOf(dir + "/single.png"));
    EXPECT_FALSE(fileExists(dir + "/p1.png"));
    EXPECT_EQ(otherFiles(dir, {"f1.tga", "f2.tga", "f3.tga", "f5.tga", "g1.tga", "g2.tga", "h0.tga", "h1.tga",
                               "p0.png", "single.png", "o1.png"}),
              std::vector<std::string>{});
}

TEST(SequenceRunTest, BadStreamsAreRefused) {
    const std::string dir = temporaryDirectory();
    const std::vector<std::uint8_t> frame = frameTga(1);
    std::vector<std::uint8_t> cut = frame;
    cut.insert(cut.end(), frame.begin(), frame.end() - 5);
    writeFileBytes(dir + "/cut.in", cut);
    ProcessResult r = runRdsgenWithStreams({"-", "o%d.png"}, dir, "", dir + "/out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.find("ERROR")), "ERROR: No image on standard input.\n");
    r = runRdsgenWithStreams({"-", "o%d.png"}, dir, dir + "/cut.in", dir + "/out");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Frame 2 ('-'): Unexpected end of file in TARGA image.\n");
    EXPECT_TRUE(fileExists(dir + "/o1.png"));
    EXPECT_FALSE(fileExists(dir + "/o2.png"));
}

namespace {

// The types of an animated PNG's chunks in order, after checking the
// signature; empty when it is no PNG.
std::vector<std::string> pngChunkTypes(const std::string& file, std::uint32_t& announcedFrames) {
    std::vector<std::string> types;
    if (file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return types;
    const auto number = [&file](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < 4; ++k) value = value << 8 | static_cast<std::uint8_t>(file[at + k]);
        return value;
    };
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = number(at);
        types.push_back(file.substr(at + 4, 4));
        if (types.back() == "acTL") announcedFrames = number(at + 8);
        at += 12 + length;
        if (at > file.size()) types.push_back("(cut)");
    }
    return types;
}

// The frames of a GIF file, counted by walking its blocks; -1 when the
// blocks do not end in the trailer at the file's end.
int gifFrames(const std::string& file) {
    if (file.compare(0, 6, "GIF89a") != 0 || file.size() < 13) return -1;
    const auto byte = [&file](std::size_t at) { return at < file.size() ? static_cast<std::uint8_t>(file[at]) : 0; };
    const auto skipSubBlocks = [&](std::size_t at) {
        while (at < file.size() && byte(at) != 0) at += 1 + byte(at);
        return at + 1;
    };
    std::size_t at = 13;
    if (byte(10) & 0x80) at += 3u << ((byte(10) & 7) + 1);  // the global colour table
    int frames = 0;
    while (at < file.size()) {
        if (byte(at) == 0x3B) return at + 1 == file.size() ? frames : -1;
        if (byte(at) == 0x21) {
            at = skipSubBlocks(at + 2);
        } else if (byte(at) == 0x2C) {
            const std::uint8_t flags = byte(at + 9);
            at += 10;
            if (flags & 0x80) at += 3u << ((flags & 7) + 1);  // a local colour table
            at = skipSubBlocks(at + 1);                     // after the LZW code size
            ++frames;
        } else {
            return -1;
        }
    }
    return -1;
}

}  // namespace

// An animated PNG and a GIF hold every frame, whether the frames are counted
// up front (files) or not (a stream); a sequence that fails leaves neither.
TEST(SequenceRunTest, AnimatedPngAndGifHoldEveryFrame) {
    const std::string dir = framesDirectory(3);
    ASSERT_EQ(runRdsgenProcess({"f%d.tga", "anim.png", "/Rand:3", "/Rate:10"}, dir).status, 0);
    ASSERT_EQ(runRdsgenProcess({"f%d.tga", "anim.gif", "/Rand:3"}, dir).status, 0);
    std::uint32_t announced = 0;
    const std::vector<std::string> types = pngChunkTypes(bytesOf(dir + "/anim.png"), announced);
    EXPECT_EQ(announced, 3u);
    EXPECT_EQ(std::count(types.begin(), types.end(), "fcTL"), 3);
    EXPECT_GE(std::count(types.begin(), types.end(), "fdAT"), 2);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.back(), "IEND");
    EXPECT_EQ(gifFrames(bytesOf(dir + "/anim.gif")), 3);

    // Decoded, every frame is the numbered PNG of that frame.
    ASSERT_EQ(runRdsgenProcess({"f%d.tga", "s%d.png", "/Rand:3"}, dir).status, 0);
    const std::vector<std::uint8_t> apngBytes = readFileBytes(dir + "/anim.png");
    const ApngFile apng = readApng(apngBytes);
    ASSERT_EQ(apng.error, "");
    ASSERT_EQ(apng.frames.size(), 3u);
    int error = 0;
    GifFileType* gif = DGifOpenFileName((dir + "/anim.gif").c_str(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 3);
    for (int k = 0; k < 3; ++k) {
        Image frame;
        ASSERT_TRUE(readPng(readFileBytes(dir + "/s" + std::to_string(k + 1) + ".png"), frame));
        ASSERT_EQ(frame.kind, PixelKind::kGrey8);
        const std::vector<std::uint8_t> expected(frame.pixels.get(),
                                                 frame.pixels.get() + frame.rowBytes * frame.height);
        EXPECT_EQ(apng.frames[k].pixels, expected) << k;
        EXPECT_EQ(apng.frames[k].delayNumerator * 10, apng.frames[k].delayDenominator) << k;  // 1/10 s
        const SavedImage& image = gif->SavedImages[k];
        const ColorMapObject* map = image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
        ASSERT_NE(map, nullptr);
        ASSERT_EQ(image.ImageDesc.Width * image.ImageDesc.Height, frame.width * frame.height);
        std::vector<std::uint8_t> grey(expected.size());
        for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = map->Colors[image.RasterBits[i]].Red;
        EXPECT_EQ(grey, expected) << k;
    }
    DGifCloseFile(gif, &error);

    const std::string tgas = bytesOf(dir + "/f1.tga") + bytesOf(dir + "/f2.tga") + bytesOf(dir + "/f3.tga");
    writeFileBytes(dir + "/tgas.in", std::vector<std::uint8_t>(tgas.begin(), tgas.end()));
    ProcessResult r =
        runRdsgenWithStreams({"-", "streamed.apng", "/Rand:3", "/Rate:10"}, dir, dir + "/tgas.in", dir + "/ignored");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(bytesOf(dir + "/streamed.apng"), bytesOf(dir + "/anim.png"));

    // Soft discs have more colours than a GIF frame holds.
    r = runRdsgenProcess({"f%d.tga", "soft.gif", "/PatT:7", "/Rand:2"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(r.err.find("ERROR")),
              "ERROR: Frame 1 ('f1.tga') has more than 256 colours, more than a GIF frame can hold; an animated PNG "
              "(.png or .apng) keeps them all.\n");
    EXPECT_FALSE(fileExists(dir + "/soft.gif"));

    // A frame of another size at the end: nothing written, nothing left behind.
    writeFileBytes(dir + "/f4.tga", frameTga(4, 40, 25));
    for (const char* name : {"bad.png", "bad.gif"}) {
        r = runRdsgenProcess({"f%d.tga", name}, dir);
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(r.err, "ERROR: Frame 4 ('f4.tga') is 40 x 25 pixels; the first frame is 40 x 24.\n") << name;
    }
    EXPECT_EQ(otherFiles(dir, {"f1.tga", "f2.tga", "f3.tga", "f4.tga", "anim.png", "anim.gif", "tgas.in",
                               "streamed.apng", "ignored", "s1.png", "s2.png", "s3.png"}),
              std::vector<std::string>{});
}
