#include "support/image_files.h"

#include <turbojpeg.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// After <cstdio>: jpeglib.h needs FILE and size_t.
#include <jpeglib.h>

namespace {

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void putBig16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void appendChunk(std::vector<std::uint8_t>& out, const std::string& type, const std::vector<std::uint8_t>& data,
                 bool badCrc) {
    putBig32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt)));
    if (badCrc) crc ^= 0x00010000;
    putBig32(out, crc);
}

// Packs one row of pixels (channels samples each) into PNG bytes.
std::vector<std::uint8_t> packRow(const std::uint16_t* samples, std::size_t count, int bitDepth) {
    std::vector<std::uint8_t> row;
    if (bitDepth == 16) {
        for (std::size_t i = 0; i < count; ++i) putBig16(row, samples[i]);
    } else if (bitDepth == 8) {
        for (std::size_t i = 0; i < count; ++i) row.push_back(static_cast<std::uint8_t>(samples[i]));
    } else {
        row.assign((count * static_cast<std::size_t>(bitDepth) + 7) / 8, 0);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t bit = i * static_cast<std::size_t>(bitDepth);
            const int shift = 8 - bitDepth - static_cast<int>(bit % 8);
            row[bit / 8] |= static_cast<std::uint8_t>((samples[i] & ((1u << bitDepth) - 1)) << shift);
        }
    }
    return row;
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// Appends the filter byte and the filtered row; prior is the previous row of
// the same pass (zeros for its first row).
void appendFiltered(std::vector<std::uint8_t>& raw, int filter, const std::vector<std::uint8_t>& row,
                    const std::vector<std::uint8_t>& prior, std::size_t bpp) {
    raw.push_back(static_cast<std::uint8_t>(filter));
    for (std::size_t i = 0; i < row.size(); ++i) {
        const int a = i >= bpp ? row[i - bpp] : 0;
        const int b = prior[i];
        const int c = i >= bpp ? prior[i - bpp] : 0;
        int predicted = 0;
        switch (filter) {
            case 1: predicted = a; break;
            case 2: predicted = b; break;
            case 3: predicted = (a + b) / 2; break;
            case 4: predicted = paeth(a, b, c); break;
            default: break;
        }
        raw.push_back(static_cast<std::uint8_t>(row[i] - predicted));
    }
}

struct Pass {
    std::uint32_t x0, y0, dx, dy;
};
constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// The filtered scanlines of the image (of every pass when interlaced).
std::vector<std::uint8_t> scanlines(const PngLayout& layout) {
    const std::size_t channels = static_cast<std::size_t>(pngChannels(layout.colourType));
    const std::size_t bpp = std::max<std::size_t>(1, channels * static_cast<std::size_t>(layout.bitDepth) / 8);
    std::vector<std::uint8_t> raw;
    int rowIndex = 0;
    const Pass whole = {0, 0, 1, 1};
    const int passes = layout.interlaced ? 7 : 1;
    for (int p = 0; p < passes; ++p) {
        const Pass pass = layout.interlaced ? kAdam7[p] : whole;
        if (pass.x0 >= layout.width || pass.y0 >= layout.height) continue;
        const std::size_t passWidth = (layout.width - pass.x0 + pass.dx - 1) / pass.dx;
        std::vector<std::uint8_t> prior;
        for (std::uint32_t y = pass.y0; y < layout.height; y += pass.dy) {
            std::vector<std::uint16_t> samples;
            for (std::uint32_t x = pass.x0; x < layout.width; x += pass.dx) {
                const std::size_t at = (static_cast<std::size_t>(y) * layout.width + x) * channels;
                for (std::size_t c = 0; c < channels; ++c) {
                    samples.push_back(at + c < layout.samples.size() ? layout.samples[at + c] : 0);
                }
            }
            const std::vector<std::uint8_t> row = packRow(samples.data(), passWidth * channels, layout.bitDepth);
            if (prior.empty()) prior.assign(row.size(), 0);
            appendFiltered(raw, layout.filter == 5 ? rowIndex % 5 : layout.filter, row, prior, bpp);
            prior = row;
            ++rowIndex;
        }
    }
    return raw;
}

}  // namespace

std::vector<std::uint16_t> noiseSamples(std::size_t count, int bitDepth, std::uint32_t seed) {
    std::vector<std::uint16_t> samples(count);
    const std::uint32_t mask = (1u << bitDepth) - 1;
    for (std::uint16_t& s : samples) {
        seed = seed * 1103515245u + 12345u;
        s = static_cast<std::uint16_t>((seed >> 8) & mask);
    }
    return samples;
}

int pngChannels(int colourType) {
    switch (colourType) {
        case kPngRgb: return 3;
        case kPngGreyAlpha: return 2;
        case kPngRgba: return 4;
        default: return 1;
    }
}

std::vector<std::uint8_t> zlibCompress(const std::vector<std::uint8_t>& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<std::uint8_t> out(size);
    if (compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), 9) != Z_OK) return {};
    out.resize(size);
    return out;
}

std::vector<std::uint8_t> buildPng(const PngLayout& layout) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto bad = [&](const char* type) { return layout.badCrcChunk == type; };
    std::vector<std::uint8_t> header;
    putBig32(header, layout.claimedWidth.value_or(layout.width));
    putBig32(header, layout.claimedHeight.value_or(layout.height));
    header.insert(header.end(), {static_cast<std::uint8_t>(layout.bitDepth), static_cast<std::uint8_t>(layout.colourType),
                                 0, 0, static_cast<std::uint8_t>(layout.interlaced ? 1 : 0)});
    appendChunk(out, "IHDR", header, bad("IHDR"));
    for (const PngChunk& chunk : layout.extraChunks) appendChunk(out, chunk.type, chunk.data, bad(chunk.type.c_str()));
    if (!layout.palette.empty()) appendChunk(out, "PLTE", layout.palette, bad("PLTE"));
    if (!layout.trns.empty()) appendChunk(out, "tRNS", layout.trns, bad("tRNS"));
    if (!layout.dropIdat) {
        const std::vector<std::uint8_t> stream = zlibCompress(scanlines(layout));
        const std::size_t piece = layout.idatPiece == 0 ? std::max<std::size_t>(stream.size(), 1) : layout.idatPiece;
        bool first = true;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            const std::size_t end = std::min(stream.size(), at + piece);
            appendChunk(out, "IDAT", std::vector<std::uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                                               stream.begin() + static_cast<std::ptrdiff_t>(end)),
                        first && bad("IDAT"));
            first = false;
        }
    }
    appendChunk(out, "IEND", {}, bad("IEND"));
    if (layout.truncateTo && *layout.truncateTo < out.size()) out.resize(*layout.truncateTo);
    return out;
}

std::vector<std::uint8_t> pngGreyKey(std::uint16_t grey) {
    std::vector<std::uint8_t> data;
    putBig16(data, grey);
    return data;
}

std::vector<std::uint8_t> pngRgbKey(std::uint16_t red, std::uint16_t green, std::uint16_t blue) {
    std::vector<std::uint8_t> data;
    putBig16(data, red);
    putBig16(data, green);
    putBig16(data, blue);
    return data;
}

namespace {

struct CompressErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void abandonCompression(j_common_ptr info) {
    std::longjmp(reinterpret_cast<CompressErrors*>(info->err)->jump, 1);
}

// Compresses with the libjpeg API into *compressed (freed by the caller);
// false on failure. Nothing here has a destructor: libjpeg leaves by longjmp.
bool compressWithLibjpeg(const JpegLayout& layout, jpeg_compress_struct& info, CompressErrors& errors,
                         jpeg_scan_info* script, unsigned char** compressed, unsigned long* size) {
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = abandonCompression;
    if (setjmp(errors.jump)) return false;
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, compressed, size);
    const bool grey = layout.source == JpegSource::kGrey;
    info.image_width = static_cast<JDIMENSION>(layout.width);
    info.image_height = static_cast<JDIMENSION>(layout.height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, layout.quality, TRUE);
    info.dct_method = JDCT_ISLOW;
    for (std::size_t c = 0; c < layout.sampling.size() && c < static_cast<std::size_t>(info.num_components); ++c) {
        info.comp_info[c].h_samp_factor = layout.sampling[c].first;
        info.comp_info[c].v_samp_factor = layout.sampling[c].second;
    }
    if (layout.scans > 0) {
        // The DC coefficients of every component, then coefficient k of the
        // first component sent at bit 9 and refined down to bit 0, k by k.
        int count = 0;
        script[count++] = {info.num_components, {0, 1, 2, 3}, 0, 0, 0, 0};
        for (int k = 1; k < 64 && count < layout.scans; ++k) {
            for (int bit = 9; bit >= 0 && count < layout.scans; --bit) {
                script[count++] = {1, {0, 0, 0, 0}, k, k, bit == 9 ? 0 : bit + 1, bit};
            }
        }
        info.scan_info = script;
        info.num_scans = count;
    }
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = std::size_t(layout.width) * std::size_t(info.input_components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(layout.pixels.data() + info.next_scanline * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

std::vector<std::uint8_t> buildJpeg(const JpegLayout& layout) {
    if (!layout.sampling.empty() || layout.scans > 0) {
        if (layout.scans > 1 + 63 * 10) return {};
        jpeg_compress_struct info{};
        CompressErrors errors{};
        std::vector<jpeg_scan_info> script(static_cast<std::size_t>(std::max(layout.scans, 1)));
        unsigned char* compressed = nullptr;
        unsigned long size = 0;
        std::vector<std::uint8_t> out;
        if (compressWithLibjpeg(layout, info, errors, script.data(), &compressed, &size)) {
            out.assign(compressed, compressed + size);
        }
        jpeg_destroy_compress(&info);
        std::free(compressed);
        return out;
    }
    tjhandle handle = tjInitCompress();
    if (handle == nullptr) return {};
    int format = TJPF_GRAY, subsampling = TJSAMP_GRAY;
    if (layout.source == JpegSource::kColour) format = TJPF_RGB;
    if (layout.source == JpegSource::kYcck || layout.source == JpegSource::kCmyk) format = TJPF_CMYK;
    if (format != TJPF_GRAY) {
        subsampling = layout.subsampling == JpegSubsampling::k420   ? TJSAMP_420
                      : layout.subsampling == JpegSubsampling::k422 ? TJSAMP_422
                                                                  : TJSAMP_444;
    }
    unsigned char* compressed = nullptr;
    unsigned long size = 0;
    const int flags = TJFLAG_ACCURATEDCT | (layout.progressive ? TJFLAG_PROGRESSIVE : 0);
    const int failed = tjCompress2(handle, layout.pixels.data(), layout.width, 0, layout.height, format, &compressed, &size,
                                   subsampling, layout.quality, flags);
    std::vector<std::uint8_t> out;
    if (failed == 0) out.assign(compressed, compressed + size);
    tjFree(compressed);
    tjDestroy(handle);
    if (layout.source == JpegSource::kCmyk) {
        // The Adobe marker's transform byte (11 bytes after "Adobe"): 0 is
        // plain CMYK, 2 is YCCK. The coefficients stay as they are.
        static const char kAdobe[] = "Adobe";
        auto at = std::search(out.begin(), out.end(), kAdobe, kAdobe + 5);
        if (at == out.end() || out.end() - at < 12) return {};
        *(at + 11) = 0;
    }
    return out;
}
