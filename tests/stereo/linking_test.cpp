// Row linking and hidden-surface removal on small rows of letters or numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "depth/depth.h"
#include "support/planned_run.h"
#include "pattern/pattern.h"
#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

// One row of a run: its settings, geometry and work.
struct Row {
    rdsgen::RunSettings settings;
    rdsgen::RowGeometry geometry;
    rdsgen::RowWork work;
    rdsgen::Bytes workMemory;

    std::int32_t pixelAt(std::int32_t x) const { return work.row[3 * x]; }

    std::string lettersOf(std::int32_t count) const {
        std::string text;
        for (std::int32_t x = 0; x < count; ++x) text += static_cast<char>(pixelAt(x));
        return text;
    }

    void putLetters(std::int32_t first, const std::string& letters) {
        for (std::size_t k = 0; k < letters.size(); ++k) std::memset(work.row + 3 * (first + k), letters[k], 3);
    }
};

// A row of pattern width P and input width N at working resolution (scale 1,
// or 4 with VInc and Double for rows wider than an image can be), the
// separations sep with its last value repeated; pixel x holds colour x. A
// pattern image makes PatT 0, its width the pattern source period.
Row setUpRow(std::int32_t P, std::int32_t N, std::int32_t pPos, std::vector<std::int32_t> sep,
             std::int32_t scale = 1, const rdsgen::Image* pattern = nullptr) {
    Row r;
    r.settings.PSiz = P / scale;
    r.settings.PPos = pPos;
    r.settings.VInc = r.settings.Double = scale == 4 ? 1 : 0;
    if (pattern != nullptr) r.settings.PatT = 0;
    rdsgen::Settings planned = r.settings;
    planned.StretA = 0;  // the pattern width as given
    const rdsgen::ImageHeader patternHeader = pattern != nullptr ? rdsgen::headerOf(*pattern) : rdsgen::ImageHeader{};
    r.geometry = planRun(planned, rdsgen::ImageHeader{N / scale, 1}, pattern != nullptr ? &patternHeader : nullptr).geometry;
    r.geometry.pixelBytes = 3;  // these rows hold three bytes per pixel
    EXPECT_EQ(r.geometry.patternWidth, P);
    EXPECT_EQ(r.geometry.scaledInputWidth, N);
    r.workMemory = rdsgen::allocateRowWork(r.geometry, r.work);
    EXPECT_TRUE(r.workMemory);
    for (std::int32_t x = 0; x < N + P; ++x) std::memset(r.work.row + 3 * x, x, 3);
    sep.resize(N, sep.empty() ? 0 : sep.back());
    std::memcpy(rdsgen::separationRow(r.work), sep.data(), sep.size() * sizeof(std::int32_t));
    return r;
}

}  // namespace

TEST(LinkRow, WorkedExamples) {
    struct Case {
        std::int32_t pPos, N;
        std::vector<std::int32_t> sep;
        std::string row;
    };
    for (const Case& c : {Case{1, 4, {0, 2, 1, 1}, "ABCDEFADDE"}, Case{3, 4, {0, 0, 1, 0}, "CDEEABCDEF"},
                          Case{3, 2, {2, 0}, "EFEBCDEF"}}) {
        Row r = setUpRow(6, c.N, c.pPos, c.sep);
        r.putLetters(r.geometry.stripStart, "ABCDEF");
        rdsgen::linkRow(r.settings, r.geometry, r.work);
        EXPECT_EQ(r.lettersOf(c.N + 6), c.row) << "PPos " << c.pPos << ", N " << c.N;
    }
}

TEST(LinkRow, FlatSurfaceRepeatsTheStripTail) {
    Row r = setUpRow(12, 40, 1, {5});
    rdsgen::linkRow(r.settings, r.geometry, r.work);
    for (std::int32_t x = 12; x < 52; ++x) ASSERT_EQ(r.pixelAt(x), r.pixelAt(x - 7)) << x;
}

TEST(LinkRow, RefusedAndRemovedLinksAreFilledFromThePatternSourceRow) {
    // A pattern image 5 pixels wide makes the pattern source period 5.
    const rdsgen::Image pattern = rdsgen::makeImage(5, 1, rdsgen::PixelKind::kGrey8);
    for (std::int32_t narrow : {0, 1}) {
        // Link 0 takes source pixel 3; link 1 (source 1) is refused; link 2
        // takes pixel 3 again; link 3 is removed. Targets 7 and 9 take pattern
        // source pixels 7 mod 5 and 9 mod 5, counted from the right with PNarrow.
        Row r = setUpRow(6, 4, 1, {3, 0, 1, -1}, 1, &pattern);
        ASSERT_EQ(r.geometry.sourcePeriod, 5);
        r.settings.NoRD = 1;
        r.settings.PNarrow = narrow;
        for (int k = 0; k < 5; ++k) std::memset(r.work.sourceRow + 3 * k, "vwxyz"[k], 3);
        r.putLetters(0, "ABCDEF");
        rdsgen::linkRow(r.settings, r.geometry, r.work);
        EXPECT_EQ(r.lettersOf(10), narrow ? "ABCDEFDxDv" : "ABCDEFDxDz");
    }
}

TEST(LinkRow, RandomDotFillCopiesFromTheHashedDistance) {
    struct Case {
        std::int32_t p;
        std::uint32_t seed;
        std::int32_t P, left, right;  // source pixels, worked out by hand
    };
    for (const Case& c : {Case{30, 5, 12, 7, 13}, Case{231, 123456789, 24, 73, 81},
                          Case{300000, 2147483647u, 60, 99994, 100006}}) {  // 3p + R > 2^31
        Row r = setUpRow(c.P, 100000, 1, {}, 4);
        auto sourceOf = [&](std::int32_t direction) {
            std::memset(r.work.row + c.p, 0xEE, 3);
            std::memset(r.work.row + 3 * c.left, 1, 3);
            std::memset(r.work.row + 3 * c.right, 2, 3);
            rdsgen::fillUnlinkedPixel(r.settings, r.geometry, r.work, c.p, c.seed, direction);
            return r.pixelAt(c.p / 3);
        };
        EXPECT_EQ(sourceOf(-1), 1) << c.p;
        EXPECT_EQ(sourceOf(+1), 2) << c.p;
    }
    // P = 4 makes m = P / 6 = 0, used as 1; the right fill next to the row's
    // last pixel (6) can only copy that pixel.
    Row r = setUpRow(4, 3, 1, {});
    rdsgen::fillUnlinkedPixel(r.settings, r.geometry, r.work, 15, 99, +1);
    EXPECT_EQ(r.pixelAt(5), 6);
}

TEST(LinkRow, RightToLeftOverwritesAndRepeats) {
    // Links 9 ... 1 copy pixel i + 6 to i; link 0 (sep 3) overwrites pixel 3
    // right of the frontier; pixels 2, 1, 0 then repeat pixels 8, 7, 6.
    Row r = setUpRow(6, 10, 3, {3, 0});
    rdsgen::linkRow(r.settings, r.geometry, r.work);
    EXPECT_EQ(std::vector<std::int32_t>({r.pixelAt(0), r.pixelAt(1), r.pixelAt(2), r.pixelAt(3), r.pixelAt(4)}),
              std::vector<std::int32_t>({12, 13, 14, 12, 10}));
    // A row narrower than its first link's separation: repeat sources past the
    // row's last pixel (7) use that pixel.
    r = setUpRow(6, 2, 3, {5, 0});
    rdsgen::linkRow(r.settings, r.geometry, r.work);
    EXPECT_EQ(r.lettersOf(8), std::string({6, 7, 7, 7, 7, 6, 6, 7}));
}

namespace {

// The strip's index s0 is set freely, beyond the three places PPos gives it.
std::vector<std::int32_t> removeHidden(const std::vector<std::int32_t>& sep, std::int32_t s0) {
    Row r = setUpRow(20, static_cast<std::int32_t>(sep.size()), 1, sep);
    r.geometry.stripStart = s0;
    rdsgen::removeHiddenLinks(r.geometry, r.work);
    return std::vector<std::int32_t>(rdsgen::separationRow(r.work), rdsgen::separationRow(r.work) + sep.size());
}

}  // namespace

TEST(RemoveHiddenLinks, Examples) {
    using Sep = std::vector<std::int32_t>;
    EXPECT_EQ(removeHidden({3, 3, 5, 5, 4, 7}, 0), (Sep{3, -1, -1, -1, -1, -1}));
    EXPECT_EQ(removeHidden({9, 7, 7, 4, 1, 0}, 0), (Sep{9, 7, 7, 4, 1, 0}));
    EXPECT_EQ(removeHidden({0, 0, 2, 5, 5}, 2), (Sep{0, 0, -1, -1, 5}));  // not below s0
    EXPECT_EQ(removeHidden({0, 9, 1, 1}, 4), (Sep{0, 9, 1, 1}));
}

TEST(RemoveHiddenLinks, MatchesTheForwardDefinitionOnRandomRows) {
    // Forward: each rise d at i marks i - d + 1 ... i, judged on the entry values.
    rdsgen::Random random(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::int32_t> sep(1 + random.next() % 30);
        for (std::int32_t& value : sep) value = random.next() % 20;
        const std::int32_t s0 = random.next() % static_cast<std::int32_t>(sep.size() + 1);
        std::vector<std::int32_t> expected = sep;
        for (std::int32_t i = s0 + 1; i < static_cast<std::int32_t>(sep.size()); ++i) {
            for (std::int32_t j = std::max(s0, i - (sep[i] - sep[i - 1]) + 1); j <= i; ++j) expected[j] = -1;
        }
        ASSERT_EQ(removeHidden(sep, s0), expected) << "trial " << trial;
    }
}

TEST(LinkRow, RunsOfEqualDepthMatchPixelByPixelLinking) {
    // Rows of 8-bit heights in runs (flat stretches, small and large steps),
    // linked straight from the heights and through the SeparationRow, against
    // linking pixel by pixel; unlinked pixels take the pattern source row
    // (NoRD), so no hashing is involved.
    rdsgen::Random random(11);
    for (int trial = 0; trial < 150; ++trial) {
        rdsgen::RunSettings settings;
        settings.PPos = 1 + trial % 3;
        settings.NoRD = 1;
        settings.PSiz = 4 + random.next() % 80;
        settings.VInc = trial % 4 == 1 || trial % 4 == 3;  // scale 1, 2, 2 or 4
        settings.Double = trial % 4 >= 2;
        const std::int32_t width = 1 + random.next() % 300;
        rdsgen::Image heights = rdsgen::makeImage(width, 1, rdsgen::PixelKind::kGrey8);
        std::int32_t value = random.next() % 256;
        for (std::int32_t x = 0; x < width; ++x) {
            if (random.next() % 12 == 0) {
                value = random.next() % 4 == 0 ? random.next() % 256 : (value + 250 + random.next() % 13) % 256;
            }
            heights.pixels[x] = static_cast<std::uint8_t>(value);
        }
        rdsgen::RowGeometry geometry = planRun(settings, rdsgen::headerOf(heights)).geometry;
        geometry.pixelBytes = trial % 2 == 0 ? 1 : 3;
        const rdsgen::DepthTable table = rdsgen::makeDepthTable(
            settings, geometry.patternWidth, heights, rdsgen::scaleHeights(settings, geometry.scale, heights));

        rdsgen::RowWork work;
        const rdsgen::Bytes workMemory = rdsgen::allocateRowWork(geometry, work);
        ASSERT_TRUE(workMemory);
        const std::size_t rowBytes = rdsgen::rowWorkSizes(geometry).row;
        for (std::size_t k = 0; k < rowBytes; ++k) work.row[k] = static_cast<std::uint8_t>(random.next());
        for (std::size_t k = 0; k < rdsgen::rowWorkSizes(geometry).sourceRow; ++k) {
            work.sourceRow[k] = static_cast<std::uint8_t>(random.next());
        }
        const std::vector<std::uint8_t> before(work.row, work.row + rowBytes);

        std::vector<std::uint8_t> expected = before;
        const std::int32_t P = geometry.patternWidth;
        const std::int32_t n = geometry.pixelBytes;
        const std::int32_t last = geometry.scaledInputWidth + P - 1;
        const auto depth = [&](std::int32_t i) { return table.depths[heights.pixels[i / geometry.scale]]; };
        const auto copy = [&](std::int32_t to, std::int32_t from) {
            std::memcpy(expected.data() + n * to, expected.data() + n * from, static_cast<std::size_t>(n));
        };
        const auto fill = [&](std::int32_t to) {
            rdsgen::copyPatternSourcePixel(settings, geometry, work, expected.data() + n * to, to / geometry.scale);
        };
        std::int32_t lastSource = -1;
        for (std::int32_t i = geometry.stripStart; i < geometry.scaledInputWidth && settings.PPos <= 2; ++i) {
            if (i + depth(i) < lastSource) {
                fill(i + P);
            } else {
                copy(i + P, i + depth(i));
                lastSource = i + depth(i);
            }
        }
        std::int32_t frontier = geometry.stripStart - 1;
        for (std::int32_t i = geometry.stripStart - 1; i >= 0 && settings.PPos >= 2; --i) {
            const std::int32_t t = i + depth(i);
            if (t < frontier) {
                copy(frontier, frontier + 1);
                for (std::int32_t q = frontier - 1; q > t; --q) fill(q);
            }
            copy(t, i + P);
            frontier = t - 1;
        }
        for (std::int32_t x = frontier; x >= 0 && settings.PPos >= 2; --x) copy(x, std::min(x + P, last));

        ASSERT_TRUE(rdsgen::linkRowFromHeights(settings, geometry, work, heights.pixels.get(), table));
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), work.row)) << "straight, trial " << trial;
        std::memcpy(work.row, before.data(), rowBytes);
        rdsgen::makeSeparationRow(heights, table, 0, rdsgen::separationRow(work));
        rdsgen::widenSeparationRow(geometry, work);
        rdsgen::linkRow(settings, geometry, work);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), work.row)) << "separations, trial " << trial;
    }
}
