// Cutting a stream of concatenated images apart.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "files/files.h"
#include "support/image_files.h"
#include "support/test_support.h"

using namespace rdsgen;

namespace {

std::vector<std::uint8_t> join(const std::vector<std::vector<std::uint8_t>>& parts) {
    std::vector<std::uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::uint8_t> smallPng(std::uint32_t seed) {
    PngLayout layout;
    layout.width = 9;
    layout.height = 5;
    layout.samples = noiseSamples(45, 8, seed);
    layout.extraChunks = {{"tEXt", {'I', 'E', 'N', 'D'}}};  // a chunk whose data reads "IEND"
    return buildPng(layout);
}

// A TARGA 2.0 file: the pixels, a 495-byte extension area, the footer.
std::vector<std::uint8_t> tgaWithFooter() {
    std::vector<std::uint8_t> file = greyTga(4, 3, std::vector<std::uint8_t>(12, 0x4D));
    std::vector<std::uint8_t> extension(495, 0);
    extension[0] = 495 & 0xFF;
    extension[1] = 495 >> 8;
    file.insert(file.end(), extension.begin(), extension.end());
    // Eight bytes of offsets, then the signature with its terminating 0.
    static constexpr char kSignature[] = "TRUEVISION-XFILE.";
    file.resize(file.size() + 8, 0);
    file.insert(file.end(), kSignature, kSignature + sizeof kSignature);
    return file;
}

// Feeds the stream through a pipe-like descriptor and collects its images.
Status splitThroughFile(const std::vector<std::uint8_t>& bytes, std::vector<std::vector<std::uint8_t>>& images) {
    const std::string path = temporaryDirectory() + "/stream";
    writeFileBytes(path, bytes);
    ImageStream stream;
    stream.descriptor = open(path.c_str(), O_RDONLY);
    Status status;
    for (;;) {
        std::vector<std::uint8_t> file;
        bool got = false;
        status = nextStreamImage(stream, file, got);
        if (!status || !got) break;
        images.push_back(file);
    }
    close(stream.descriptor);
    return status;
}

}  // namespace

TEST(ImageStreamTest, SplitsEachFormatWhereItsFileEnds) {
    JpegLayout jpeg;
    jpeg.width = 8;
    jpeg.height = 8;
    jpeg.pixels.assign(64, 0x80);
    const std::vector<std::vector<std::uint8_t>> files = {
        smallPng(1), greyTga(3, 2, {1, 2, 3, 4, 5, 6}), tgaWithFooter(), buildJpeg(jpeg), smallPng(2)};
    std::vector<std::vector<std::uint8_t>> images;
    ASSERT_TRUE(splitThroughFile(join(files), images));
    EXPECT_EQ(images, files);

    images.clear();
    ASSERT_TRUE(splitThroughFile({}, images));  // an empty stream holds no image
    EXPECT_TRUE(images.empty());
}

TEST(ImageStreamTest, AStreamEndingInsideAnImageIsRefused) {
    const std::vector<std::uint8_t> png = smallPng(3);
    const std::vector<std::uint8_t> tga = greyTga(4, 4, std::vector<std::uint8_t>(16, 9));
    const std::vector<std::vector<std::uint8_t>> cut = {
        join({png, std::vector<std::uint8_t>(png.begin(), png.end() - 1)}),
        join({png, std::vector<std::uint8_t>(tga.begin(), tga.end() - 3)}),
        join({tga, std::vector<std::uint8_t>(tga.begin(), tga.begin() + 10)})};
    const StatusCode expected[] = {StatusCode::kPngError, StatusCode::kTgaEndOfFile, StatusCode::kTgaEndOfFile};
    for (std::size_t k = 0; k < cut.size(); ++k) {
        std::vector<std::vector<std::uint8_t>> images;
        const Status status = splitThroughFile(cut[k], images);
        EXPECT_EQ(status.code, expected[k]) << k;
        EXPECT_EQ(images.size(), 1u) << k;  // the whole first image came out first
    }
}

// The file sink rewrites bytes already written (an animated PNG's frame
// count), in a regular file only.
TEST(FileSinkTest, RewritesBytesOfARegularFileOnly) {
    const std::string path = temporaryDirectory() + "/out";
    FileSink file;
    ASSERT_TRUE(openFileSink(file, path.c_str()));
    RowSink sink = fileRowSink(file);
    const std::uint8_t first[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    const std::uint8_t patch[2] = {'X', 'Y'};
    ASSERT_TRUE(sink.write(sink.context, first, 6));
    ASSERT_TRUE(sink.write(sink.context, first, 2));  // still buffered when rewritten
    ASSERT_TRUE(sink.rewrite(sink.context, 1, patch, 2));
    ASSERT_TRUE(sink.write(sink.context, first + 2, 1));
    ASSERT_TRUE(closeFileSink(file));
    EXPECT_EQ(readFileBytes(path), (std::vector<std::uint8_t>{'a', 'X', 'Y', 'd', 'e', 'f', 'a', 'b', 'c'}));

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FileSink piped;
    ASSERT_TRUE(adoptFileSink(piped, ends[1]));
    sink = fileRowSink(piped);
    ASSERT_TRUE(sink.write(sink.context, first, 6));
    EXPECT_FALSE(sink.rewrite(sink.context, 0, patch, 2));
    closeFileSink(piped);
    close(ends[0]);
}
