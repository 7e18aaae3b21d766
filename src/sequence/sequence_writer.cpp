// SequenceWriter: one plan, frame after frame, each rendered by render()
// and turned into the sequence's file as it is written.
#include "run/run.h"
#include "sequence/sequence.h"

namespace rdsgen {

namespace {

// The most frames per second an animated PNG's delay (1 / rate, 16 bits a
// side) holds.
constexpr std::int32_t kMaxRate = 65535;

bool writeBytes(SequenceOutput& out, const std::vector<std::uint8_t>& bytes) {
    return out.write(bytes.data(), bytes.size());
}

bool passOn(void* context, const std::uint8_t* bytes, std::size_t count) {
    return static_cast<SequenceOutput*>(context)->write(bytes, count);
}

bool filterApng(void* context, const std::uint8_t* bytes, std::size_t count) {
    return static_cast<ApngFrameFilter*>(context)->write(bytes, count);
}

bool collect(void* context, const std::uint8_t* bytes, std::size_t count) {
    auto& rows = *static_cast<std::vector<std::uint8_t>*>(context);
    rows.insert(rows.end(), bytes, bytes + count);
    return true;
}

}  // namespace

struct SequenceWriter::State {
    enum class Phase { kNew, kOpen, kOver };  // kOver: finished, or a call failed
    Phase phase = Phase::kNew;
    Plan plan;
    SequenceOptions options;
    SequenceOutput out;
    std::uint32_t frames = 0;
    std::uint32_t announced = 0;  // the animated PNG's acTL count
    std::uint32_t sequence = 0;   // the next fcTL or fdAT sequence number
    std::unique_ptr<GifEncoder> gif;
    std::vector<std::uint8_t> rows;  // a GIF frame's rows
    GifFrameIndex indexed;

    // A failed write of the caller's sink, told apart from one that threw.
    Status writeFailure() const {
        return makeStatus(out.threw ? StatusCode::kCallbackFailed : StatusCode::kWriteFailed);
    }
    Status over(Status status) {
        if (!status) phase = Phase::kOver;
        return status;
    }
};

SequenceWriter::SequenceWriter() : state_(std::make_unique<State>()) {}

SequenceWriter::~SequenceWriter() = default;

std::uint32_t SequenceWriter::frames() const { return state_->frames; }

Status SequenceWriter::begin(const Plan& plan, const SequenceOptions& options, RowSink sink) {
    State& s = *state_;
    if (s.phase != State::Phase::kNew) return makeStatus(StatusCode::kSequenceOrder);
    if (!plan || plan.detail == nullptr) return makeStatus(StatusCode::kNotPrepared);
    if (options.rate < 1 || options.rate > kMaxRate) {
        return makeStatus(StatusCode::kInvalidSetting, 0, 0, "rate");
    }
    if (sink.write == nullptr) return makeStatus(StatusCode::kWriteFailed);
    if (options.format == SequenceFormat::kApng && options.frames == 0 && sink.rewrite == nullptr) {
        return makeStatus(StatusCode::kInvalidSetting, 0, 0, "rewrite");
    }
    s.plan = plan;
    s.options = options;
    s.out.sink = sink;
    s.phase = State::Phase::kOpen;
    switch (options.format) {
        case SequenceFormat::kPngStream: return makeStatus(StatusCode::kOk);
        case SequenceFormat::kApng:
            s.announced = options.frames;
            if (!writeBytes(s.out, apngHead(plan.outputWidth, plan.outputHeight, plan.outputGrey, s.announced))) {
                return s.over(s.writeFailure());
            }
            return makeStatus(StatusCode::kOk);
        case SequenceFormat::kGif:
            s.gif = std::make_unique<GifEncoder>(s.out);
            if (!s.gif->begin(plan.outputWidth, plan.outputHeight, options.rate)) return s.over(s.writeFailure());
            return makeStatus(StatusCode::kOk);
    }
    return s.over(makeStatus(StatusCode::kInvalidSetting, 0, 0, "format"));
}

Status SequenceWriter::addFrame(const Image& heights, const Image* pattern, Progress progress) {
    State& s = *state_;
    if (s.phase != State::Phase::kOpen) return makeStatus(StatusCode::kSequenceOrder);
    const std::uint32_t index = s.frames;
    RenderOptions render = s.options.render;
    if (s.options.newDots) render.seed += index;  // wraps around
    const Plan& plan = s.plan;

    Status status;
    switch (s.options.format) {
        case SequenceFormat::kPngStream:
            render.format = OutputFormat::kPng;
            status = rdsgen::render(plan, heights, pattern, render, RowSink{passOn, &s.out}, progress);
            break;
        case SequenceFormat::kApng: {
            // More frames than the acTL announced need it patched at finish().
            if (s.announced != 0 && index >= s.announced && s.out.sink.rewrite == nullptr) {
                return s.over(makeStatus(StatusCode::kSequenceOrder));
            }
            if (!writeBytes(s.out, apngFctl(s.sequence++, plan.outputWidth, plan.outputHeight, s.options.rate))) {
                return s.over(s.writeFailure());
            }
            ApngFrameFilter filter(s.out, index == 0, s.sequence);
            render.format = OutputFormat::kPng;
            status = rdsgen::render(plan, heights, pattern, render, RowSink{filterApng, &filter}, progress);
            if (status && !filter.complete()) status = makeStatus(StatusCode::kWriteFailed);
            break;
        }
        case SequenceFormat::kGif:
            render.format = OutputFormat::kRows;
            s.rows.clear();
            s.rows.reserve(static_cast<std::size_t>(plan.outputRowBytes) * static_cast<std::size_t>(plan.outputHeight));
            status = rdsgen::render(plan, heights, pattern, render, RowSink{collect, &s.rows}, progress);
            if (!status) break;
            if (!indexGifFrame(s.rows.data(), plan.outputWidth, plan.outputHeight, plan.outputGrey, s.indexed)) {
                return s.over(makeStatus(StatusCode::kTooManyColours, index));
            }
            if (!s.gif->addFrame(s.indexed)) return s.over(s.writeFailure());
            break;
    }
    // A write that failed or threw inside render() shows in the output's record.
    if (status.code == StatusCode::kWriteFailed || s.out.failed) return s.over(s.writeFailure());
    if (!status) return s.over(status);
    ++s.frames;
    return status;
}

Status SequenceWriter::finish() {
    State& s = *state_;
    if (s.phase != State::Phase::kOpen) return makeStatus(StatusCode::kSequenceOrder);
    s.phase = State::Phase::kOver;
    switch (s.options.format) {
        case SequenceFormat::kPngStream: break;
        case SequenceFormat::kApng:
            if (s.frames == 0) return makeStatus(StatusCode::kSequenceOrder);
            if (!writeBytes(s.out, apngEnd())) return s.writeFailure();
            if (s.frames != s.announced) {
                const std::vector<std::uint8_t> actl = apngActl(s.frames);
                if (s.out.sink.rewrite == nullptr) return makeStatus(StatusCode::kSequenceOrder);
                if (!s.out.rewrite(kApngActlOffset, actl.data(), actl.size())) return s.writeFailure();
            }
            break;
        case SequenceFormat::kGif:
            if (!s.gif->finish()) return s.writeFailure();
            break;
    }
    return makeStatus(StatusCode::kOk);
}

}  // namespace rdsgen
