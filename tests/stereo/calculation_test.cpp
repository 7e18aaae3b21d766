// The calculation loop in process and through the real executable.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "depth/depth.h"
#include "support/planned_run.h"
#include "support/load_image.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

const std::string kBlank = "\r" + std::string(67, ' ') + "\r";
const std::string kOpening = "Calculating, please wait - press ESC to abbort...\n";
const std::string kScale =
    "0% ]................:................:................:................[ 100%\r0% ]";

// A grey height image: a dome of the given radius in the middle of the picture.
std::vector<std::uint8_t> domeHeights(int width, int height, double radius) {
    std::vector<std::uint8_t> heights;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = x - width / 2.0, dy = y - height / 2.0;
            const double inside = 1.0 - (dx * dx + dy * dy) / (radius * radius);
            heights.push_back(inside > 0 ? static_cast<std::uint8_t>(255 * std::sqrt(inside)) : 0);
        }
    }
    return heights;
}

rdsgen::Image greyImage(int width, int height, const std::vector<std::uint8_t>& heights) {
    rdsgen::Image image = rdsgen::makeImage(width, height, rdsgen::PixelKind::kGrey8);
    if (!heights.empty()) std::memcpy(image.pixels.get(), heights.data(), heights.size());
    return image;
}

bool appendBytes(void* context, const std::uint8_t* bytes, std::size_t count) {
    auto& out = *static_cast<std::vector<std::uint8_t>*>(context);
    out.insert(out.end(), bytes, bytes + count);
    return true;
}

// Renders heights in process; returns the bytes the sink received.
std::vector<std::uint8_t> render(const rdsgen::RunSettings& settings, const rdsgen::RowGeometry& geometry,
                                 const rdsgen::Image& heights, const rdsgen::RenderOptions& options) {
    std::vector<std::uint8_t> out;
    const rdsgen::Status status = rdsgen::renderStereogram(settings, geometry, heights, nullptr, options,
                                                           rdsgen::RowSink{appendBytes, &out}, {});
    EXPECT_TRUE(status) << rdsgen::statusText(status);
    return out;
}

// Runs the executable over a 4-pixel-wide dome of `height` rows with PSiz 20;
// returns what it printed after reading the height image and before
// "finished.", and the size of the file it wrote.
std::pair<std::string, std::size_t> runFourWide(int height, const std::vector<std::string>& extra = {}) {
    const std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", greyTga(4, height, domeHeights(4, height, 8)));
    std::vector<std::string> args = {"heights.tga", "out.tga", "/PSiz:P20"};
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult result = runRdsgenProcess(args, dir);
    EXPECT_EQ(result.status, 0) << result.err;
    const std::string read = "Reading height (elevation) image..." + kBlank;
    const std::size_t begin = result.out.find(read);
    const std::size_t end = result.out.find("\rfinished.");
    EXPECT_NE(begin, std::string::npos) << result.out;
    EXPECT_NE(end, std::string::npos) << result.out;
    if (begin == std::string::npos || end == std::string::npos || end < begin) return {result.out, 0};
    return {result.out.substr(begin + read.size(), end - begin - read.size()),
            readFileBytes(dir + "/out.tga").size()};
}

}  // namespace

TEST(Calculation, ZeroAndOneRowPrintTheScaleAndTheWholeBar) {
    EXPECT_EQ(runFourWide(0), std::make_pair(kOpening + kScale, std::size_t{18}));
    EXPECT_EQ(runFourWide(1), std::make_pair(kOpening + kScale + std::string(67, '#'), std::size_t{18 + 24}));
    // Scanning the heights for their range (StretZ) announces itself first.
    EXPECT_EQ(runFourWide(1, {"/Stret:Z"}),
              std::make_pair("Scaling height (Z) information..." + kBlank + kOpening + kScale + std::string(67, '#'),
                             std::size_t{18 + 24}));
}

TEST(Calculation, FocusBandRowsComeFirst) {
    // Height 150: a band of 5 rows; only band row 1 carries one black pixel
    // per mark, at (120 - 20) / 2 = 50 and 70.
    rdsgen::RunSettings settings;
    settings.PSiz = 20;
    const rdsgen::Image heights = greyImage(100, 150, domeHeights(100, 150, 8));
    const PlannedRun run = planRun(settings, rdsgen::headerOf(heights));
    const std::vector<std::uint8_t> file = render(run.settings, run.geometry, heights, {});
    ASSERT_EQ(file.size(), 18u + 155u * 120u);
    for (int row = 0; row < 5; ++row) {
        for (int x = 0; x < 120; ++x) {
            const bool mark = row == 1 && (x == 50 || x == 70);
            EXPECT_EQ(file[18 + row * 120 + x], mark ? 0 : 255) << "band row " << row << ", x " << x;
        }
    }
}

// Row 1's strip comes after row 0's strip draws and one draw for each
// linking pass that runs.
TEST(Calculation, OneSeedDrawnPerLinkingPassThatRuns) {
    for (const auto& [pPos, draws] : std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 1}, {0, 1}, {5, 1}}) {
        rdsgen::RunSettings settings;  // PatT 1: one draw per strip pixel
        settings.PSiz = 40;
        settings.PPos = pPos;
        settings.FocP = 0;
        // Flat: every link copies a pixel within its own period, so the strip stays.
        const rdsgen::Image heights = greyImage(8, 2, {});
        const PlannedRun run = planRun(settings, rdsgen::headerOf(heights));
        const rdsgen::RowGeometry& geometry = run.geometry;
        rdsgen::RenderOptions options;
        options.seed = 77;
        options.format = rdsgen::OutputFormat::kRows;
        const std::vector<std::uint8_t> rows = render(run.settings, geometry, heights, options);
        ASSERT_EQ(rows.size(), 2u * 48u);

        rdsgen::Random random(77);
        rdsgen::PatternContext context{settings, random};
        std::vector<std::uint8_t> strip(3 * 40);
        rdsgen::drawBlackWhiteDots(context, strip.data(), 40);
        for (int k = 0; k < draws; ++k) random.next();
        rdsgen::drawBlackWhiteDots(context, strip.data(), 40);
        for (int x = 0; x < 40; ++x) {
            ASSERT_EQ(rows[48 + geometry.stripStart + x], strip[3 * x]) << "PPos " << pPos << ", pixel " << x;
        }
    }
}

// Every target an accepted left-to-right link reached repeats the pixel one
// link length to its left, in the file the executable wrote.
TEST(Calculation, DomeLinksAreVisibleInTheWrittenFile) {
    for (const bool doubled : {false, true}) {
        const std::string dir = temporaryDirectory();
        const int width = 160, height = 60;
        writeFileBytes(dir + "/dome.tga", greyTga(width, height, domeHeights(width, height, 28)));
        std::vector<std::string> args = {"dome.tga", "out", "/PPos:1", "/FocP:0", "/PatT:5", "/Rand:7"};
        if (doubled) args.push_back("/Double");
        const ProcessResult result = runRdsgenProcess(args, dir);
        ASSERT_EQ(result.status, 0) << result.err;

        // The run's settings, geometry and depths, as the executable makes them.
        rdsgen::RunSettings settings;
        settings.PPos = 1;
        settings.FocP = 0;
        settings.PatT = 5;
        settings.Double = doubled ? 1 : 0;
        rdsgen::Image heights;
        ASSERT_TRUE(rdsgen::loadImageFile((dir + "/dome.tga").c_str(), heights));
        const PlannedRun run = planRun(settings, rdsgen::headerOf(heights));
        const rdsgen::RowGeometry& geometry = run.geometry;
        rdsgen::RowWork work;
        const rdsgen::Bytes workMemory = rdsgen::allocateRowWork(geometry, work);
        ASSERT_TRUE(workMemory);
        const rdsgen::DepthTable depths = rdsgen::makeDepthTable(
            settings, geometry.patternWidth, heights, rdsgen::scaleHeights(settings, geometry.scale, heights));

        const std::int32_t S = geometry.scale, P = S * 68, N = S * width;
        const std::vector<std::uint8_t> file = readFileBytes(dir + "/out.TGA");
        const std::size_t rowBytes = 3 * static_cast<std::size_t>(N + P);
        ASSERT_EQ(file.size(), 18 + rowBytes * height * S);

        std::int32_t accepted = 0, deepest = 0;
        for (std::int32_t y = 0; y < height; ++y) {
            rdsgen::makeSeparationRow(heights, depths, y, rdsgen::separationRow(work));
            rdsgen::widenSeparationRow(geometry, work);
            const std::int32_t* separations = rdsgen::separationRow(work);
            const std::uint8_t* row = file.data() + 18 + rowBytes * S * y;
            std::int32_t lastSource = -1;
            for (std::int32_t i = 0; i < N; ++i) {
                const std::int32_t s = separations[i];
                if (i + s < lastSource) continue;
                lastSource = i + s;
                ++accepted;
                if (s > deepest) deepest = s;
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(row[3 * (i + P) + k], row[3 * (i + s) + k])
                        << "Double " << doubled << ", row " << y << ", link " << i;
                }
            }
        }
        EXPECT_GT(deepest, 10);  // the dome really stands out
        EXPECT_GT(accepted, height * N * 9 / 10);
    }
}
