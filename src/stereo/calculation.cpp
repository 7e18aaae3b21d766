// The calculation loop: every input row becomes one output row, written in
// order. The random numbers (pattern strips, then the seeds of the linking
// passes, row by row) are drawn in that order whatever the number of
// threads; each thread works the rows it drew in its own RowWork.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "depth/depth.h"
#include "image/image.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"

namespace rdsgen {

namespace {

// Rows in flight stay within this many bytes of RowWork (at least two rows
// per thread), so memory does not grow with the image height.
constexpr std::int64_t kInFlightBytes = std::int64_t{8} << 20;

// Objects that threads hand to each other, or wait on, sit on lines of
// this many bytes of their own (two 64-byte lines: neighbouring lines are
// fetched together).
constexpr std::size_t kCacheLine = 128;

// Pixels of working rows handed to a worker at a time.
constexpr std::int64_t kBatchPixels = std::int64_t{1} << 16;

// Why the caller's callbacks stopped a render (kNone: they did not).
enum class CallbackFault : int { kNone, kCancelled, kThrew };

// The caller's sink and progress callback. They are called only through
// report and write, which turn an exception or a cancellation into a failed
// call and remember why: nothing thrown reaches the library's threads.
struct Callbacks final : ByteOutput {
    Callbacks(RowSink sink, Progress progress) : sink(sink), progress(progress) {}

    RowSink sink;
    Progress progress;
    mutable std::atomic<CallbackFault> fault{CallbackFault::kNone};
    mutable std::mutex refusalMutex;
    mutable Status refusal;  // the writer's first refusal

    // False when the render is to stop: cancelled, or the callback threw.
    bool report(Stage stage, std::int32_t done, std::int32_t total) const {
        if (progress.report == nullptr) return true;
        try {
            if (progress.report(progress.context, stage, done, total)) return true;
            noteFault(CallbackFault::kCancelled);
        } catch (...) {
            noteFault(CallbackFault::kThrew);
        }
        return false;
    }
    bool write(const std::uint8_t* bytes, std::size_t count) const override {
        if (sink.write == nullptr) return false;
        try {
            return sink.write(sink.context, bytes, count);
        } catch (...) {
            noteFault(CallbackFault::kThrew);
            return false;
        }
    }
    void noteFault(CallbackFault why) const {
        CallbackFault none = CallbackFault::kNone;
        fault.compare_exchange_strong(none, why);
    }
    // Keeps the writer's first refusal; false, so that the caller stops.
    bool refused(const Status& status) const {
        std::lock_guard lock(refusalMutex);
        if (refusal) refusal = status;
        return false;
    }
    // The status of a render that stopped before its end: a callback's
    // fault, else the writer's refusal, else a failed write.
    Status failure() const {
        switch (fault.load()) {
            case CallbackFault::kCancelled: return makeStatus(StatusCode::kCancelled);
            case CallbackFault::kThrew: return makeStatus(StatusCode::kCallbackFailed);
            case CallbackFault::kNone: break;
        }
        std::lock_guard lock(refusalMutex);
        return refusal ? makeStatus(StatusCode::kWriteFailed) : refusal;
    }
};

// The run's fixed inputs and its output, shared by the loop and its workers.
struct Render {
    const RunSettings& settings;
    const RowGeometry& geometry;
    const Image& heights;
    const Image* pattern;
    const DepthTable& depths;
    const Callbacks& callbacks;
    ImageWriter& writer;          // called by one thread at a time, in row order
    std::int32_t blockRows = 0;   // the writer's rows per encoded block (0: rows one by one)

    bool report(Stage stage, std::int32_t done, std::int32_t total) const {
        return callbacks.report(stage, done, total);
    }
    // A finished row to the writer, twice with Double.
    bool addRow(const std::uint8_t* row) const {
        for (std::int32_t copy = 0; copy <= settings.Double; ++copy) {
            if (Status status = writer.addRow(callbacks, row); !status) return callbacks.refused(status);
        }
        return true;
    }
    bool addBlock(const EncodedRows& block) const {
        const Status status = writer.addBlock(callbacks, block);
        return status || callbacks.refused(status);
    }
    // A finished row into an encoded block, twice with Double.
    bool encodeRow(RowEncoder& encoder, EncodedRows& block, const std::uint8_t* row) const {
        for (std::int32_t copy = 0; copy <= settings.Double; ++copy) {
            if (!encoder.addRow(block, row)) return false;
        }
        return true;
    }
};

// The rows the calling thread finishes itself, to the writer: one by one,
// or into blocks of blockRows rows, each handed over when complete.
class RowEmitter {
public:
    explicit RowEmitter(const Render& render) : render_(render) {
        if (render.blockRows > 0) {
            encoder_ = render.writer.newEncoder();
            block_ = render.writer.newBlock();
        }
    }

    bool emit(const std::uint8_t* row) {
        if (render_.blockRows == 0) return render_.addRow(row);
        if (!encoder_ || !block_) return false;
        if (inBlock_ == 0 && !encoder_->begin(*block_)) return false;
        if (!render_.encodeRow(*encoder_, *block_, row)) return false;
        return ++inBlock_ < render_.blockRows || close();
    }
    // Ends the current block (the end of the band, or of the image).
    bool close() {
        if (render_.blockRows == 0 || inBlock_ == 0) return true;
        inBlock_ = 0;
        return encoder_->finish(*block_) && render_.addBlock(*block_);
    }

private:
    const Render& render_;
    std::unique_ptr<RowEncoder> encoder_;
    std::unique_ptr<EncodedRows> block_;
    std::int32_t inBlock_ = 0;
};

// The draws of one row: its pattern strip and source row, then the seeds.
struct alignas(kCacheLine) RowSource {
    PatternContext context;
    PatternState stripState{};
    PatternState sourceState{};

    void prepare(const Render& render, RowWork& work, std::int32_t y) {
        const RowGeometry& geometry = render.geometry;
        work.y = y;
        std::uint8_t* row = work.row + static_cast<std::ptrdiff_t>(geometry.pixelBytes) * geometry.stripStart;
        std::uint8_t* strip = geometry.pixelBytes == 1 ? work.strip : row;
        makePatternRow(context, geometry, render.pattern, strip, work.sourceRow, stripState,
                       sourceState, y);
        if (render.settings.PPos <= 2) work.seeds[0] = static_cast<std::uint32_t>(context.random.next());
        if (render.settings.PPos >= 2) work.seeds[1] = static_cast<std::uint32_t>(context.random.next());
    }
};

// White rows carrying the focus marks, written above the image.
bool writeFocusBand(const Render& render, RowWork& work, RowEmitter& emitter) {
    const RowGeometry& geometry = render.geometry;
    const std::int32_t width = std::min(geometry.outputWidth, geometry.rowPixels);
    for (std::int32_t c = 0; c < geometry.bandRows; ++c) {
        if (width > 0) std::memset(work.row, 255, static_cast<std::size_t>(geometry.pixelBytes) * width);
        drawFocusMarks(render.settings, geometry, work.row, c);
        if (!emitter.emit(finishRow(geometry, work.row))) return false;
    }
    return emitter.close();
}

bool renderRowsHere(const Render& render, RowSource& source, RowWork& work, RowEmitter& emitter) {
    const std::int32_t rows = render.geometry.inputHeight;
    for (std::int32_t y = 0; y < rows; ++y) {
        source.prepare(render, work, y);
        computeRow(render.settings, render.geometry, render.heights, render.depths, work);
        const bool written = emitter.emit(work.output);
        if (y % 8 == 0 && !render.report(Stage::kRows, y, rows)) return false;
        if (!written) return false;
    }
    return emitter.close();
}

// Rows on several threads, in batches of rows so that hand-overs cost little
// next to the work. A thread takes the next batch (once its ring slot of
// RowWork is free), draws its strips and seeds when the batch before it has
// been drawn (the generator passes from thread to thread, in batch order),
// then computes it: a batch's pattern strips are made and used on one core.
// Batches reach the sink in order: whichever thread may write and finds the
// next one done writes it, and any that follow it done, while no other
// thread writes. Without anyThreadWrites only the calling thread writes.
class alignas(kCacheLine) RowPool {
public:
    RowPool(const Render& render, std::vector<RowWork>& slots, std::int32_t batchRows, bool anyThreadWrites,
            RowSource& source)
        : render_(render), slots_(slots), batchRows_(batchRows),
          ring_(static_cast<std::int32_t>(slots.size()) / batchRows),
          anyThreadWrites_(anyThreadWrites), source_(source) {
        if (render.blockRows > 0) encoder_ = render.writer.newEncoder();
        done_.assign(static_cast<std::size_t>(ring_), false);
        failed_.assign(static_cast<std::size_t>(ring_), false);
        if (render.blockRows > 0) {
            for (std::int32_t i = 0; i < ring_; ++i) blocks_.push_back(render.writer.newBlock());
        }
    }
    ~RowPool() { stop(); }

    // Starts up to `workers` threads beside the calling one; false when none
    // starts.
    bool start(std::int32_t workers) {
        for (std::int32_t i = 0; i < workers; ++i) {
            try {
                workers_.emplace_back([this] { work(); });
            } catch (...) {
                break;
            }
        }
        return !workers_.empty();
    }

    // The calling thread's batches, then the rest of the writing; false when
    // the rows could not all be written.
    bool renderRows() {
        {
            std::lock_guard lock(mutex_);
            batches_ = (render_.geometry.inputHeight + batchRows_ - 1) / batchRows_;
            started_ = true;
        }
        changed_.notify_all();
        runBatches(encoder_.get(), true);
        std::unique_lock lock(mutex_);
        while (nextWrite_ < batches_ && !writeFailed_) {
            if (!writeDone(lock)) changed_.wait(lock);
        }
        return !writeFailed_;
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
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
        std::unique_ptr<RowEncoder> encoder;
        if (render_.blockRows > 0) encoder = render_.writer.newEncoder();
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return started_ || stopping_; });
            if (!started_) return;
        }
        runBatches(encoder.get(), anyThreadWrites_);
    }

    // Batches as long as there are any: each taken in order, drawn once the
    // batch before it has been drawn, then computed by the thread that took it.
    void runBatches(RowEncoder* encoder, bool mayWrite) {
        for (;;) {
            const std::int32_t batch = takeBatch(mayWrite);
            if (batch < 0) return;
            awaitDrawing(batch);
            for (std::int32_t y = batch * batchRows_; y < rowsEnd(batch); ++y) source_.prepare(render_, slot(y), y);
            {
                std::lock_guard lock(mutex_);
                nextDraw_.store(batch + 1, std::memory_order_release);
            }
            changed_.notify_all();
            bool computed = false;
            try {
                computed = computeBatch(batch, encoder);
            } catch (...) {  // no memory for an encoded block: the run fails, no thread dies
            }
            std::unique_lock lock(mutex_);
            const std::size_t ringSlot = static_cast<std::size_t>(batch % ring_);
            failed_[ringSlot] = !computed;
            done_[ringSlot] = true;
            if (mayWrite) writeDone(lock);
            changed_.notify_all();
        }
    }

    // The next batch, once its slots are free (the batch a ring before it
    // written); a thread that may write writes meanwhile. -1 when there are
    // no more batches, or the run has failed.
    std::int32_t takeBatch(bool mayWrite) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (writeFailed_ || nextTake_ >= batches_) return -1;
            if (nextTake_ - nextWrite_ < ring_) return nextTake_++;
            if (!mayWrite || !writeDone(lock)) changed_.wait(lock);
        }
    }

    // Waits until the batches before batch have been drawn. The thread that
    // took the batch before is drawing it now, which takes far less time than
    // a sleeping thread needs to wake: look for the turn a while first.
    void awaitDrawing(std::int32_t batch) {
        for (int look = 0; look < 256 && nextDraw_.load(std::memory_order_acquire) != batch; ++look) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
        if (nextDraw_.load(std::memory_order_acquire) == batch) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return nextDraw_.load(std::memory_order_acquire) == batch; });
    }

    // The rows of a batch and, for a writer of encoded blocks, their block;
    // false when the block could not be encoded.
    bool computeBatch(std::int32_t batch, RowEncoder* encoder) {
        const std::int32_t first = batch * batchRows_;
        const std::int32_t end = rowsEnd(batch);
        if (render_.blockRows == 0) {
            for (std::int32_t y = first; y < end; ++y) {
                computeRow(render_.settings, render_.geometry, render_.heights, render_.depths, slot(y));
            }
            return true;
        }
        EncodedRows* block = blocks_[static_cast<std::size_t>(batch % ring_)].get();
        bool encoded = encoder != nullptr && block != nullptr && encoder->begin(*block);
        for (std::int32_t y = first; y < end; ++y) {
            RowWork& row = slot(y);
            computeRow(render_.settings, render_.geometry, render_.heights, render_.depths, row);
            if (encoded) encoded = render_.encodeRow(*encoder, *block, row.output);
        }
        return encoded && encoder->finish(*block);
    }

    // Writes the batches that are next in order and done, unless another
    // thread is writing (lock held, released while writing); false when
    // there was nothing to write.
    bool writeDone(std::unique_lock<std::mutex>& lock) {
        if (writing_) return false;
        writing_ = true;
        bool wrote = false;
        while (!writeFailed_ && nextWrite_ < batches_ && done_[static_cast<std::size_t>(nextWrite_ % ring_)]) {
            const std::int32_t batch = nextWrite_;
            const std::size_t ringSlot = static_cast<std::size_t>(batch % ring_);
            const bool computed = !failed_[ringSlot];
            lock.unlock();
            bool written = false;
            try {
                written = computed && writeBatch(batch);
            } catch (...) {  // no memory for the writer's bytes
            }
            lock.lock();
            done_[ringSlot] = false;
            if (!written) writeFailed_ = true;
            ++nextWrite_;
            wrote = true;
        }
        writing_ = false;
        if (wrote) changed_.notify_all();
        return wrote;
    }

    // A batch's rows (or its encoded block) to the writer, with their progress.
    bool writeBatch(std::int32_t batch) {
        const std::int32_t rows = render_.geometry.inputHeight;
        bool written = true;
        if (render_.blockRows > 0) {
            written = render_.addBlock(*blocks_[static_cast<std::size_t>(batch % ring_)]);
        }
        for (std::int32_t y = batch * batchRows_; y < rowsEnd(batch); ++y) {
            if (render_.blockRows == 0) written = render_.addRow(slot(y).output);
            if (y % 8 == 0 && !render_.report(Stage::kRows, y, rows)) return false;
            if (!written) return false;
        }
        return written;
    }

    const Render& render_;
    std::vector<RowWork>& slots_;
    const std::int32_t batchRows_;
    const std::int32_t ring_;
    const bool anyThreadWrites_;
    RowSource& source_;  // the generator, used by the thread whose turn it is
    std::vector<std::thread> workers_;
    alignas(kCacheLine) std::mutex mutex_;
    std::condition_variable changed_;  // a turn passed, a batch was computed or written, or the pool starts or stops
    alignas(kCacheLine) std::atomic<std::int32_t> nextDraw_{0};  // the next batch to draw
    std::vector<bool> done_;     // computed, not yet written
    std::vector<bool> failed_;   // a block that could not be encoded
    std::vector<std::unique_ptr<EncodedRows>> blocks_;  // one per ring slot of batches
    std::unique_ptr<RowEncoder> encoder_;  // the calling thread's
    std::int32_t nextTake_ = 0;  // the next batch a thread takes
    std::int32_t batches_ = 0;
    std::int32_t nextWrite_ = 0;
    bool writing_ = false;
    bool writeFailed_ = false;
    bool started_ = false;
    bool stopping_ = false;
};

}  // namespace

RowWorkSizes rowWorkSizes(const RowGeometry& geometry, bool separations) {
    const std::size_t scale = static_cast<std::size_t>(geometry.scale);
    RowWorkSizes sizes;
    sizes.row = static_cast<std::size_t>(geometry.rowPixels) * static_cast<std::size_t>(geometry.pixelBytes);
    if (separations) sizes.separations = (static_cast<std::size_t>(geometry.inputWidth) + 1) * 4 * scale;
    if (geometry.pixelBytes == 1) sizes.strip = static_cast<std::size_t>(geometry.patternWidth) / scale * 3;
    if (geometry.sourcePeriod > 0) sizes.sourceRow = (static_cast<std::size_t>(geometry.sourcePeriod) + 1) * 3 * scale;
    return sizes;
}

Bytes allocateRowWork(const RowGeometry& geometry, std::span<RowWork> works, bool separations) {
    const RowWorkSizes sizes = rowWorkSizes(geometry, separations);
    // Each buffer starts on a cache line of its own; the bytes after it are
    // poisoned for AddressSanitizer.
    const std::size_t guard = guardBytes();
    const auto padded = [guard](std::size_t bytes) {
        return bytes == 0 ? 0 : (bytes + kCacheLine - 1) / kCacheLine * kCacheLine + guard;
    };
    const std::size_t perRow =
        padded(sizes.row) + padded(sizes.separations) + padded(sizes.strip) + padded(sizes.sourceRow);
    // From the C library's heap: a program that renders again and again
    // gets the block back without the kernel mapping and clearing it anew
    // (the README's benchmark section gives what that costs).
    Bytes block(static_cast<std::uint8_t*>(std::calloc(std::max<std::size_t>(perRow * works.size(), 1), 1)));
    if (!block) return block;
    std::uint8_t* next = block.get();
    const auto take = [&next, &padded](std::size_t bytes) -> std::uint8_t* {
        if (bytes == 0) return nullptr;
        std::uint8_t* buffer = next;
        next += padded(bytes);
        poisonBytes(buffer + bytes, padded(bytes) - bytes);
        return buffer;
    };
    for (RowWork& work : works) {
        work.row = take(sizes.row);
        work.separations = take(sizes.separations);
        work.strip = take(sizes.strip);
        work.sourceRow = take(sizes.sourceRow);
    }
    return block;
}

void computeRow(const RunSettings& settings, const RowGeometry& geometry, const Image& heights,
                const DepthTable& depths, RowWork& work) {
    // A grey row's strip was drawn at three bytes per pixel; its first
    // bytes go into the row.
    if (geometry.pixelBytes == 1 && work.strip) {
        std::uint8_t* row = work.row + geometry.stripStart;
        for (std::int32_t k = 0; k < settings.PSiz; ++k) row[k] = work.strip[3 * k];
    }
    widenPatternStrip(settings, geometry, work);
    // 8-bit heights are linked straight from the image row and the depth
    // table; other kinds (and hidden-surface removal) go through the
    // SeparationRow.
    if (heights.kind != PixelKind::kGrey8 ||
        !linkRowFromHeights(settings, geometry, work, imageRow(heights, work.y), depths)) {
        makeSeparationRow(heights, depths, work.y, separationRow(work));
        widenSeparationRow(geometry, work);
        linkRow(settings, geometry, work);
    }
    if (settings.VInc) reduceRow(geometry, work);
    if (settings.FocP == 2 && work.y <= geometry.bandHeight) {
        drawFocusMarks(settings, geometry, work.row, work.y);
    }
    work.output = finishRow(geometry, work.row);
}

namespace {

Status renderRows(const RunSettings& settings, const RowGeometry& geometry, const Image& heights,
                  const Image* pattern, const RenderOptions& options, const Callbacks& callbacks) {
    const std::unique_ptr<ImageWriter> writer =
        options.format == OutputFormat::kPng
            ? makePngWriter(geometry, std::clamp(options.pngLevel, 0, 9), settings.Double + 1)
            : makeTgaWriter(geometry, options.format == OutputFormat::kTga);
    if (!writer) return makeStatus(StatusCode::kWriteFailed);
    if (Status status = writer->begin(callbacks); !status) {
        callbacks.refused(status);
        return callbacks.failure();
    }

    const std::int32_t rows = geometry.inputHeight;
    const bool scan = settings.StretZ != 0;
    if (scan && !callbacks.report(Stage::kScalingHeights, 0, rows)) return callbacks.failure();
    const DepthTable depths = makeDepthTable(settings, geometry.patternWidth, heights,
                                             scaleHeights(settings, geometry.scale, heights));
    if (scan && !callbacks.report(Stage::kHeightsScaled, 0, rows)) return callbacks.failure();
    const std::int32_t blockRows = std::max(writer->blockRows(), 0);
    const Render render{settings, geometry, heights, pattern, depths, callbacks, *writer, blockRows};

    // Workers only pay where there are rows to share. A batch holds about
    // kBatchPixels pixels of rows (an encoded block's rows where the writer
    // encodes blocks); the ring holds three batches per thread, within
    // kInFlightBytes where rows are very wide. A whole number of batches per
    // thread: threads that take batches in turn then mostly come back to
    // slots they used last, still in their own cache (measured: see the
    // README's benchmark section).
    // With PPos above 3 only the right-to-left pass runs, from a strip at the
    // left edge: the rest of each row keeps what the working row held, the
    // row before it. Such rows are computed in order on one thread.
    const bool rowsIndependent = settings.PPos <= 3;
    const std::int32_t threads = rows > 1 && rowsIndependent ? threadCount(options.threads) : 1;
    // Rows linked straight from the heights (see computeRow) need no
    // SeparationRow.
    const bool directHeights = linksFromHeights(settings, heights.kind, depths);
    const std::int64_t perRow =
        std::max<std::int64_t>(static_cast<std::int64_t>(rowWorkSizes(geometry, !directHeights).total()), 1);
    std::int64_t batchRows = blockRows > 0
                                 ? blockRows
                                 : std::clamp<std::int64_t>(kBatchPixels / std::max(geometry.rowPixels, 1), 1, 64);
    std::int64_t ring = 3 * std::int64_t{threads};
    if (ring * batchRows * perRow > kInFlightBytes) {
        if (blockRows == 0) batchRows = std::max<std::int64_t>(kInFlightBytes / (ring * perRow), 1);
        ring = std::clamp<std::int64_t>(kInFlightBytes / (batchRows * perRow), 2, ring);
        if (ring > threads) ring -= ring % threads;
    }
    if (threads <= 1) batchRows = ring = 1;
    std::vector<RowWork> slots(static_cast<std::size_t>(ring * batchRows));
    const Bytes workMemory = allocateRowWork(geometry, slots, !directHeights);
    if (!workMemory) return makeStatus(StatusCode::kNoMemory);

    RowEmitter emitter(render);
    if (!render.report(Stage::kCalculating, 0, rows)) return callbacks.failure();
    const bool bandWritten = writeFocusBand(render, slots[0], emitter);
    if (!render.report(Stage::kRowsStarting, 0, rows) || !bandWritten) return callbacks.failure();

    // The generator and the drawing state pass from thread to thread: on
    // cache lines of their own, away from what the other threads touch.
    struct alignas(kCacheLine) Generator {
        Random random;
    } generator{Random(options.seed)};
    RowSource source{PatternContext{settings, generator.random}};
    bool written = false;
    RowPool pool(render, slots, static_cast<std::int32_t>(batchRows), options.anyThreadWrites, source);
    // The calling thread computes rows too: threads - 1 workers beside it.
    if (threads > 1 && pool.start(threads - 1)) {
        written = pool.renderRows();
        pool.stop();
    } else {
        written = renderRowsHere(render, source, slots[0], emitter);
    }
    if (written) {
        const Status finished = writer->finish(callbacks);
        written = finished || callbacks.refused(finished);
    }
    if (!written || !render.report(Stage::kRows, rows, rows)) return callbacks.failure();
    return {};
}

}  // namespace

std::int32_t threadCount(std::int32_t requested) {
    if (requested > 0) return std::min(requested, kMaxThreads);
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<std::int32_t>(std::min<long>(online, kMaxThreads)) : 1;
}

Status renderStereogram(const RunSettings& settings, const RowGeometry& geometry, const Image& heights,
                        const Image* pattern, const RenderOptions& options, RowSink sink,
                        Progress progress) {
    const Callbacks callbacks{sink, progress};
    try {
        return renderRows(settings, geometry, heights, pattern, options, callbacks);
    } catch (const std::bad_alloc&) {
        return makeStatus(StatusCode::kNoMemory);
    }
}

}  // namespace rdsgen
