// The output file as the real executable treats it: what an existing output
// keeps when the run cannot replace it, what the new file gets, and outputs
// that are descriptors the run inherited.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// How a child run is started: descriptors 1, 2 and 3 (-1: /dev/null for 1
// and 2, closed for 3), a file-size limit, and whether it runs without the
// privileges of root (as user and group 65534 when the test runs as root).
struct Child {
    std::vector<std::string> args;
    std::string dir;
    int out = -1;
    int err = -1;
    int extra = -1;
    long fileSizeLimit = 0;
    bool unprivileged = false;
};

pid_t start(const Child& child) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(child.out >= 0 ? child.out : null, 1);
    dup2(child.err >= 0 ? child.err : null, 2);
    if (child.extra >= 0) {
        dup2(child.extra, 3);
    } else {
        close(3);
    }
    for (int descriptor = 4; descriptor < 64; ++descriptor) close(descriptor);
    std::signal(SIGPIPE, SIG_DFL);
    if (child.fileSizeLimit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {static_cast<rlim_t>(child.fileSizeLimit), static_cast<rlim_t>(child.fileSizeLimit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    if (child.unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        _exit(126);
    }
    if (chdir(child.dir.c_str()) != 0) _exit(126);
    execRdsgen(child.args);
}

// The exit status; -1 when the child did not exit.
int finish(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readAll(int descriptor) {
    std::string bytes;
    char buffer[65536];
    for (ssize_t got; (got = read(descriptor, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(got));
    return bytes;
}

std::vector<std::uint8_t> heights() { return greyTga(64, 40, std::vector<std::uint8_t>(64 * 40, 100)); }

// The image of a plain run of heights() with /Rand:1.
std::string expectedImage() {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/in.tga", heights());
    EXPECT_EQ(runRdsgenProcess({"in.tga", "out.tga", "/Rand:1"}, dir).status, 0);
    const std::vector<std::uint8_t> bytes = readFileBytes(dir + "/out.tga");
    return std::string(bytes.begin(), bytes.end());
}

// A fresh directory with in.tga that user 65534 may enter and read.
std::string sharedDirectory() {
    const std::string dir = temporaryDirectory();
    chmod(fs::path(dir).parent_path().c_str(), 0711);
    chmod(dir.c_str(), 0755);
    writeFileBytes(dir + "/in.tga", heights());
    chmod((dir + "/in.tga").c_str(), 0644);
    return dir;
}

const std::vector<std::uint8_t> kOld = {'o', 'l', 'd'};
const std::string kCantWrite = "ERROR: Can't write output file '";

// An unprivileged run with standard error in a file: its exit status, and
// its standard error as the text.
int runUnprivileged(const std::vector<std::string>& args, const std::string& dir, std::string& err) {
    const std::string errPath = temporaryDirectory() + "/err";
    const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Child child{args, dir};
    child.err = errFile;
    child.unprivileged = true;
    const int status = finish(start(child));
    close(errFile);
    const std::vector<std::uint8_t> bytes = readFileBytes(errPath);
    err.assign(bytes.begin(), bytes.end());
    return status;
}

// Skips the test when an unprivileged user cannot run the executable where
// it was built (a build directory that user cannot enter).
#define SKIP_UNLESS_UNPRIVILEGED_RUNS(dir)                                                          \
    do {                                                                                            \
        Child probe{{"--version"}, dir};                                                           \
        probe.unprivileged = true;                                                                  \
        if (finish(start(probe)) != 0) GTEST_SKIP() << "user 65534 cannot run " RDSGEN_EXECUTABLE; \
    } while (false)

// An existing output is replaced only through a new file beside it; when no
// such file can be made, the run fails and the output stays byte for byte.
TEST(OutputFileTest, ExistingOutputStaysWhenNoNewFileCanBeMade) {
    // A name of 244 bytes, longer once made into a hidden temporary name,
    // under a file-size limit that the rows exceed.
    const std::string dir = sharedDirectory();
    const std::string longName = std::string(240, 'n') + ".tga";
    writeFileBytes(dir + "/" + longName, kOld);
    const ProcessResult limited = runRdsgenProcess({"in.tga", longName, "/Rand:1"}, dir, 3000);
    EXPECT_EQ(limited.status, 1);
    EXPECT_EQ(limited.err, kCantWrite + longName + "'.\n");
    EXPECT_EQ(readFileBytes(dir + "/" + longName), kOld);
    EXPECT_EQ(otherFiles(dir, {"in.tga", longName}), std::vector<std::string>{});

    // A directory the caller cannot write, holding an output the caller can,
    // named directly and through a link from a writable directory.
    SKIP_UNLESS_UNPRIVILEGED_RUNS(dir);
    const std::string locked = sharedDirectory();
    writeFileBytes(locked + "/out.tga", kOld);
    ASSERT_EQ(chmod((locked + "/out.tga").c_str(), 0666), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    const std::string writable = sharedDirectory();
    ASSERT_EQ(chmod(writable.c_str(), 0777), 0);
    fs::create_symlink(locked + "/out.tga", writable + "/link.tga");
    for (const auto& [where, name] : {std::pair{locked, "out.tga"}, std::pair{writable, "link.tga"}}) {
        std::string err;
        EXPECT_EQ(runUnprivileged({"in.tga", name, "/Rand:1"}, where, err), 1) << name;
        EXPECT_EQ(err, kCantWrite + name + "'.\n");
        EXPECT_EQ(readFileBytes(locked + "/out.tga"), kOld) << name;
    }
    EXPECT_TRUE(fs::is_symlink(writable + "/link.tga"));
    chmod(locked.c_str(), 0755);
}

// The new file is no way around the old one's permissions, and it does not
// carry set-user-ID or set-group-ID bits.
TEST(OutputFileTest, ReplacementRespectsTheOutputsPermissions) {
    const std::string dir = sharedDirectory();
    writeFileBytes(dir + "/tool.tga", kOld);
    ASSERT_EQ(chmod((dir + "/tool.tga").c_str(), 06755), 0);
    ASSERT_EQ(runRdsgenProcess({"in.tga", "tool.tga", "/Rand:1"}, dir).status, 0);
    struct stat info {};
    ASSERT_EQ(stat((dir + "/tool.tga").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);

    SKIP_UNLESS_UNPRIVILEGED_RUNS(dir);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    writeFileBytes(dir + "/kept.tga", kOld);
    ASSERT_EQ(chmod((dir + "/kept.tga").c_str(), 0444), 0);
    std::string err;
    EXPECT_EQ(runUnprivileged({"in.tga", "kept.tga", "/Rand:1"}, dir, err), 1);
    EXPECT_EQ(err, kCantWrite + "kept.tga'.\n");
    EXPECT_EQ(readFileBytes(dir + "/kept.tga"), kOld);
}

TEST(OutputFileTest, LinkLoopIsRefused) {
    const std::string dir = sharedDirectory();
    fs::create_symlink("b.tga", dir + "/a.tga");
    fs::create_symlink("a.tga", dir + "/b.tga");
    const ProcessResult r = runRdsgenProcess({"in.tga", "a.tga", "/Rand:1"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kCantWrite + "a.tga'.\n");
    ASSERT_TRUE(fs::is_symlink(dir + "/a.tga") && fs::is_symlink(dir + "/b.tga"));
    EXPECT_EQ(fs::read_symlink(dir + "/a.tga"), fs::path("b.tga"));
    EXPECT_EQ(fs::read_symlink(dir + "/b.tga"), fs::path("a.tga"));
}

// Descriptors named through /dev/fd, /proc/self/fd or /dev/stdout are
// written as they are; when the image goes to the run's own standard output,
// every text of the run goes to standard error.
TEST(OutputFileTest, InheritedDescriptorsTakeTheImageAlone) {
    const std::string image = expectedImage();
    const std::string dir = sharedDirectory();

    // A pipe that is also standard output, and a socket.
    for (const std::string name : {"/dev/fd/3", "/dev/stdout", "/proc/self/fd/3"}) {
        int ends[2];
        ASSERT_EQ(name == "/proc/self/fd/3" ? socketpair(AF_UNIX, SOCK_STREAM, 0, ends) : pipe(ends), 0);
        int errEnds[2];
        ASSERT_EQ(pipe(errEnds), 0);
        Child child{{"in.tga", name, "/Rand:1"}, dir};
        child.extra = ends[1];
        if (name != "/proc/self/fd/3") child.out = ends[1];
        child.err = errEnds[1];
        const pid_t pid = start(child);
        close(ends[1]);
        close(errEnds[1]);
        const std::string got = readAll(ends[0]);
        const std::string err = readAll(errEnds[0]);
        close(ends[0]);
        close(errEnds[0]);
        EXPECT_EQ(finish(pid), 0) << name << ": " << err;
        EXPECT_TRUE(got == image) << name << ": " << got.size() << " bytes";
        if (name != "/proc/self/fd/3") {
            EXPECT_NE(err.find("\rfinished."), std::string::npos) << name;
        }
    }

    // Standard output a regular file: the device name gets no extension.
    const ProcessResult r = runRdsgenProcess({"in.tga", "/dev/stdout", "/Rand:1"}, dir);
    const bool wrongName = fileExists("/dev/stdout.TGA");
    std::remove("/dev/stdout.TGA");
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(wrongName);
    EXPECT_TRUE(r.out == image) << r.out.size() << " bytes";
    EXPECT_EQ(r.err.rfind("RDSGEN V2.0 ", 0), 0u) << r.err;
}

}  // namespace
