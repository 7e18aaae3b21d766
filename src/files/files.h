// Files at the edge of a run: input images read once, whole, into memory,
// and the output written to a temporary file that replaces the output name
// when complete.
//
// ABOUT
//   openImageFile and readImageFile read an input (a regular file, a pipe or
//   a device) no further than its image and decode it with the codecs of
//   src/image/. OutputFile is where the stereogram
//   goes, FileSink the RowSink that writes it. Nothing here prints:
//   failures are returned as a Status (or false).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "image/image.h"

namespace rdsgen {

// The format a file's name gives: kPng for ".png", kJpeg for ".jpg" and
// ".jpeg" (in any case), kTga for any other name.
FileFormat nameFormat(const std::string& name);

// Where an input whose size is not known in advance (a pipe, a device)
// ends, found in its bytes as they arrive: a PNG file at the end of its IEND
// chunk, a JPEG file at its EOI marker. A stream whose end has not come
// within `limit` bytes is refused: 64 MiB (the metadata a decoder may hold)
// plus, once the PNG IHDR or JPEG SOF is seen, four times the bytes of the
// image's samples, more than any compressed form of them needs.
struct InputEnd {
    FileFormat format = FileFormat::kTga;  // kTga: `end` as given, nothing scanned
    std::size_t end = SIZE_MAX;            // the bytes of the file, once known
    std::size_t limit = SIZE_MAX;
    std::size_t next = 0;                  // where scanning goes on
    bool sized = false;                    // the limit counts the image's samples
};

// Scans bytes (the input read so far, from its first byte) on from where
// the last call stopped.
void findInputEnd(InputEnd& input, std::span<const std::uint8_t> bytes);

// The refusal of a stream whose end did not come within its limit.
Status missingInputEnd(const InputEnd& input);

// A stream of images one after another (standard input): a PNG or JPEG
// image ends where findInputEnd finds its end, a TARGA image after its last
// pixel (nothing may follow that pixel, such as a TARGA 2.0 footer).
struct StreamCut {
    bool started = false;   // the image's format is known
    InputEnd input;
};

// Scans bytes (the stream from the image's first byte, as read so far; the
// stream has ended when `ended`) for where the image ends: `end` is set once
// it is found, left at SIZE_MAX while more bytes are needed; a stream that
// ends inside the image, an image whose end cannot be found and a broken
// TARGA header are refused. Call again with the same cut as more bytes come.
Status findStreamImageEnd(StreamCut& cut, std::span<const std::uint8_t> bytes, bool ended, std::size_t& end);

// Standard input (or another descriptor) read as a stream of images.
struct ImageStream {
    int descriptor = 0;
    std::vector<std::uint8_t> pending;  // read, not yet handed out
    bool ended = false;                 // the descriptor has no more
};

// The next image's bytes in file; `got` false (and no refusal) when the
// stream ends where an image would begin.
Status nextStreamImage(ImageStream& stream, std::vector<std::uint8_t>& file, bool& got);

// Opens an input image once, for reading; kCantOpenFile, or kIsDirectory
// (nothing left open).
Status openImageFile(const char* path, int& descriptor);

// Decides from an image's header (sizes and kind, no pixels) whether its
// pixels are needed at all.
using PixelsNeeded = std::function<bool(const Image& header)>;

// Reads an open image file whole into memory (a snapshot: later changes to
// the file do not reach the run) and decodes it. When pixelsNeeded says no
// for a regular file, only the header is read and checked, and the image
// has no pixels. A read error counts as the end of the file. A large regular
// file is read on up to `threads` threads at the same time. A file that ends
// before a whole PNG or JPEG signature is refused as PNG or JPEG (saying so)
// when its bytes begin that signature or `named`, the format of its name,
// is that format.
Status readImageFile(int descriptor, Image& image, const PixelsNeeded& pixelsNeeded, std::int32_t threads = 1,
                     FileFormat named = FileFormat::kTga);

// Reads up to count bytes of a file at offset into `into`: the bytes read, 0
// at the end, or -1 with errno set (pread on a descriptor).
using ReadAt = std::function<ssize_t(std::uint8_t* into, std::size_t count, std::size_t offset)>;

// A large file is read on several threads in pieces of kPieceBytes.
constexpr std::size_t kPieceBytes = std::size_t{2} << 20;

// Reads bytes [from, to) of a file into block + from on up to `threads`
// threads (the calling one among them), each taking the next piece; from
// lies in the first piece. The result is the run of bytes from `from` read
// without a gap: a piece that comes back short (the file was cut while
// read) ends the data there, as it would end a single read, whatever the
// pieces after it hold.
std::size_t readShared(const ReadAt& readAt, std::uint8_t* block, std::size_t from, std::size_t to,
                       std::size_t threads);


// The output file as a RowSink: bytes are buffered and every write checked;
// the first write (the header) is flushed at once, so a full disk or a size
// limit is reported before any row is computed.
struct FileSink {
    std::FILE* stream = nullptr;
    Bytes buffer;
    bool failed = false;
    bool flushedOnce = false;
};

// Creates (or truncates) the file; false when it cannot be opened.
bool openFileSink(FileSink& sink, const char* path);
// Writes to an open descriptor, which the sink then owns.
bool adoptFileSink(FileSink& sink, int descriptor);
// The sink's RowSink; it can rewrite bytes already written when the file is
// a regular one (offsets count from the file's start).
RowSink fileRowSink(FileSink& sink);
// Flushes and closes; false when any write, the flush or the close failed.
bool closeFileSink(FileSink& sink);

// Removes a partially written output file; a device or other special file
// (such as /dev/full) is left alone.
void removePartialOutput(const char* fileName);

// The output file of a run. The image is written to a new temporary file
// beside the output (at a symbolic link's target), which replaces the
// output only once it is complete: a failed or interrupted run leaves the
// previous output as it was. The temporary name is short (.rdsgen-HOST-PID-
// RANDOM), and opening removes those left by killed runs of this host. An
// existing output is never written in place: when the caller could not write
// it, or no file can be made beside it, the open fails. An output that
// exists and is not a regular file (a device, a FIFO, a socket, a terminal)
// is written directly, an inherited one (/dev/fd/N, /dev/stdout) through
// its descriptor.
struct OutputFile {
    std::string target;     // where the image goes: the name, or a link's target
    std::string temporary;  // the temporary file while it exists, else empty
    FileSink sink;
};

// False when the output cannot be written as above (also for a loop of
// symbolic links). A new file gets room for expectedBytes (0: not known)
// before it is written.
bool openOutputFile(OutputFile& output, const char* path, std::uint64_t expectedBytes = 0);
// Closes the file and moves it into place; false (and nothing left behind)
// when closing or renaming fails.
bool commitOutputFile(OutputFile& output);
// Closes the file and removes what was written.
void abandonOutputFile(OutputFile& output);

}  // namespace rdsgen
