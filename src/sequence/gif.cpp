// Animated GIF: each frame's exact colours in its own colour map, encoded by
// giflib. Nothing is dithered or quantised: a frame either fits in 256
// colours or is refused.
#include <gif_lib.h>

#include <algorithm>
#include <array>

#include "sequence/sequence.h"

namespace rdsgen {

namespace {

// Colours seen in a frame, in an open-addressed table big enough for 257
// of them (the first one too many ends the count).
class ColourTable {
public:
    // The colour's number in order of appearance; -1 for a 257th colour.
    int find(std::uint32_t colour) {
        std::uint32_t slot = (colour * 2654435761u) >> (32 - kBits);
        while (true) {
            Entry& entry = entries_[slot];
            if (entry.used && entry.colour == colour) return entry.number;
            if (!entry.used) {
                if (colours_.size() == 256) return -1;
                entry = Entry{colour, static_cast<int>(colours_.size()), true};
                colours_.push_back(colour);
                return entry.number;
            }
            slot = (slot + 1) & (kSize - 1);
        }
    }
    const std::vector<std::uint32_t>& colours() const { return colours_; }

private:
    static constexpr int kBits = 10;
    static constexpr std::uint32_t kSize = 1u << kBits;
    struct Entry {
        std::uint32_t colour = 0;
        int number = 0;
        bool used = false;
    };
    std::array<Entry, kSize> entries_{};
    std::vector<std::uint32_t> colours_;
};

}  // namespace

bool indexGifFrame(const std::uint8_t* rows, std::int32_t width, std::int32_t height, bool grey,
                   GifFrameIndex& frame) {
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    frame.indexes.resize(pixels);
    frame.colours.clear();
    if (grey) {
        // The grey levels present, ascending; a level's index is its rank.
        std::array<bool, 256> present{};
        for (std::size_t i = 0; i < pixels; ++i) present[rows[i]] = true;
        std::array<std::uint8_t, 256> rank{};
        for (int level = 0; level < 256; ++level) {
            if (!present[level]) continue;
            rank[level] = static_cast<std::uint8_t>(frame.colours.size());
            frame.colours.push_back(static_cast<std::uint32_t>(level) * 0x010101u);
        }
        for (std::size_t i = 0; i < pixels; ++i) frame.indexes[i] = rank[rows[i]];
        return true;
    }
    // Colour: numbered in order of appearance, then renumbered in ascending
    // order so that the colour map does not depend on where colours appear.
    ColourTable table;
    std::uint32_t last = 0xFFFFFFFFu;
    int lastNumber = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint8_t* pixel = rows + 3 * i;
        const std::uint32_t colour = std::uint32_t{pixel[2]} << 16 | std::uint32_t{pixel[1]} << 8 | pixel[0];
        if (colour != last) {
            lastNumber = table.find(colour);
            if (lastNumber < 0) return false;
            last = colour;
        }
        frame.indexes[i] = static_cast<std::uint8_t>(lastNumber);
    }
    std::vector<std::uint32_t> sorted = table.colours();
    std::sort(sorted.begin(), sorted.end());
    std::array<std::uint8_t, 256> rank{};
    for (std::size_t number = 0; number < table.colours().size(); ++number) {
        const auto at = std::lower_bound(sorted.begin(), sorted.end(), table.colours()[number]);
        rank[number] = static_cast<std::uint8_t>(at - sorted.begin());
    }
    for (std::uint8_t& index : frame.indexes) index = rank[index];
    frame.colours = std::move(sorted);
    return true;
}

std::int32_t gifDelay(std::int32_t rate) {
    const std::int64_t r = std::max<std::int64_t>(rate, 1);
    return static_cast<std::int32_t>((200 + r) / (2 * r));
}

struct GifEncoder::File {
    GifFileType* gif = nullptr;
};

namespace {

// giflib's output function: the encoder's SequenceOutput. giflib takes
// any count other than the one asked for as a failed write.
int writeGif(GifFileType* gif, const GifByteType* bytes, int count) {
    SequenceOutput& out = *static_cast<SequenceOutput*>(gif->UserData);
    if (count <= 0) return count;
    return out.write(bytes, static_cast<std::size_t>(count)) ? count : 0;
}

}  // namespace

GifEncoder::GifEncoder(SequenceOutput& out) : out_(out), file_(std::make_unique<File>()) {}

GifEncoder::~GifEncoder() {
    if (file_->gif != nullptr) {
        // Closing writes the trailer; a sequence not finished sends nothing more.
        out_.failed = true;
        EGifCloseFile(file_->gif, nullptr);
    }
}

bool GifEncoder::begin(std::int32_t width, std::int32_t height, std::int32_t rate) {
    width_ = width;
    height_ = height;
    delay_ = gifDelay(rate);
    int error = 0;
    file_->gif = EGifOpen(&out_, writeGif, &error);
    if (file_->gif == nullptr) return false;
    EGifSetGifVersion(file_->gif, true);
    if (EGifPutScreenDesc(file_->gif, width, height, 8, 0, nullptr) != GIF_OK) return false;
    // Loop forever.
    static const GifByteType kApplication[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    static const GifByteType kLoop[] = {1, 0, 0};
    return EGifPutExtensionLeader(file_->gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(file_->gif, sizeof kApplication, kApplication) == GIF_OK &&
           EGifPutExtensionBlock(file_->gif, sizeof kLoop, kLoop) == GIF_OK &&
           EGifPutExtensionTrailer(file_->gif) == GIF_OK;
}

bool GifEncoder::addFrame(const GifFrameIndex& frame) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = delay_;
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const std::size_t extensionBytes = EGifGCBToExtension(&control, extension);
    if (EGifPutExtension(file_->gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extensionBytes), extension) != GIF_OK) {
        return false;
    }
    // The smallest map giflib takes: a power of two, at least 2 entries.
    const int count = static_cast<int>(frame.colours.size());
    std::vector<GifColorType> colours(static_cast<std::size_t>(1) << GifBitSize(std::max(count, 1)));
    for (int i = 0; i < count; ++i) {
        const std::uint32_t colour = frame.colours[static_cast<std::size_t>(i)];
        colours[static_cast<std::size_t>(i)] = GifColorType{static_cast<GifByteType>(colour >> 16),
                                                            static_cast<GifByteType>(colour >> 8),
                                                            static_cast<GifByteType>(colour)};
    }
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    if (map == nullptr) return false;
    const bool described = EGifPutImageDesc(file_->gif, 0, 0, width_, height_, false, map) == GIF_OK;
    GifFreeMapObject(map);
    if (!described) return false;
    std::vector<GifPixelType> row(static_cast<std::size_t>(width_));
    for (std::int32_t y = 0; y < height_; ++y) {
        const std::uint8_t* indexes = frame.indexes.data() + static_cast<std::size_t>(y) * width_;
        std::copy(indexes, indexes + width_, row.begin());
        if (EGifPutLine(file_->gif, row.data(), width_) != GIF_OK) return false;
    }
    return true;
}

bool GifEncoder::finish() {
    GifFileType* gif = file_->gif;
    file_->gif = nullptr;
    // giflib does not report a failed write of the trailer: the output's own
    // record does.
    EGifCloseFile(gif, nullptr);
    return !out_.failed;
}

}  // namespace rdsgen
