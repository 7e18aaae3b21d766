// Faults of the machine around a run, tried on the real executable: inputs
// changed during the run, closed or vanishing standard output, file-size
// limits, interruptions, concurrent runs, FIFOs, endless inputs and
// directories.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/image_files.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

// How the child is started.
struct Launch {
    std::vector<std::string> args;
    std::string directory;
    int stdoutDescriptor = -1;  // becomes descriptor 1; -2 closes descriptor 1
    long fileSizeLimit = 0;     // RLIMIT_FSIZE, with SIGXFSZ at its default
};

pid_t start(const Launch& launch) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (chdir(launch.directory.c_str()) != 0) _exit(127);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 2);
    if (launch.stdoutDescriptor >= 0) dup2(launch.stdoutDescriptor, 1);
    if (launch.stdoutDescriptor == -1) dup2(null, 1);
    if (launch.stdoutDescriptor == -2) close(1);
    close(null);
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
    if (launch.fileSizeLimit > 0) {
        struct rlimit limit = {static_cast<rlim_t>(launch.fileSizeLimit), static_cast<rlim_t>(launch.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    execRdsgen(launch.args);
}

// The raw wait status; a child still running after 30 s is killed (a hang
// shows as SIGKILL).
int finish(pid_t pid) {
    int status = 0;
    for (int waited = 0; waited < 3000; ++waited) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

bool exitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// A top-first 8-bit grey height image of a slope with a raised square, big
// enough (over 1 MiB) to have been mapped from the file once.
std::vector<std::uint8_t> largeHeights(int width = 1100, int height = 1000) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool square = x > width / 4 && x < width * 3 / 4 && y > height / 4 && y < height * 3 / 4;
            pixels[std::size_t(y) * width + x] = static_cast<std::uint8_t>(square ? 220 : x * 100 / width);
        }
    }
    return greyTga(width, height, pixels);
}

// The output of a plain run of `heights` with options, for comparison.
std::vector<std::uint8_t> expectedOutput(const std::vector<std::uint8_t>& heights,
                                         const std::vector<std::string>& options) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/in.tga", heights);
    std::vector<std::string> args = {"in.tga", "out.tga"};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(runRdsgenProcess(args, dir).status, 0);
    return readFileBytes(dir + "/out.tga");
}

std::vector<std::uint8_t> readAll(int descriptor) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[65536];
    for (ssize_t got; (got = read(descriptor, buffer, sizeof buffer)) > 0;) bytes.insert(bytes.end(), buffer, buffer + got);
    return bytes;
}

// Feeds a FIFO on a thread of its own: `file`, then `tail` over and over,
// until the reader closes the FIFO or 96 MiB are written in all.
class FifoFeeder {
public:
    FifoFeeder(const std::string& path, std::vector<std::uint8_t> file, std::vector<std::uint8_t> tail)
        : thread_([this, path, file = std::move(file), tail = std::move(tail)] {
              const int fifo = open(path.c_str(), O_WRONLY);
              if (fifo < 0) return;
              std::size_t fed = 0;
              for (const std::vector<std::uint8_t>* part = &file; fed < (std::size_t{96} << 20); part = &tail) {
                  if (part->empty()) break;
                  for (std::size_t at = 0; at < part->size();) {
                      const ssize_t put = write(fifo, part->data() + at, part->size() - at);
                      if (put < 0 && errno == EINTR) continue;
                      if (put <= 0) {
                          readerLeft_ = true;
                          close(fifo);
                          return;
                      }
                      at += static_cast<std::size_t>(put);
                  }
                  fed += part->size();
              }
              close(fifo);
          }) {}
    ~FifoFeeder() {
        if (thread_.joinable()) thread_.join();
    }
    // Waits for the feeder: whether the reader closed the FIFO before all was written.
    bool readerLeftEarly() {
        thread_.join();
        return readerLeft_;
    }

private:
    bool readerLeft_ = false;
    std::thread thread_;
};

class FaultsTest : public ::testing::Test {
protected:
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
};

// The output is a FIFO that is read slowly: the run stops at its first rows
// while the input is truncated and rewritten; what it writes is still the
// image of the input as it was read.
TEST_F(FaultsTest, InputChangedDuringTheRunIsNotRead) {
    const std::string dir = temporaryDirectory();
    const std::vector<std::uint8_t> heights = largeHeights();
    const std::vector<std::uint8_t> expected = expectedOutput(heights, {"/Rand:3"});
    writeFileBytes(dir + "/in.tga", heights);
    ASSERT_EQ(mkfifo((dir + "/out.fifo").c_str(), 0600), 0);
    const pid_t pid = start({{"in.tga", "out.fifo", "/Rand:3"}, dir});
    const int fifo = open((dir + "/out.fifo").c_str(), O_RDONLY);
    ASSERT_GE(fifo, 0);
    std::uint8_t header[18];
    ASSERT_EQ(read(fifo, header, sizeof header), 18);
    ASSERT_EQ(truncate((dir + "/in.tga").c_str(), 0), 0);
    writeFileBytes(dir + "/in.tga", largeHeights(700, 900));
    std::vector<std::uint8_t> output(header, header + 18);
    const std::vector<std::uint8_t> rest = readAll(fifo);
    output.insert(output.end(), rest.begin(), rest.end());
    close(fifo);
    EXPECT_TRUE(exitedWith(finish(pid), 0));
    EXPECT_EQ(output, expected);
}

TEST_F(FaultsTest, ClosedOrVanishingStandardOutputLeavesTheImageAlone) {
    const std::vector<std::uint8_t> heights = largeHeights(300, 200);
    const std::vector<std::uint8_t> expected = expectedOutput(heights, {"/Rand:1"});

    const std::string closedDir = temporaryDirectory();
    writeFileBytes(closedDir + "/in.tga", heights);
    EXPECT_TRUE(exitedWith(finish(start({{"in.tga", "out.tga", "/Rand:1"}, closedDir, -2})), 0));
    EXPECT_EQ(readFileBytes(closedDir + "/out.tga"), expected);

    // A reader that has already gone: every write to standard output fails.
    const std::string pipeDir = temporaryDirectory();
    writeFileBytes(pipeDir + "/in.tga", heights);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const pid_t pid = start({{"in.tga", "out.tga", "/Rand:1"}, pipeDir, ends[1]});
    close(ends[1]);
    EXPECT_TRUE(exitedWith(finish(pid), 0));
    EXPECT_EQ(readFileBytes(pipeDir + "/out.tga"), expected);
}

TEST_F(FaultsTest, FileSizeLimitIsAReportedWriteFailure) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/in.tga", largeHeights(300, 200));
    const pid_t pid = start({{"in.tga", "out.tga", "/Rand:1"}, dir, -1, 20000});
    EXPECT_TRUE(exitedWith(finish(pid), 1));
    EXPECT_EQ(otherFiles(dir, {"in.tga"}), std::vector<std::string>{});
    const ProcessResult result = runRdsgenProcess({"in.tga", "out.tga", "/Rand:1"}, dir, 20000);
    EXPECT_EQ(result.err, "ERROR: Can't write output file 'out.tga'.\n");
}

// A run held in the middle: its standard output is a pipe of one page,
// filled so that exactly `heldAt` bytes of the run's output fit. Standard
// output is unbuffered and every print is one write, which a pipe takes
// whole or not at all; heldAt is where one of the run's writes begins, so
// the pipe fills to the last byte and the run then waits in that write,
// with the temporary output open and rows written.
struct HeldRun {
    pid_t pid = -1;
    int reader = -1;
    bool held = false;  // the pipe filled up: the run waits

    HeldRun(const Launch& launch, std::size_t heldAt) {
        int ends[2];
        if (pipe(ends) != 0 || fcntl(ends[1], F_SETPIPE_SZ, 4096) != 4096 || heldAt > 4096) return;
        const std::vector<char> filler(4096 - heldAt, 'x');
        if (write(ends[1], filler.data(), filler.size()) != static_cast<ssize_t>(filler.size())) return;
        Launch child = launch;
        child.stdoutDescriptor = ends[1];
        pid = start(child);
        close(ends[1]);
        reader = ends[0];
        // Until the pipe is full or the run has ended (a fault the test then
        // shows); the child is not reaped here.
        siginfo_t ended {};
        for (int queued = 0; queued < 4096;) {
            ended.si_pid = 0;
            if (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                ended.si_pid == pid) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ioctl(reader, FIONREAD, &queued);
            held = queued == 4096;
        }
    }
    // Lets the run go on to its end; the raw wait status.
    int release() {
        readAll(reader);
        close(reader);
        return finish(pid);
    }
    int interrupt(int signalNumber) {
        kill(pid, signalNumber);
        const int status = finish(pid);
        close(reader);
        return status;
    }
};

// Where a run writes its progress bar: the offset in its standard output
// `text` of the write that draws bar character `barCharacters` or the first
// one after it (npos when the bar is shorter). The bar's first write begins
// with its first character, each later one with a backspace.
std::size_t barWriteAt(const std::string& text, std::size_t barCharacters) {
    const std::size_t bar = text.find_first_of("#|", text.find("[ 100%"));
    if (bar == std::string::npos || barCharacters == 0) return bar;
    return text.find('\b', bar + barCharacters);
}

// Interrupted runs: the previous output stays as it was, the temporary file
// goes (SIGKILL leaves it, and the next run removes it), and a link given as
// the output stays a link.
TEST_F(FaultsTest, InterruptedRunsKeepThePreviousOutput) {
    const std::vector<std::uint8_t> heights = largeHeights(400, 300);
    const std::vector<std::string> args = {"in.tga", "out.tga", "/Rand:5"};
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    const std::string dry = temporaryDirectory();
    writeFileBytes(dry + "/in.tga", heights);
    const std::string progress = runRdsgenProcess(args, dry).out;

    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        for (std::size_t barCharacters : {0, 9, 40}) {
            const std::size_t heldAt = barWriteAt(progress, barCharacters);
            ASSERT_NE(heldAt, std::string::npos);
            SCOPED_TRACE("signal " + std::to_string(signalNumber) + " at bar character " +
                         std::to_string(barCharacters));
            const std::string dir = temporaryDirectory();
            writeFileBytes(dir + "/in.tga", heights);
            writeFileBytes(dir + "/real.tga", old);
            ASSERT_EQ(chmod((dir + "/real.tga").c_str(), 0640), 0);
            fs::create_symlink("real.tga", dir + "/out.tga");
            HeldRun run({args, dir}, heldAt);
            ASSERT_TRUE(run.held);
            const int status = run.interrupt(signalNumber);
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_TRUE(fs::is_symlink(dir + "/out.tga"));
            EXPECT_EQ(readFileBytes(dir + "/real.tga"), old);
            const std::vector<std::string> left = otherFiles(dir, {"in.tga", "real.tga", "out.tga"});
            EXPECT_EQ(left.size(), signalNumber == SIGKILL ? 1u : 0u);
            if (signalNumber == SIGKILL) {
                EXPECT_EQ(runRdsgenProcess(args, dir).status, 0);
                EXPECT_EQ(otherFiles(dir, {"in.tga", "real.tga", "out.tga"}), std::vector<std::string>{});
                EXPECT_EQ(readFileBytes(dir + "/real.tga"), readFileBytes(dry + "/out.tga"));
                EXPECT_TRUE(fs::is_symlink(dir + "/out.tga"));
                struct stat info {};
                ASSERT_EQ(stat((dir + "/real.tga").c_str(), &info), 0);
                EXPECT_EQ(info.st_mode & 0777, 0640u);
            }
        }
    }
}

// A run held in the middle while a second run on the same output completes:
// the output is then the first run's image, whole, never a mix.
TEST_F(FaultsTest, TwoRunsOnOneOutputLeaveOneCompleteImage) {
    const std::vector<std::uint8_t> heights = largeHeights(400, 300);
    const std::vector<std::string> first = {"in.tga", "out.tga", "/PatT:6", "/Rand:1"};
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/in.tga", heights);
    const std::size_t heldAt = barWriteAt(runRdsgenProcess(first, dir).out, 20);
    ASSERT_NE(heldAt, std::string::npos);
    const std::vector<std::uint8_t> expected = readFileBytes(dir + "/out.tga");
    fs::remove(dir + "/out.tga");
    HeldRun held({first, dir}, heldAt);
    ASSERT_TRUE(held.held);
    EXPECT_EQ(runRdsgenProcess({"in.tga", "out.tga", "/PatT:6", "/Double", "/Rand:2"}, dir).status, 0);
    EXPECT_TRUE(exitedWith(held.release(), 0));
    EXPECT_EQ(readFileBytes(dir + "/out.tga"), expected);
    EXPECT_EQ(otherFiles(dir, {"in.tga", "out.tga"}), std::vector<std::string>{});
}

TEST_F(FaultsTest, FifoInputIsOpenedOnceAndDirectoriesAreNamed) {
    const std::vector<std::uint8_t> heights = largeHeights(200, 150);
    const std::string dir = temporaryDirectory();
    ASSERT_EQ(mkfifo((dir + "/in").c_str(), 0600), 0);
    const pid_t pid = start({{"in", "out.tga", "/Rand:1"}, dir});
    const int fifo = open((dir + "/in").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    for (std::size_t at = 0; at < heights.size();) {
        const ssize_t put = write(fifo, heights.data() + at, heights.size() - at);
        if (put <= 0) break;
        at += static_cast<std::size_t>(put);
    }
    close(fifo);
    EXPECT_TRUE(exitedWith(finish(pid), 0));
    EXPECT_EQ(readFileBytes(dir + "/out.tga"), expectedOutput(heights, {"/Rand:1"}));

    // A folder y beside y.TGA: the name completes to the file.
    fs::create_directory(dir + "/y");
    writeFileBytes(dir + "/y.TGA", heights);
    EXPECT_EQ(runRdsgenProcess({"y", "o1", "/Rand:1"}, dir).status, 0);
    fs::create_directory(dir + "/pictures.d");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"pictures.d", "o2"}, {"y.TGA", "o3", "/PatT:pictures.d"}}) {
        const ProcessResult result = runRdsgenProcess(args, dir);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "ERROR: 'pictures.d' is a directory.\n");
    }
}

// A header whose sizes alone decide the refusal: the pixels (1.5 GB, a
// sparse file) are never read.
TEST_F(FaultsTest, OutputRefusedBySizeReadsNoPixels) {
    const std::string dir = temporaryDirectory();
    TgaLayout layout;
    layout.imageType = 2;
    layout.pixelDepth = 24;
    layout.width = 65535;
    layout.height = 8000;
    writeFileBytes(dir + "/in.tga", buildTga(layout));
    ASSERT_EQ(truncate((dir + "/in.tga").c_str(), 18 + 65535L * 8000 * 3), 0);
    const auto [status, peakKiB] = memoryProbe().run(dir, {"in.tga", "out.tga"});
    EXPECT_EQ(status, 1);
    EXPECT_LT(peakKiB, 100 * 1024) << "peak resident KiB";
    EXPECT_EQ(runRdsgenProcess({"in.tga", "out.tga"}, dir).err,
              "ERROR: Output image too large (65603 x 8266 pixels, at most 65535 x 65535).\n");

    // A pattern image whose width becomes the pattern width (/Stret:P).
    writeFileBytes(dir + "/small.tga", greyTga(64, 48, std::vector<std::uint8_t>(64 * 48, 90)));
    writeFileBytes(dir + "/wide.tga", buildTga(layout));
    ASSERT_EQ(truncate((dir + "/wide.tga").c_str(), 18 + 65535L * 8000 * 3), 0);
    const auto [patternStatus, patternPeakKiB] =
        memoryProbe().run(dir, {"small.tga", "out.tga", "/PatT:wide.tga", "/Stret:P"});
    EXPECT_EQ(patternStatus, 1);
    EXPECT_LT(patternPeakKiB, 100 * 1024) << "peak resident KiB";
    EXPECT_EQ(runRdsgenProcess({"small.tga", "out.tga", "/PatT:wide.tga", "/Stret:P"}, dir).err,
              "ERROR: Output image too large (65599 x 49 pixels, at most 65535 x 65535).\n");
}

// Inputs whose size is not known are read to the end of their image only:
// /dev/zero is refused at once by its header (image type 0); a TARGA, PNG or
// JPEG image followed by endless bytes gives the image's stereogram, the
// bytes after it unread; a PNG or JPEG stream whose end does not come is
// refused once it is longer than its image can need.
TEST_F(FaultsTest, EndlessInputsAreReadToTheEndOfTheirImage) {
    const std::string dir = temporaryDirectory();
    const ProcessResult zero = runRdsgenProcess({"/dev/zero", "out.tga"}, dir);
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.err, "ERROR: Unknown targa type.\n");

    const std::vector<std::uint8_t> tga = largeHeights(200, 150);
    PngLayout png;
    png.width = 200;
    png.height = 150;
    png.samples.assign(tga.begin() + 18, tga.end());
    JpegLayout jpeg;
    jpeg.width = 200;
    jpeg.height = 150;
    jpeg.pixels.assign(tga.begin() + 18, tga.end());
    const std::vector<std::uint8_t> zeros(65536, 0);
    const std::pair<const char*, std::vector<std::uint8_t>> images[] = {
        {"TARGA", tga}, {"PNG", buildPng(png)}, {"JPEG", buildJpeg(jpeg)}};
    for (const auto& [kind, file] : images) {
        SCOPED_TRACE(kind);
        const std::string fifo = dir + "/in";
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        FifoFeeder feeder(fifo, file, zeros);
        EXPECT_EQ(runRdsgenProcess({"in", "out.tga", "/Rand:1"}, dir).status, 0);
        EXPECT_TRUE(feeder.readerLeftEarly());
        EXPECT_EQ(readFileBytes(dir + "/out.tga"), expectedOutput(file, {"/Rand:1"}));
    }

    // A PNG signature and header, then chunks without end; a JPEG start and
    // frame header, then segments without end.
    png.width = png.height = 8;
    png.samples.assign(64, 0);
    const std::vector<std::uint8_t> pngFile = buildPng(png);
    std::vector<std::uint8_t> chunk(65536, 0);
    chunk[1] = 0xFF;
    chunk[2] = 0xF4;  // data length 65524
    std::copy_n("zzZz", 4, chunk.begin() + 4);
    std::vector<std::uint8_t> segment(65537, 0);
    std::copy_n("\xFF\xE1\xFF\xFF", 4, segment.begin());  // APP1 of 65533 bytes after the marker
    const std::vector<std::uint8_t> jpegStart = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08,
                                                 0x00, 0x08, 0x01, 0x01, 0x11, 0x00};
    const std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>> streams[] = {
        {std::vector<std::uint8_t>(pngFile.begin(), pngFile.begin() + 33), chunk},
        {jpegStart, segment},
    };
    for (const auto& [start, tail] : streams) {
        const bool isPng = &start == &streams[0].first;
        SCOPED_TRACE(isPng ? "PNG" : "JPEG");
        const std::string fifo = dir + "/in";
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        FifoFeeder feeder(fifo, start, tail);
        const ProcessResult r = runRdsgenProcess({"in", "out.tga"}, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.rfind(isPng ? "ERROR: Can't read PNG image 'in': no IEND chunk in the first "
                                    : "ERROR: Can't read JPEG image 'in': no EOI marker in the first ",
                              0),
                  0u)
            << r.err;
        EXPECT_TRUE(feeder.readerLeftEarly());
    }
}

// A piped input costs its own bytes and little more: the block it is read
// into grows by a quarter at a time, without a copy, and its pages become
// resident only as they are read into. The run ends on the missing pattern
// image, once the height image is read.
TEST_F(FaultsTest, PipedInputCostsLittleMoreThanItsBytes) {
    const std::string dir = temporaryDirectory();
    const std::vector<std::uint8_t> heights = largeHeights(5800, 5800);  // just over 32 MiB
    ASSERT_EQ(mkfifo((dir + "/in").c_str(), 0600), 0);
    FifoFeeder feeder(dir + "/in", heights, {});
    const auto [status, peakKiB] = memoryProbe().run(dir, {"in", "out.tga", "/PatT:missing.tga"});
    EXPECT_EQ(status, 1);
    const long inputKiB = static_cast<long>(heights.size() / 1024);
    EXPECT_LT(peakKiB, inputKiB + inputKiB / 4 + 16 * 1024) << "peak resident KiB";
    EXPECT_FALSE(feeder.readerLeftEarly());
}

}  // namespace
