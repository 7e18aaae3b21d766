// Writing the output file: header, rows, CutOff, Double and write failures.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "support/test_support.h"

namespace {

// A row buffer whose pixel i holds blue i, green 100 + i, red 200 + i (mod 256).
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

// Opens path, writes the given rows and closes; returns the file's bytes.
std::vector<std::uint8_t> writeFile(TgaImage& image, std::vector<std::vector<std::uint8_t>> rows) {
    std::string path = temporaryDirectory() + "/out.tga";
    EXPECT_EQ(openOutputTga(image, path.c_str()), 0);
    for (std::vector<std::uint8_t>& row : rows) writeOutputRow(image, row.data());
    EXPECT_EQ(std::fclose(image.stream), 0);
    image.stream = nullptr;
    return readFileBytes(path);
}

class TgaWriter : public testing::Test {
protected:
    void SetUp() override { resetRunState(); }
};

TEST_F(TgaWriter, HeaderOfTrueColourAndGreyOutput) {
    TgaImage colour = outputRecord(2, 640, 480);
    std::vector<std::uint8_t> bytes = writeFile(colour, {});
    const std::vector<std::uint8_t> expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                0x80, 0x02, 0xE0, 0x01, 0x18, 0x20};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(colour.rowBytes, 1920);

    TgaImage grey = outputRecord(3, 301, 2);
    bytes = writeFile(grey, {});
    ASSERT_EQ(bytes.size(), 18u);
    EXPECT_EQ(bytes[2], 3);
    EXPECT_EQ(bytes[16], 8);
    EXPECT_EQ(grey.rowBytes, 301);
}

TEST_F(TgaWriter, RowsOfOddWidthHaveNoPadding) {
    TgaImage colour = outputRecord(2, 301, 1);
    std::vector<std::uint8_t> row = numberedRow(301);
    std::vector<std::uint8_t> bytes = writeFile(colour, {row});
    ASSERT_EQ(bytes.size(), 18u + 903u);
    EXPECT_TRUE(std::equal(row.begin(), row.end(), bytes.begin() + 18));

    // Grey output keeps the blue byte of each pixel.
    TgaImage grey = outputRecord(3, 301, 1);
    bytes = writeFile(grey, {numberedRow(301)});
    ASSERT_EQ(bytes.size(), 18u + 301u);
    for (int i = 0; i < 301; ++i) ASSERT_EQ(bytes[18 + i], std::uint8_t(i));
}

TEST_F(TgaWriter, CutOffStartsHalfAPatternIn) {
    struct Case {
        int PSiz, Double, firstPixel;
    };
    for (const Case& c : {Case{67, 0, 34}, Case{67, 1, 67}, Case{68, 0, 34}, Case{68, 1, 68}}) {
        SCOPED_TRACE(testing::Message() << "PSiz " << c.PSiz << " Double " << c.Double);
        settings.CutOff = 1;
        settings.PSiz = c.PSiz;
        settings.Double = c.Double;
        const int width = 10;
        TgaImage image = outputRecord(2, width, 1 + c.Double);
        std::vector<std::uint8_t> bytes = writeFile(image, {numberedRow(c.firstPixel + width)});
        ASSERT_EQ(bytes.size(), 18u + 3u * width * (1 + c.Double));
        EXPECT_EQ(bytes[18], c.firstPixel);
        EXPECT_EQ(bytes[18 + 3 * width - 3], c.firstPixel + width - 1);
    }
}

TEST_F(TgaWriter, DoubleWritesEachRowTwice) {
    settings.Double = 1;
    TgaImage image = outputRecord(3, 4, 4);
    std::vector<std::uint8_t> bytes = writeFile(image, {numberedRow(4), numberedRow(4)});
    const std::vector<std::uint8_t> rows = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
    ASSERT_EQ(bytes.size(), 18u + rows.size());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), bytes.begin() + 18));
}

TEST_F(TgaWriter, NothingIsWrittenUnlessFormatIsOne) {
    TgaImage image = outputRecord(2, 4, 1);
    std::string path = temporaryDirectory() + "/out.tga";
    ASSERT_EQ(openOutputTga(image, path.c_str()), 0);
    image.format = 0;
    std::vector<std::uint8_t> row = numberedRow(4);
    writeOutputRow(image, row.data());
    std::fclose(image.stream);
    EXPECT_EQ(readFileBytes(path).size(), 18u);
}

TEST_F(TgaWriter, FailedRowWriteClearsFormat) {
    TgaImage image = outputRecord(2, 1000, 1);
    image.rowBytes = 3000;
    image.stream = std::fopen("/dev/full", "wb");
    ASSERT_NE(image.stream, nullptr);
    std::vector<std::uint8_t> row = numberedRow(1000);
    for (int i = 0; i < 200 && image.format == 1; ++i) writeOutputRow(image, row.data());
    EXPECT_EQ(image.format, 0);
    std::fclose(image.stream);
}

TEST_F(TgaWriter, UncreatableFileIsReported) {
    std::string path = temporaryDirectory() + "/no-such-dir/out.tga";
    TgaImage image = outputRecord(2, 4, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(openOutputTga(image, path.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write output file '" + path + "'.\n");
}

// A device that refuses the header is reported but never removed.
TEST_F(TgaWriter, HeaderWriteFailureOnADeviceKeepsTheDevice) {
    std::string link = temporaryDirectory() + "/full.tga";
    ASSERT_EQ(symlink("/dev/full", link.c_str()), 0);
    TgaImage image = outputRecord(2, 4, 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(openOutputTga(image, link.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: Can't write output file '" + link + "'.\n");
    EXPECT_EQ(image.stream, nullptr);
    EXPECT_TRUE(fileExists(link));
}

// With a file-size limit of 10 bytes the header cannot be written: the
// partial file must be gone. Run in a child so the limit stays there.
TEST_F(TgaWriter, HeaderWriteFailureRemovesTheFile) {
    std::string path = temporaryDirectory() + "/limited.tga";
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{10, 10};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
        std::freopen("/dev/null", "w", stderr);
        TgaImage image = outputRecord(2, 4, 1);
        int result = openOutputTga(image, path.c_str());
        _exit(result == 1 && access(path.c_str(), F_OK) != 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(fileExists(path));
}

}  // namespace
