// Row linking and hidden-surface removal on small rows of letters or numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

// A run at scale factor 1, pattern width P, input width N; pixel x holds colour x.
void setUpRow(std::int32_t P, std::int32_t N, std::int32_t pPos, std::vector<std::int32_t> sep) {
    resetRunState();
    settings.PSiz = P;
    settings.PPos = pPos;
    run.heightImage.width = N;
    run.rowBuffer = allocateBytes(static_cast<std::size_t>(N + P + 1) * 3);
    run.separationBuffer = allocateBytes(static_cast<std::size_t>(N + 1) * 4);
    for (std::int32_t x = 0; x < N + P; ++x) std::memset(run.rowBuffer.get() + 3 * x, x, 3);
    sep.resize(N, sep.empty() ? 0 : sep.back());
    std::memcpy(separationRow(), sep.data(), sep.size() * sizeof(std::int32_t));
}

std::int32_t pixelAt(std::int32_t x) { return run.rowBuffer[3 * x]; }

std::string lettersOf(std::int32_t count) {
    std::string text;
    for (std::int32_t x = 0; x < count; ++x) text += static_cast<char>(pixelAt(x));
    return text;
}

void putLetters(std::int32_t first, const std::string& letters) {
    for (std::size_t k = 0; k < letters.size(); ++k) std::memset(run.rowBuffer.get() + 3 * (first + k), letters[k], 3);
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
        setUpRow(6, c.N, c.pPos, c.sep);
        putLetters(patternStart(), "ABCDEF");
        linkRow(3 * patternStart(), 6, c.N);
        EXPECT_EQ(lettersOf(c.N + 6), c.row) << "PPos " << c.pPos << ", N " << c.N;
    }
}

TEST(LinkRow, FlatSurfaceRepeatsTheStripTail) {
    setUpRow(12, 40, 1, {5});
    linkRow(0, 12, 40);
    for (std::int32_t x = 12; x < 52; ++x) ASSERT_EQ(pixelAt(x), pixelAt(x - 7)) << x;
}

TEST(LinkRow, RefusedAndRemovedLinksAreFilledFromThePatternSourceRow) {
    for (std::int32_t narrow : {0, 1}) {
        // Link 0 takes source pixel 3; link 1 (source 1) is refused; link 2
        // takes pixel 3 again; link 3 is removed. Targets 7 and 9 take pattern
        // source pixels 7 mod 5 and 9 mod 5, counted from the right with PNarrow.
        setUpRow(6, 4, 1, {3, 0, 1, -1});
        settings.NoRD = 1;
        settings.PNarrow = narrow;
        run.patternSourcePeriod = 5;
        run.patternSourceRow = allocateBytes(6 * 3);
        for (int k = 0; k < 5; ++k) std::memset(run.patternSourceRow.get() + 3 * k, "vwxyz"[k], 3);
        putLetters(0, "ABCDEF");
        linkRow(0, 6, 4);
        EXPECT_EQ(lettersOf(10), narrow ? "ABCDEFDxDv" : "ABCDEFDxDz");
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
        setUpRow(c.P, 100000, 1, {});
        auto sourceOf = [&](std::int32_t direction) {
            std::memset(run.rowBuffer.get() + c.p, 0xEE, 3);
            std::memset(run.rowBuffer.get() + 3 * c.left, 1, 3);
            std::memset(run.rowBuffer.get() + 3 * c.right, 2, 3);
            fillUnlinkedPixel(c.p, c.seed, c.P, direction);
            return pixelAt(c.p / 3);
        };
        EXPECT_EQ(sourceOf(-1), 1) << c.p;
        EXPECT_EQ(sourceOf(+1), 2) << c.p;
    }
    // P = 4 makes m = P / 6 = 0, used as 1; the right fill next to the row's
    // last pixel (6) can only copy that pixel.
    setUpRow(4, 3, 1, {});
    fillUnlinkedPixel(15, 99, 4, +1);
    EXPECT_EQ(pixelAt(5), 6);
}

TEST(LinkRow, RightToLeftOverwritesAndRepeats) {
    // Links 9 ... 1 copy pixel i + 6 to i; link 0 (sep 3) overwrites pixel 3
    // right of the frontier; pixels 2, 1, 0 then repeat pixels 8, 7, 6.
    setUpRow(6, 10, 3, {3, 0});
    linkRow(30, 6, 10);
    EXPECT_EQ(std::vector<std::int32_t>({pixelAt(0), pixelAt(1), pixelAt(2), pixelAt(3), pixelAt(4)}),
              std::vector<std::int32_t>({12, 13, 14, 12, 10}));
    // A row narrower than its first link's separation: repeat sources past the
    // row's last pixel (7) use that pixel.
    setUpRow(6, 2, 3, {5, 0});
    linkRow(6, 6, 2);
    EXPECT_EQ(lettersOf(8), std::string({6, 7, 7, 7, 7, 6, 6, 7}));
}

TEST(LinkRow, OneDrawPerPassThatRuns) {
    for (const auto& [pPos, draws] : std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 1}, {0, 1}, {5, 1}}) {
        setUpRow(6, 8, pPos, {2});
        std::srand(77);
        linkRow(3 * patternStart(), 6, 8);
        const int next = std::rand();
        std::srand(77);
        for (int k = 0; k < draws; ++k) std::rand();
        EXPECT_EQ(next, std::rand()) << "PPos " << pPos;
    }
}

namespace {

std::vector<std::int32_t> removeHidden(const std::vector<std::int32_t>& sep, std::int32_t s0) {
    setUpRow(20, static_cast<std::int32_t>(sep.size()), 1, sep);
    removeHiddenLinks(3 * s0, static_cast<std::int32_t>(sep.size()));
    return std::vector<std::int32_t>(separationRow(), separationRow() + sep.size());
}

}  // namespace

TEST(RemoveHiddenLinks, Examples) {
    using Row = std::vector<std::int32_t>;
    EXPECT_EQ(removeHidden({3, 3, 5, 5, 4, 7}, 0), (Row{3, -1, -1, -1, -1, -1}));
    EXPECT_EQ(removeHidden({9, 7, 7, 4, 1, 0}, 0), (Row{9, 7, 7, 4, 1, 0}));
    EXPECT_EQ(removeHidden({0, 0, 2, 5, 5}, 2), (Row{0, 0, -1, -1, 5}));  // not below s0
    EXPECT_EQ(removeHidden({0, 9, 1, 1}, 4), (Row{0, 9, 1, 1}));
}

TEST(RemoveHiddenLinks, MatchesTheForwardDefinitionOnRandomRows) {
    // Forward: each rise d at i marks i - d + 1 ... i, judged on the entry values.
    std::srand(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::int32_t> sep(1 + std::rand() % 30);
        for (std::int32_t& value : sep) value = std::rand() % 20;
        const std::int32_t s0 = std::rand() % static_cast<std::int32_t>(sep.size() + 1);
        std::vector<std::int32_t> expected = sep;
        for (std::int32_t i = s0 + 1; i < static_cast<std::int32_t>(sep.size()); ++i) {
            for (std::int32_t j = std::max(s0, i - (sep[i] - sep[i - 1]) + 1); j <= i; ++j) expected[j] = -1;
        }
        ASSERT_EQ(removeHidden(sep, s0), expected) << "trial " << trial;
    }
}
