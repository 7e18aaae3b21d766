// The output file as a RowSink: bytes buffered, every write checked.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "files/files.h"

namespace rdsgen {

namespace {

constexpr std::size_t kOutputBufferSize = 1 << 18;

bool writeToFile(void* context, const std::uint8_t* bytes, std::size_t count) {
    FileSink& sink = *static_cast<FileSink*>(context);
    if (sink.failed || sink.stream == nullptr) return false;
    bool written = std::fwrite(bytes, 1, count, sink.stream) == count;
    if (written && !sink.flushedOnce) {
        sink.flushedOnce = true;
        written = std::fflush(sink.stream) == 0;
    }
    if (!written) sink.failed = true;
    return written;
}

// Overwrites bytes already written: what is buffered goes out first, then
// the bytes go to their place without moving the file's position. A pipe or
// a terminal cannot do this.
bool rewriteFile(void* context, std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
    FileSink& sink = *static_cast<FileSink*>(context);
    if (sink.failed || sink.stream == nullptr || std::fflush(sink.stream) != 0) return false;
    const int descriptor = fileno(sink.stream);
    for (std::size_t done = 0; done < count;) {
        const ssize_t written = pwrite(descriptor, bytes + done, count - done, static_cast<off_t>(offset + done));
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool openFileSink(FileSink& sink, const char* path) {
    sink.stream = std::fopen(path, "wb");
    if (sink.stream == nullptr) return false;
    sink.buffer = allocateBytes(kOutputBufferSize);
    std::setvbuf(sink.stream, reinterpret_cast<char*>(sink.buffer.get()), _IOFBF, kOutputBufferSize);
    sink.failed = false;
    sink.flushedOnce = false;
    return true;
}

bool adoptFileSink(FileSink& sink, int descriptor) {
    sink.stream = fdopen(descriptor, "wb");
    if (sink.stream == nullptr) {
        close(descriptor);
        return false;
    }
    sink.buffer = allocateBytes(kOutputBufferSize);
    std::setvbuf(sink.stream, reinterpret_cast<char*>(sink.buffer.get()), _IOFBF, kOutputBufferSize);
    sink.failed = false;
    sink.flushedOnce = false;
    return true;
}

RowSink fileRowSink(FileSink& sink) { return RowSink{writeToFile, &sink, rewriteFile}; }

bool closeFileSink(FileSink& sink) {
    if (sink.stream == nullptr) return false;
    bool written = !sink.failed && std::fflush(sink.stream) == 0 && std::ferror(sink.stream) == 0;
    bool closed = std::fclose(sink.stream) == 0;
    sink.stream = nullptr;
    sink.buffer.reset();
    return written && closed;
}

void removePartialOutput(const char* fileName) {
    struct stat status {};
    if (stat(fileName, &status) == 0 && S_ISREG(status.st_mode)) std::remove(fileName);
}

}  // namespace rdsgen
