// Writing the output file: header, finished rows, CutOff and write failures.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "files/files.h"
#include "support/planned_run.h"
#include "support/test_support.h"

namespace rdsgen {
namespace {

// A RowBuffer whose pixel i is blue i, green 100 + i, red 200 + i (mod 256).
std::vector<std::uint8_t> numberedRow(int pixels) {
    std::vector<std::uint8_t> row;
    for (int i = 0; i < pixels; ++i) {
        row.push_back(std::uint8_t(i));
        row.push_back(std::uint8_t(100 + i));
        row.push_back(std::uint8_t(200 + i));
    }
    return row;
}

// The geometry of a run over a grey height image of the given size.
// Its rows are held at three bytes per pixel, as colour rows are.
RowGeometry geometryFor(const Settings& settings, int inputWidth, int inputHeight) {
    RowGeometry geometry = planRun(settings, ImageHeader{inputWidth, inputHeight, PixelKind::kGrey8}).geometry;
    geometry.pixelBytes = 3;
    return geometry;
}

// Settings for an output of true colour or grey without a focus band.
Settings outputSettings(bool trueColour) {
    Settings settings;
    settings.TrueOut = trueColour ? 1 : 0;
    settings.FocP = 0;
    return settings;
}

// Writes the header and `rows` finished copies of row through a FileSink
// and returns the file's bytes.
std::vector<std::uint8_t> writeFile(const RowGeometry& geometry, const std::vector<std::uint8_t>& row,
                                    int rows = 1) {
    std::string path = temporaryDirectory() + "/out.tga";
    FileSink file;
    EXPECT_TRUE(openFileSink(file, path.c_str()));
    RowSink sink = fileRowSink(file);
    const std::array<std::uint8_t, 18> header = tgaHeader(geometry);
    EXPECT_TRUE(sink.write(sink.context, header.data(), header.size()));
    for (int i = 0; i < rows; ++i) {
        std::vector<std::uint8_t> buffer = row;  // finished in place
        const std::uint8_t* finished = finishRow(geometry, buffer.data());
        EXPECT_TRUE(sink.write(sink.context, finished, std::size_t(geometry.outputRowBytes)));
    }
    EXPECT_TRUE(closeFileSink(file));
    return readFileBytes(path);
}

TEST(TgaWriter, HeaderAndRowsWithoutPadding) {
    RowGeometry large = geometryFor(outputSettings(true), 640 - 68, 480);
    EXPECT_EQ(writeFile(large, {}, 0), (std::vector<std::uint8_t>{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                  0x80, 0x02, 0xE0, 0x01, 0x18, 0x20}));
    RowGeometry colour = geometryFor(outputSettings(true), 301 - 68, 1);
    ASSERT_EQ(colour.outputRowBytes, 3 * 301);
    std::vector<std::uint8_t> bytes = writeFile(colour, numberedRow(301));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 18, bytes.end()), numberedRow(301));

    // Grey: type 3, depth 8, and the blue byte of each pixel.
    RowGeometry grey = geometryFor(outputSettings(false), 301 - 68, 1);
    bytes = writeFile(grey, numberedRow(301));
    ASSERT_EQ(bytes.size(), 18u + 301u);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(bytes[16], 8);
    for (int i = 0; i < 301; ++i) ASSERT_EQ(bytes[18 + i], std::uint8_t(i));
}

// CutOff skips the first half of the pattern width (at output resolution).
TEST(TgaWriter, CutOffAndDouble) {
    struct Case {
        int PSiz, Double, firstPixel;
    };
    for (const Case& c : {Case{67, 0, 34}, Case{67, 1, 67}, Case{68, 0, 34}, Case{68, 1, 68}}) {
        SCOPED_TRACE(testing::Message() << "PSiz " << c.PSiz << " Double " << c.Double);
        Settings settings = outputSettings(false);
        settings.CutOff = 1;
        settings.PSiz = c.PSiz;
        settings.Double = c.Double;
        // Ten output pixels: a five-pixel input with Double.
        RowGeometry geometry = geometryFor(settings, 10 / (1 + c.Double), 1);
        ASSERT_EQ(geometry.outputRowBytes, 10);
        std::vector<std::uint8_t> bytes = writeFile(geometry, numberedRow(c.firstPixel + 10));
        std::vector<std::uint8_t> expected;
        for (int k = 0; k < 10; ++k) expected.push_back(std::uint8_t(c.firstPixel + k));
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 18, bytes.end()), expected);
    }
}

// After a failed write nothing more is taken, and closing reports the failure.
TEST(TgaWriter, WriteFailuresStopTheOutput) {
    RowGeometry geometry = geometryFor(outputSettings(true), 1000 - 68, 1);
    FileSink full;
    ASSERT_TRUE(openFileSink(full, "/dev/full"));
    RowSink sink = fileRowSink(full);
    const std::array<std::uint8_t, 18> header = tgaHeader(geometry);
    EXPECT_FALSE(sink.write(sink.context, header.data(), header.size()));
    std::vector<std::uint8_t> row = numberedRow(1000);
    for (int i = 0; i < 200; ++i) ASSERT_FALSE(sink.write(sink.context, row.data(), row.size())) << i;
    EXPECT_TRUE(full.failed);
    EXPECT_FALSE(closeFileSink(full));
}

// A device that refuses the header is never removed.
TEST(TgaWriter, HeaderWriteFailureOnADeviceKeepsTheDevice) {
    std::string link = temporaryDirectory() + "/full.tga";
    ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
    RowGeometry geometry = geometryFor(outputSettings(true), 4, 1);
    FileSink file;
    ASSERT_TRUE(openFileSink(file, link.c_str()));
    const std::array<std::uint8_t, 18> header = tgaHeader(geometry);
    RowSink sink = fileRowSink(file);
    EXPECT_FALSE(sink.write(sink.context, header.data(), header.size()));
    EXPECT_FALSE(closeFileSink(file));
    removePartialOutput(link.c_str());
    EXPECT_TRUE(fileExists(link));
}

// Under a 10-byte file-size limit the header cannot be written (the first
// write is flushed at once) and the partial file must go. A child process
// keeps the limit to itself.
TEST(TgaWriter, HeaderWriteFailureRemovesTheFile) {
    std::string path = temporaryDirectory() + "/limited.tga";
    RowGeometry geometry = geometryFor(outputSettings(true), 4, 1);
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{10, 10};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        FileSink file;
        if (!openFileSink(file, path.c_str())) _exit(3);
        const std::array<std::uint8_t, 18> header = tgaHeader(geometry);
        RowSink sink = fileRowSink(file);
        const bool written = sink.write(sink.context, header.data(), header.size());
        const bool closed = closeFileSink(file);
        removePartialOutput(path.c_str());
        _exit(!written && !closed ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fileExists(path));
}

// A new output file gets room for the whole image before it is written:
// exactly the bytes a run writes (focus band, Double, CutOff, colour), and
// room only, so that a file given too much ends where its bytes end.
TEST(TgaWriter, RoomForTheOutputIsItsSizeAndAddsNoBytes) {
    const Image heights = makeImage(40, 61, PixelKind::kGrey8);
    for (int variant = 0; variant < 4; ++variant) {
        Settings settings;
        settings.Double = variant == 1;
        settings.CutOff = variant == 2;
        settings.TrueOut = variant == 3;
        settings.PatT = variant == 3 ? 6 : 1;
        const Plan planned = plan(settings, headerOf(heights));
        ASSERT_TRUE(planned);
        std::vector<std::uint8_t> bytes;
        const RowSink sink{[](void* context, const std::uint8_t* data, std::size_t count) {
                               auto& out = *static_cast<std::vector<std::uint8_t>*>(context);
                               out.insert(out.end(), data, data + count);
                               return true;
                           },
                           &bytes};
        ASSERT_TRUE(render(planned, heights, nullptr, RenderOptions{}, sink));
        EXPECT_EQ(bytes.size(), planned.tgaBytes) << "variant " << variant;
    }

    const std::string path = temporaryDirectory() + "/room.tga";
    OutputFile output;
    ASSERT_TRUE(openOutputFile(output, path.c_str(), 1 << 20));
    const std::uint8_t ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    RowSink sink = fileRowSink(output.sink);
    ASSERT_TRUE(sink.write(sink.context, ten, sizeof ten));
    ASSERT_TRUE(commitOutputFile(output));
    EXPECT_EQ(readFileBytes(path), std::vector<std::uint8_t>(ten, ten + 10));
}

}  // namespace
}  // namespace rdsgen
