// The calculation loop: every input row becomes one output row, written in
// order. The calling thread draws every random number (pattern strips, then
// the seeds of the linking passes, row by row); worker threads do the rest of
// each row in their own RowWork.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "depth/depth.h"
#include "engine/engine.h"
#include "image/image.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"

namespace rdsgen {

namespace {

// Rows in flight stay within this many bytes of RowWork (at least two rows
// per thread), so memory does not grow with the image height.
constexpr std::int64_t kInFlightBytes = std::int64_t{8} << 20;

// Pixels of working rows handed to a worker at a time.
constexpr std::int64_t kBatchPixels = std::int64_t{1} << 16;

Status writeFailed() {
    Status status;
    status.code = StatusCode::kWriteFailed;
    return status;
}

// The run's fixed inputs and its output, shared by the loop and its workers.
struct Render {
    const Settings& settings;
    const RowGeometry& geometry;
    const Image& heights;
    const Image* pattern;
    const DepthTable& depths;
    RowSink sink;
    Progress progress;

    void report(Stage stage, std::int32_t done, std::int32_t total) const {
        if (progress.report != nullptr) progress.report(progress.context, stage, done, total);
    }
    bool write(const std::uint8_t* bytes, std::size_t count) const {
        return sink.write != nullptr && sink.write(sink.context, bytes, count);
    }
    // A finished row, twice with Double.
    bool writeRow(const std::uint8_t* row) const {
        const std::size_t bytes = static_cast<std::size_t>(geometry.outputRowBytes);
        if (!write(row, bytes)) return false;
        return settings.Double == 0 || write(row, bytes);
    }
};

// The draws of one row: its pattern strip and source row, then the seeds.
struct RowSource {
    PatternContext context;
    PatternState stripState{};
    PatternState sourceState{};

    void prepare(const Render& render, RowWork& work, std::int32_t y) {
        const RowGeometry& geometry = render.geometry;
        work.y = y;
        std::uint8_t* strip = work.row.get() + 3 * static_cast<std::ptrdiff_t>(geometry.stripStart);
        makePatternRow(context, geometry, render.pattern, strip, work.sourceRow.get(), stripState,
                       sourceState, y);
        if (render.settings.PPos <= 2) work.seeds[0] = static_cast<std::uint32_t>(context.random.next());
        if (render.settings.PPos >= 2) work.seeds[1] = static_cast<std::uint32_t>(context.random.next());
    }
};

// White rows carrying the focus marks, written above the image.
bool writeFocusBand(const Render& render, RowWork& work) {
    const RowGeometry& geometry = render.geometry;
    const std::int32_t width = std::min(geometry.outputWidth, geometry.rowPixels);
    for (std::int32_t c = 0; c < geometry.bandRows; ++c) {
        if (width > 0) std::memset(work.row.get(), 255, 3 * static_cast<std::size_t>(width));
        drawFocusMarks(render.settings, geometry, work.row.get(), c);
        if (!render.writeRow(finishRow(geometry, work.row.get()))) return false;
    }
    return true;
}

bool renderRowsHere(const Render& render, RowSource& source, RowWork& work) {
    const std::int32_t rows = render.geometry.inputHeight;
    for (std::int32_t y = 0; y < rows; ++y) {
        source.prepare(render, work, y);
        computeRow(render.settings, render.geometry, render.heights, render.depths, work);
        const bool written = render.writeRow(work.output);
        if (y % 8 == 0) render.report(Stage::kRows, y, rows);
        if (!written) return false;
    }
    return true;
}

// Rows on worker threads, in batches of rows so that the hand-over costs
// little next to the work: a ring of batches of RowWork slots; the calling
// thread fills each slot's strip and seeds, a worker computes the batch, and
// the calling thread writes the batches back in row order.
class RowPool {
public:
    RowPool(const Render& render, std::vector<RowWork>& slots, std::int32_t batchRows)
        : render_(render), slots_(slots), batchRows_(batchRows),
          ring_(static_cast<std::int32_t>(slots.size()) / batchRows) {
        done_.assign(static_cast<std::size_t>(ring_), false);
    }
    ~RowPool() { stop(); }

    bool start(std::int32_t threads) {
        for (std::int32_t i = 0; i < threads; ++i) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (...) {
                break;
            }
        }
        return !workers_.empty();
    }

    bool renderRows(RowSource& source) {
        const std::int32_t rows = render_.geometry.inputHeight;
        const std::int32_t batches = (rows + batchRows_ - 1) / batchRows_;
        std::int32_t next = 0;
        for (std::int32_t b = 0; b < batches; ++b) {
            for (; next < batches && next - b < ring_; ++next) {
                for (std::int32_t y = next * batchRows_; y < rowsEnd(next); ++y) {
                    source.prepare(render_, slot(y), y);
                }
                {
                    std::lock_guard lock(mutex_);
                    queue_.push_back(next);
                }
                workReady_.notify_one();
            }
            {
                std::unique_lock lock(mutex_);
                rowDone_.wait(lock, [&] { return done_[static_cast<std::size_t>(b % ring_)]; });
                done_[static_cast<std::size_t>(b % ring_)] = false;
            }
            for (std::int32_t y = b * batchRows_; y < rowsEnd(b); ++y) {
                const bool written = render_.writeRow(slot(y).output);
                if (y % 8 == 0) render_.report(Stage::kRows, y, rows);
                if (!written) return false;
            }
        }
        return true;
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        workReady_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        workers_.clear();
    }

private:
    std::int32_t rowsEnd(std::int32_t batch) const {
        return std::min((batch + 1) * batchRows_, render_.geometry.inputHeight);
    }
    RowWork& slot(std::int32_t y) {
        const std::int32_t batch = y / batchRows_ % ring_;
        return slots_[static_cast<std::size_t>(batch * batchRows_ + y % batchRows_)];
    }

    void work() {
        for (;;) {
            std::int32_t batch = 0;
            {
                std::unique_lock lock(mutex_);
                workReady_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (stopping_) return;
                batch = queue_.front();
                queue_.pop_front();
            }
            for (std::int32_t y = batch * batchRows_; y < rowsEnd(batch); ++y) {
                computeRow(render_.settings, render_.geometry, render_.heights, render_.depths, slot(y));
            }
            {
                std::lock_guard lock(mutex_);
                done_[static_cast<std::size_t>(batch % ring_)] = true;
            }
            rowDone_.notify_one();
        }
    }

    const Render& render_;
    std::vector<RowWork>& slots_;
    const std::int32_t batchRows_;
    const std::int32_t ring_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable rowDone_;
    std::deque<std::int32_t> queue_;
    std::vector<bool> done_;
    bool stopping_ = false;
};

std::int64_t rowWorkBytes(const RowGeometry& geometry) {
    const std::int64_t scale = geometry.scale;
    return std::int64_t{geometry.rowPixels} * 3 + (std::int64_t{geometry.inputWidth} + 1) * 4 * scale +
           (geometry.sourcePeriod > 0 ? (std::int64_t{geometry.sourcePeriod} + 1) * 3 * scale : 0);
}

}  // namespace

bool allocateRowWork(const RowGeometry& geometry, RowWork& work) {
    const std::int64_t scale = geometry.scale;
    work.row = allocateBytes(static_cast<std::size_t>(geometry.rowPixels) * 3);
    work.separations = allocateBytes(static_cast<std::size_t>((std::int64_t{geometry.inputWidth} + 1) * 4 * scale));
    work.sourceRow.reset();
    if (geometry.sourcePeriod > 0) {
        work.sourceRow = allocateBytes(static_cast<std::size_t>((std::int64_t{geometry.sourcePeriod} + 1) * 3 * scale));
        if (!work.sourceRow) return false;
    }
    return work.row && work.separations;
}

void computeRow(const Settings& settings, const RowGeometry& geometry, const Image& heights,
                const DepthTable& depths, RowWork& work) {
    widenPatternStrip(settings, geometry, work);
    makeSeparationRow(heights, depths, work.y, separationRow(work));
    widenSeparationRow(geometry, work);
    linkRow(settings, geometry, work);
    if (settings.VInc) reduceRow(settings, geometry, work);
    if (settings.FocP == 2 && work.y <= geometry.bandHeight) {
        drawFocusMarks(settings, geometry, work.row.get(), work.y);
    }
    work.output = finishRow(geometry, work.row.get());
}

Status renderStereogram(const Settings& settings, const RowGeometry& geometry, const Image& heights,
                        const Image* pattern, const RenderOptions& options, RowSink sink,
                        Progress progress) {
    if (options.format == OutputFormat::kTga) {
        const std::array<std::uint8_t, 18> header = tgaHeader(geometry);
        if (sink.write == nullptr || !sink.write(sink.context, header.data(), header.size())) {
            return writeFailed();
        }
    }

    const std::int32_t rows = geometry.inputHeight;
    const bool scan = settings.StretZ != 0 && progress.report != nullptr;
    if (scan) progress.report(progress.context, Stage::kScalingHeights, 0, rows);
    const DepthTable depths = makeDepthTable(settings, geometry.patternWidth, heights,
                                             scaleHeights(settings, geometry.scale, heights));
    if (scan) progress.report(progress.context, Stage::kHeightsScaled, 0, rows);
    const Render render{settings, geometry, heights, pattern, depths, sink, progress};

    // Workers only pay where there are rows to share. A batch holds about
    // kBatchPixels pixels of rows; the ring holds two batches per thread and
    // one more, within kInFlightBytes where rows are very wide.
    const std::int32_t threads = rows > 1 ? threadCount(options.threads) : 1;
    const std::int64_t perRow = std::max<std::int64_t>(rowWorkBytes(geometry), 1);
    std::int64_t batchRows = std::clamp<std::int64_t>(kBatchPixels / std::max(geometry.rowPixels, 1), 1, 64);
    std::int64_t ring = 2 * std::int64_t{threads} + 1;
    if (ring * batchRows * perRow > kInFlightBytes) {
        batchRows = std::max<std::int64_t>(kInFlightBytes / (ring * perRow), 1);
        ring = std::max<std::int64_t>(std::min(ring, kInFlightBytes / perRow), 2);
    }
    if (threads <= 1) batchRows = ring = 1;
    std::vector<RowWork> slots(static_cast<std::size_t>(ring * batchRows));
    for (RowWork& work : slots) {
        if (!allocateRowWork(geometry, work)) {
            Status status;
            status.code = StatusCode::kNoMemory;
            return status;
        }
    }

    render.report(Stage::kCalculating, 0, rows);
    const bool bandWritten = writeFocusBand(render, slots[0]);
    render.report(Stage::kRowsStarting, 0, rows);
    if (!bandWritten) return writeFailed();

    Random random(options.seed);
    RowSource source{PatternContext{settings, random}};
    bool written = false;
    RowPool pool(render, slots, static_cast<std::int32_t>(batchRows));
    if (threads > 1 && pool.start(threads)) {
        written = pool.renderRows(source);
        pool.stop();
    } else {
        written = renderRowsHere(render, source, slots[0]);
    }
    if (!written) return writeFailed();
    render.report(Stage::kRows, rows, rows);
    return {};
}

}  // namespace rdsgen
