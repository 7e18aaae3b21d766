// Writing the output file: header, rows, CutOff, Double and write failures.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "support/test_support.h"

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

TgaImage outputRecord(int imageType, int width, int height) {
    TgaImage image;
    image.format = 1;
    image.imageType = std::int16_t(imageType);
    image.width = width;
    image.height = height;
    return image;
}

// Creates the file, writes `rows` copies of row and returns the file's bytes.
std::vector<std::uint8_t> writeFile(TgaImage& image, std::vector<std::uint8_t> row, int rows = 1) {
    std::string path = temporaryDirectory() + "/out.tga";
    EXPECT_EQ(openOutputTga(image, path.c_str()), 0);
    for (int i = 0; i < rows; ++i) writeOutputRow(image, row.data());
    EXPECT_EQ(std::fclose(image.stream), 0);
    return readFileBytes(path);
}

class TgaWriter : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
};

TEST_F(TgaWriter, HeaderAndRowsWithoutPadding) {
    TgaImage large = outputRecord(2, 640, 480);
    EXPECT_EQ(writeFile(large, {}, 0), (std::vector<std::uint8_t>{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                  0x80, 0x02, 0xE0, 0x01, 0x18, 0x20}));
    TgaImage colour = outputRecord(2, 301, 1);
    std::vector<std::uint8_t> bytes = writeFile(colour, numberedRow(301));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 18, bytes.end()), numberedRow(301));

    // Grey: type 3, depth 8, and the blue byte of each pixel.
    TgaImage grey = outputRecord(3, 301, 1);
    bytes = writeFile(grey, numberedRow(301));
    ASSERT_EQ(bytes.size(), 18u + 301u);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(bytes[16], 8);
    for (int i = 0; i < 301; ++i) ASSERT_EQ(bytes[18 + i], std::uint8_t(i));
}

TEST_F(TgaWriter, CutOffAndDouble) {
    struct Case {
        int PSiz, Double, firstPixel;
    };
    for (const Case& c : {Case{67, 0, 34}, Case{67, 1, 67}, Case{68, 0, 34}, Case{68, 1, 68}}) {
        SCOPED_TRACE(testing::Message() << "PSiz " << c.PSiz << " Double " << c.Double);
        settings.CutOff = 1;
        settings.PSiz = c.PSiz;
        settings.Double = c.Double;
        TgaImage image = outputRecord(3, 10, 1 + c.Double);
        std::vector<std::uint8_t> bytes = writeFile(image, numberedRow(c.firstPixel + 10));
        // Each written row: pixels firstPixel ... firstPixel + 9, twice with Double.
        std::vector<std::uint8_t> expected;
        for (int copy = 0; copy <= c.Double; ++copy) {
            for (int k = 0; k < 10; ++k) expected.push_back(std::uint8_t(c.firstPixel + k));
        }
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 18, bytes.end()), expected);
    }
}

TEST_F(TgaWriter, RowWriteFailuresStopTheOutput) {
    TgaImage image = outputRecord(2, 4, 1);
    image.format = 0;  // nothing is written unless format is 1
    EXPECT_EQ(writeFile(image, numberedRow(4)).size(), 18u);

    TgaImage full = outputRecord(2, 1000, 1);
    full.rowBytes = 3000;
    full.stream = std::fopen("/dev/full", "wb");
    ASSERT_NE(full.stream, nullptr);
    std::vector<std::uint8_t> row = numberedRow(1000);
    for (int i = 0; i < 200 && full.format == 1; ++i) writeOutputRow(full, row.data());
    EXPECT_EQ(full.format, 0);
    std::fclose(full.stream);
}

// A device that refuses the header is reported but never removed.
TEST_F(TgaWriter, HeaderWriteFailureOnADeviceKeepsTheDevice) {
    std::string link = temporaryDirectory() + "/full.tga";
    ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
    TgaImage image = outputRecord(2, 4, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(openOutputTga(image, link.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write output file '" + link + "'.\n");
    EXPECT_TRUE(fileExists(link));
}

// Under a 10-byte file-size limit the header cannot be written and the
// partial file must be gone. A child process keeps the limit to itself.
TEST_F(TgaWriter, HeaderWriteFailureRemovesTheFile) {
    std::string path = temporaryDirectory() + "/limited.tga";
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{10, 10};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || !std::freopen("/dev/null", "w", stderr)) _exit(2);
        TgaImage image = outputRecord(2, 4, 1);
        _exit(openOutputTga(image, path.c_str()) == 1 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fileExists(path));
}

}  // namespace
