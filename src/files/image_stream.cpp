// Images one after another in one stream (standard input), cut apart where
// each ends, so that every image is decoded from its own bytes.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "files/files.h"

namespace rdsgen {

namespace {

constexpr std::size_t kTgaHeaderBytes = 18;
constexpr std::size_t kReadBytes = std::size_t{1} << 20;
// The signature that ends a TARGA 2.0 footer, the footer's size and that of
// the extension area that may come before it.
constexpr std::uint8_t kTgaSignature[18] = {'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O',
                                            'N', '-', 'X', 'F', 'I', 'L', 'E', '.', '\0'};
constexpr std::size_t kTgaFooterBytes = 26;
constexpr std::size_t kTgaExtensionBytes = 495;

Status endsInside(FileFormat format) {
    if (format == FileFormat::kTga) return makeStatus(StatusCode::kTgaEndOfFile);
    return makeStatus(format == FileFormat::kPng ? StatusCode::kPngError : StatusCode::kJpegError, 0, 0,
                      "the stream ends inside the image");
}

}  // namespace

Status findStreamImageEnd(StreamCut& cut, std::span<const std::uint8_t> bytes, bool ended, std::size_t& end) {
    end = SIZE_MAX;
    if (!cut.started) {
        // The first bytes tell the format; a TARGA header tells its size.
        if (bytes.size() < kTgaHeaderBytes && !ended) return {};
        const FileFormat format = sniffFormat(bytes);
        if (format == FileFormat::kTga) {
            if (bytes.size() < kTgaHeaderBytes) return endsInside(format);
            std::size_t stored = 0;
            if (Status status = tgaStoredBytes(bytes.first(kTgaHeaderBytes), stored); !status) return status;
            cut.input.end = stored;
        }
        cut.input.format = format;
        cut.started = true;
    }
    findInputEnd(cut.input, bytes);
    if (cut.input.format == FileFormat::kTga && bytes.size() >= cut.input.end) {
        // A TARGA 2.0 file goes on after its pixels: a 26-byte footer that
        // ends in its signature, right after them or after a 495-byte
        // extension area (which starts with its size).
        const std::size_t from = cut.input.end;
        const auto footerAt = [&bytes](std::size_t at) {
            return bytes.size() >= at + kTgaFooterBytes &&
                   std::memcmp(bytes.data() + at + kTgaFooterBytes - sizeof kTgaSignature, kTgaSignature,
                               sizeof kTgaSignature) == 0;
        };
        const bool extension = bytes.size() >= from + 2 && bytes[from] == (kTgaExtensionBytes & 0xFF) &&
                               bytes[from + 1] == (kTgaExtensionBytes >> 8);
        const std::size_t footer = extension ? from + kTgaExtensionBytes : from;
        if (bytes.size() < footer + kTgaFooterBytes && !ended) return {};  // wait for the bytes that tell
        end = footerAt(footer) ? footer + kTgaFooterBytes : from;
        return {};
    }
    if (bytes.size() >= cut.input.end) {
        end = cut.input.end;
        return {};
    }
    if (cut.input.format != FileFormat::kTga && bytes.size() >= cut.input.limit) return missingInputEnd(cut.input);
    if (ended) return endsInside(cut.input.format);
    return {};
}

Status nextStreamImage(ImageStream& stream, std::vector<std::uint8_t>& file, bool& got) {
    got = false;
    StreamCut cut;
    for (;;) {
        if (!stream.pending.empty() || stream.ended) {
            if (stream.pending.empty()) return {};  // the end, between images
            std::size_t end = SIZE_MAX;
            const Status status = findStreamImageEnd(cut, stream.pending, stream.ended, end);
            if (!status) return status;
            if (end != SIZE_MAX) {
                file.assign(stream.pending.begin(), stream.pending.begin() + static_cast<std::ptrdiff_t>(end));
                stream.pending.erase(stream.pending.begin(), stream.pending.begin() + static_cast<std::ptrdiff_t>(end));
                got = true;
                return {};
            }
        }
        const std::size_t size = stream.pending.size();
        stream.pending.resize(size + kReadBytes);
        const ssize_t count = read(stream.descriptor, stream.pending.data() + size, kReadBytes);
        if (count < 0 && errno == EINTR) {
            stream.pending.resize(size);
            continue;
        }
        stream.pending.resize(size + (count > 0 ? static_cast<std::size_t>(count) : 0));
        if (count <= 0) stream.ended = true;  // a read error ends the stream, as it ends a file
    }
}

}  // namespace rdsgen
