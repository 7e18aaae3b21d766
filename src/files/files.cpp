// Files at the edge: input images read once, whole, into memory; the output
// written to a temporary file that replaces the output name when complete.
#include <dirent.h>
#include <fcntl.h>
#if defined(__linux__)
#include <linux/falloc.h>
#endif
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>
#include <vector>

#include "files/files.h"

namespace rdsgen {

namespace {

constexpr std::size_t kHeaderBytes = 18;

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kJpegSignature[3] = {0xFF, 0xD8, 0xFF};

// A file that ends before a whole PNG or JPEG signature is refused as the
// format its bytes begin (or, empty or not, its name gives), saying that it
// is short: as a TARGA file it would only show a meaningless image type.
// An empty file begins every signature: without a name that says JPEG it
// is refused as PNG, the first format looked for. Any other file is left
// to the readers.
Status checkShortSignature(std::span<const std::uint8_t> start, FileFormat named) {
    const std::size_t size = start.size();
    const auto startsLike = [&](const std::uint8_t* signature, std::size_t length) {
        return size > 0 && size < length && std::memcmp(start.data(), signature, size) == 0;
    };
    FileFormat format = named;
    if (size == 0 && format == FileFormat::kTga) format = FileFormat::kPng;
    if (startsLike(kPngSignature, sizeof kPngSignature)) format = FileFormat::kPng;
    if (startsLike(kJpegSignature, sizeof kJpegSignature)) format = FileFormat::kJpeg;
    const std::size_t length = format == FileFormat::kPng ? sizeof kPngSignature : sizeof kJpegSignature;
    if (format == FileFormat::kTga || size >= length) return {};
    return makeStatus(format == FileFormat::kPng ? StatusCode::kPngError : StatusCode::kJpegError, 0, 0,
                      size == 0 ? "file is empty" : "file ends inside the signature");
}

// A block being read into grows by a quarter of what it holds, and by at
// least kGrowBytes: with the pages of a mapped block moved, not copied, and
// made resident only as they are read into, an input of any size costs its
// own bytes and at most a quarter more.
constexpr std::size_t kGrowBytes = std::size_t{1} << 20;

// Reads into block from `size` on until the data ends, or `input` finds the
// end of the file in it (the bytes after it are dropped), growing the block
// as needed. A read error ends the data there.
Status readRest(int descriptor, Bytes& block, std::size_t& capacity, std::size_t& size, InputEnd& input) {
    for (bool ended = false;;) {
        findInputEnd(input, std::span<const std::uint8_t>(block.get(), size));
        if (size >= input.end) {
            size = input.end;
            return {};
        }
        if (ended) return {};
        if (size >= input.limit) return missingInputEnd(input);
        if (size == capacity) {
            const std::size_t larger = std::min({input.end, input.limit, size + std::max(size / 4, kGrowBytes)});
            if (!growBytes(block, size, larger)) return makeStatus(StatusCode::kImageNoMemory);
            capacity = larger;
        }
        const ssize_t got = read(descriptor, block.get() + size, std::min(capacity, input.end) - size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ended = true;
        } else {
            size += static_cast<std::size_t>(got);
        }
    }
}

}  // namespace

// Large files are read on more than one thread: copying a file into fresh
// memory costs CPU time (the kernel also clears every new page), which cores
// can share. The file is cut into pieces of kPieceBytes on the block's
// huge-page boundaries, and each thread takes the next piece until none is
// left, so a thread that starts late only reads less (the README's
// benchmark section gives the gain). Below kSharedReadBytes starting a
// thread costs more than it saves.
constexpr std::size_t kSharedReadBytes = std::size_t{8} << 20;

std::size_t readShared(const ReadAt& readAt, std::uint8_t* block, std::size_t from, std::size_t to,
                       std::size_t threads) {
    const auto pieceStart = [from](std::size_t k) { return k == 0 ? from : k * kPieceBytes; };
    const auto pieceEnd = [to](std::size_t k) { return std::min(to, (k + 1) * kPieceBytes); };
    const std::size_t pieces = (to + kPieceBytes - 1) / kPieceBytes;
    std::vector<std::size_t> got(pieces, 0);
    std::atomic<std::size_t> next{0};
    const auto readPieces = [&] {
        for (std::size_t k = next++; k < pieces; k = next++) {
            const std::size_t start = pieceStart(k);
            const std::size_t end = pieceEnd(k);
            std::size_t done = 0;
            while (start + done < end) {
                const ssize_t count = readAt(block + start + done, end - start - done, start + done);
                if (count < 0 && errno == EINTR) continue;
                if (count <= 0) break;
                done += static_cast<std::size_t>(count);
            }
            got[k] = done;
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t k = 1; k < std::min(threads, pieces); ++k) {
        try {
            helpers.emplace_back(readPieces);
        } catch (...) {
            break;  // no thread to be had: the others read its pieces
        }
    }
    readPieces();
    for (std::thread& helper : helpers) helper.join();
    std::size_t total = 0;
    for (std::size_t k = 0; k < pieces; ++k) {
        total += got[k];
        if (got[k] < pieceEnd(k) - pieceStart(k)) break;
    }
    return total;
}

namespace {

// Allocates a new file's blocks for the bytes it is to get, without changing
// its size: writing then only fills them, and on ext4 renaming the finished
// file over an old one no longer has to allocate them at once. Where this
// cannot be done (another file system, no space left), the writes find out
// as they would have anyway.
void reserveBlocks(int descriptor, std::uint64_t bytes) {
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
    if (bytes > 0) fallocate(descriptor, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
#else
    (void)descriptor;
    (void)bytes;
#endif
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Replaces a symbolic link's name by its target; false when `path` is not
// a link.
bool followLink(std::string& path) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    path = target[0] == '/' ? std::string(target) : directoryOf(path) + "/" + target;
    return true;
}

// Where writing to `path` ends up: a symbolic link is followed to its
// target (which need not exist yet), link by link.
std::string followLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        if (!followLink(path)) break;
    }
    return path;
}

// The number N of a name /dev/fd/N, /proc/self/fd/N or /proc/PID/fd/N (PID
// this process), else -1.
int descriptorNumber(const std::string& path) {
    for (const std::string& directory : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                         "/proc/" + std::to_string(getpid()) + "/fd/"}) {
        if (path.compare(0, directory.size(), directory) != 0 || path.size() == directory.size()) continue;
        int number = 0;
        for (std::size_t k = directory.size(); k < path.size(); ++k) {
            if (path[k] < '0' || path[k] > '9' || number > 100000) return -1;
            number = number * 10 + (path[k] - '0');
        }
        return number;
    }
    return -1;
}

// The inherited descriptor that `path` names (through links such as
// /dev/stdout), when it is the file found at `path` and open for writing;
// else -1. Such a name cannot always be opened again (a socket cannot), so
// the descriptor is used.
int inheritedDescriptor(std::string path, const struct stat& info) {
    for (int hops = 0; hops < 40; ++hops) {
        const int number = descriptorNumber(path);
        if (number >= 0) {
            struct stat held {};
            const int flags = fcntl(number, F_GETFL);
            const bool same = fstat(number, &held) == 0 && held.st_dev == info.st_dev && held.st_ino == info.st_ino;
            return same && flags >= 0 && (flags & O_ACCMODE) != O_RDONLY ? number : -1;
        }
        if (!followLink(path)) return -1;
    }
    return -1;
}

// Temporary output files are named ".rdsgen-HOST-PID-RANDOM": a fixed
// prefix, a tag of the host (and PID namespace) whose process PID made the
// file, and a random part, short enough for any directory. A run killed
// outright leaves its file behind; a later run removes those of its own host
// whose process no longer exists.
constexpr char kTemporaryPrefix[] = ".rdsgen-";

std::string hostTag() {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    char space[64] = {};
    const ssize_t length = readlink("/proc/self/ns/pid", space, sizeof space - 1);
    const std::string text = std::string(host) + "/" + (length > 0 ? std::string(space, length) : "");
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    char tag[9];
    std::snprintf(tag, sizeof tag, "%08x", hash);
    return tag;
}

std::uint64_t randomNumber() {
    std::uint64_t number = 0;
    if (getrandom(&number, sizeof number, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof number)) {
        struct timespec now {};
        clock_gettime(CLOCK_MONOTONIC, &now);
        number = static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u ^ static_cast<std::uint64_t>(now.tv_sec);
    }
    return number;
}

// Removes the temporary files in `directory` left by runs of this host that
// were killed: those whose process no longer exists.
void removeStaleTemporaries(const std::string& directory, const std::string& tag) {
    DIR* entries = opendir(directory.c_str());
    if (entries == nullptr) return;
    const std::string start = kTemporaryPrefix + tag + "-";
    while (const struct dirent* entry = readdir(entries)) {
        const char* name = entry->d_name;
        if (std::strncmp(name, start.c_str(), start.size()) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name + start.size(), &end, 10);
        if (end == name + start.size() || *end != '-' || pid <= 0 || pid > INT_MAX) continue;
        if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) unlinkat(dirfd(entries), name, 0);
    }
    closedir(entries);
}

}  // namespace

Status openImageFile(const char* path, int& descriptor) {
    descriptor = open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return makeStatus(StatusCode::kCantOpenFile);
    struct stat info {};
    if (fstat(descriptor, &info) == 0 && S_ISDIR(info.st_mode)) {
        close(descriptor);
        descriptor = -1;
        return makeStatus(StatusCode::kIsDirectory);
    }
    return {};
}

Status readImageFile(int descriptor, Image& image, const PixelsNeeded& pixelsNeeded, std::int32_t threads,
                     FileFormat named) {
    image = Image{};
    struct stat info {};
    const bool regular = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
    std::size_t expected = regular ? static_cast<std::size_t>(info.st_size) : 0;
    Bytes file = allocateBytes(kHeaderBytes);
    std::size_t size = 0;
    if (!file) return makeStatus(StatusCode::kImageNoMemory);

    // The header first: a run that will be refused from the sizes alone
    // reads no pixels.
    while (size < kHeaderBytes) {
        const ssize_t got = read(descriptor, file.get() + size, kHeaderBytes - size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        size += static_cast<std::size_t>(got);
    }
    if (Status status = checkShortSignature(std::span<const std::uint8_t>(file.get(), size), named); !status) {
        return status;
    }
    const FileFormat format = sniffFormat(std::span<const std::uint8_t>(file.get(), size));
    // Nothing after a TARGA file's last pixel is read, and a PNG or JPEG
    // input of unknown size is read to its end: an endless device or pipe
    // costs no more than its image.
    InputEnd input;
    if (format == FileFormat::kTga && size == kHeaderBytes) {
        if (Status status = tgaStoredBytes(std::span<const std::uint8_t>(file.get(), size), input.end); !status) {
            return status;
        }
        expected = std::min(expected, input.end);
    } else if (!regular) {
        input.format = format;
    }
    if (format == FileFormat::kTga && regular && size == kHeaderBytes && pixelsNeeded) {
        Image header;
        const Status status = readTgaHeader(std::span<const std::uint8_t>(file.get(), size), expected, header);
        if (!status) return status;
        if (!pixelsNeeded(header)) {
            image = std::move(header);
            return {};
        }
    }

    // The read itself makes the pages resident, once each.
    std::size_t capacity = std::max<std::size_t>(expected + 1, std::size_t{1} << 16);
    if (!regular) capacity = std::min(capacity, input.end);
    Bytes whole = allocateZeroed(capacity, false);
    if (!whole) return makeStatus(StatusCode::kImageNoMemory);
    std::memcpy(whole.get(), file.get(), size);
    // After a whole header the file may go on.
    bool more = size == kHeaderBytes;
    if (more && threads > 1 && expected >= kSharedReadBytes) {
        const ReadAt readAt = [descriptor](std::uint8_t* into, std::size_t count, std::size_t offset) {
            return pread(descriptor, into, count, static_cast<off_t>(offset));
        };
        size += readShared(readAt, whole.get(), size, expected, static_cast<std::size_t>(threads));
        // A file cut short while being read ends there; one that grew is read on.
        more = size == expected && lseek(descriptor, static_cast<off_t>(size), SEEK_SET) >= 0;
    }
    if (more) {
        if (Status status = readRest(descriptor, whole, capacity, size, input); !status) return status;
    }
    if (format == FileFormat::kTga) return readTgaOwned(std::move(whole), size, image);

    const std::span<const std::uint8_t> bytes(whole.get(), size);
    const bool png = format == FileFormat::kPng;
    if (pixelsNeeded) {
        Image header;
        const Status status = png ? decodePng(bytes, header, true) : decodeJpeg(bytes, header, true);
        if (!status) return status;
        if (!pixelsNeeded(header)) {
            image = std::move(header);
            return {};
        }
    }
    return png ? readPng(bytes, image) : readJpeg(bytes, image);
}

FileFormat sniffFormat(std::span<const std::uint8_t> start) {
    if (start.size() >= 8 && std::memcmp(start.data(), kPngSignature, 8) == 0) return FileFormat::kPng;
    if (start.size() >= 3 && std::memcmp(start.data(), kJpegSignature, 3) == 0) return FileFormat::kJpeg;
    return FileFormat::kTga;
}

FileFormat nameFormat(const std::string& name) {
    const auto endsWith = [&name](const char* extension) {
        const std::size_t length = std::strlen(extension);
        if (name.size() < length) return false;
        for (std::size_t i = 0; i < length; ++i) {
            const char c = name[name.size() - length + i];
            if (std::tolower(static_cast<unsigned char>(c)) != extension[i]) return false;
        }
        return true;
    };
    if (endsWith(".png")) return FileFormat::kPng;
    if (endsWith(".jpg") || endsWith(".jpeg")) return FileFormat::kJpeg;
    return FileFormat::kTga;
}

Status readImage(std::span<const std::uint8_t> file, Image& image) {
    switch (sniffFormat(file)) {
        case FileFormat::kPng: return readPng(file, image);
        case FileFormat::kJpeg: return readJpeg(file, image);
        default: return readTga(file, image);
    }
}

bool openOutputFile(OutputFile& output, const char* path, std::uint64_t expectedBytes) {
    output = OutputFile{};
    struct stat info {};
    const bool exists = stat(path, &info) == 0;
    if (!exists && errno == ELOOP) return false;  // a loop of links names no file
    if (exists && !S_ISREG(info.st_mode)) {
        // A device, a FIFO, a socket or a terminal: written directly, as it
        // is, through the descriptor when the name is one of ours.
        output.target = path;
        const int inherited = inheritedDescriptor(path, info);
        if (inherited < 0) return openFileSink(output.sink, path);
        const int descriptor = fcntl(inherited, F_DUPFD_CLOEXEC, 3);
        return descriptor >= 0 && adoptFileSink(output.sink, descriptor);
    }
    output.target = followLinks(path);
    if (exists) {
        // The file is replaced only where the name leads and only when the
        // caller could have written it in place.
        struct stat target {};
        if (stat(output.target.c_str(), &target) != 0 || target.st_dev != info.st_dev ||
            target.st_ino != info.st_ino || faccessat(AT_FDCWD, output.target.c_str(), W_OK, AT_EACCESS) != 0) {
            return false;
        }
    }
    // A new file beside the target, created exclusively (never through a
    // planted link), with the target's permission bits when it exists, but
    // never its set-user-ID and set-group-ID bits.
    const std::string directory = directoryOf(output.target);
    const std::string tag = hostTag();
    removeStaleTemporaries(directory, tag);
    for (int attempt = 0; attempt < 100; ++attempt) {
        char random[17];
        std::snprintf(random, sizeof random, "%016llx", static_cast<unsigned long long>(randomNumber()));
        std::string name = directory + "/" + kTemporaryPrefix + tag + "-" + std::to_string(getpid()) + "-" + random;
        const int descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        if (exists) fchmod(descriptor, info.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID));
        reserveBlocks(descriptor, expectedBytes);
        output.temporary = name;
        if (adoptFileSink(output.sink, descriptor)) return true;
        unlink(name.c_str());
        output.temporary.clear();
        return false;
    }
    // No file can be made beside it. An existing output is then left alone;
    // a new one (nothing to lose) is created in place.
    if (exists) return false;
    const int descriptor = open(output.target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return descriptor >= 0 && adoptFileSink(output.sink, descriptor);
}

bool commitOutputFile(OutputFile& output) {
    const bool closed = closeFileSink(output.sink);
    if (output.temporary.empty()) return closed;
    const bool renamed = closed && rename(output.temporary.c_str(), output.target.c_str()) == 0;
    if (!renamed) unlink(output.temporary.c_str());
    output.temporary.clear();
    return renamed;
}

void abandonOutputFile(OutputFile& output) {
    closeFileSink(output.sink);
    if (output.temporary.empty()) {
        removePartialOutput(output.target.c_str());
    } else {
        unlink(output.temporary.c_str());
        output.temporary.clear();
    }
}

}  // namespace rdsgen
