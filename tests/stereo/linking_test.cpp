// Row linking and hidden-surface removal on small rows whose pixels are
// letters or distinct numbers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stereo/stereo.h"
#include "support/test_support.h"

namespace {

// A run at scale factor 1 with pattern width P and input width N.
void setUpRow(std::int32_t P, std::int32_t N, std::int32_t pPos) {
    resetRunState();
    settings.PSiz = P;
    settings.PPos = pPos;
    run.heightImage.width = N;
    run.rowBuffer = allocateBytes(static_cast<std::size_t>(N + P + 1) * 3);
    run.separationBuffer = allocateBytes(static_cast<std::size_t>(N + 1) * 4);
}

void setPixel(std::int32_t x, std::uint32_t colour) {
    std::uint8_t* pixel = run.rowBuffer.get() + 3 * x;
    pixel[0] = colour & 255;
    pixel[1] = (colour >> 8) & 255;
    pixel[2] = (colour >> 16) & 255;
}

std::uint32_t pixelAt(std::int32_t x) {
    const std::uint8_t* pixel = run.rowBuffer.get() + 3 * x;
    return pixel[0] | (pixel[1] << 8) | (pixel[2] << 16);
}

void putLetters(std::int32_t first, const std::string& letters) {
    for (std::size_t k = 0; k < letters.size(); ++k) setPixel(first + k, letters[k]);
}

std::string lettersOf(std::int32_t count) {
    std::string text;
    for (std::int32_t x = 0; x < count; ++x) text += static_cast<char>(pixelAt(x));
    return text;
}

void setSeparations(const std::vector<std::int32_t>& values) {
    std::memcpy(separationRow(), values.data(), values.size() * sizeof(std::int32_t));
}

// Pixel x gets the colour x, so a copied pixel tells where it came from.
void numberPixels(std::int32_t count) {
    for (std::int32_t x = 0; x < count; ++x) setPixel(x, x);
}

}  // namespace

TEST(LinkRow, WorkedExamples) {
    struct Case {
        std::int32_t pPos, N, stripPixel;
        std::vector<std::int32_t> sep;
        std::string row;
    };
    const std::vector<Case> cases = {
        {1, 4, 0, {0, 2, 1, 1}, "ABCDEFADDE"},
        {3, 4, 4, {0, 0, 1, 0}, "CDEEABCDEF"},
        {3, 2, 2, {2, 0}, "EFEBCDEF"},
    };
    for (const Case& c : cases) {
        setUpRow(6, c.N, c.pPos);
        putLetters(c.stripPixel, "ABCDEF");
        setSeparations(c.sep);
        linkRow(3 * patternStart(), 6, c.N);
        EXPECT_EQ(lettersOf(c.N + 6), c.row) << "PPos " << c.pPos << ", N " << c.N;
    }
}

TEST(LinkRow, FlatSurfaceRepeatsTheStripTail) {
    const std::int32_t P = 12, N = 40, s = 5;
    setUpRow(P, N, 1);
    numberPixels(P);
    setSeparations(std::vector<std::int32_t>(N, s));
    linkRow(0, P, N);
    for (std::int32_t x = P; x < N + P; ++x) ASSERT_EQ(pixelAt(x), pixelAt(x - (P - s))) << x;
}

TEST(LinkRow, RefusedAndRemovedLinksAreFilledFromThePatternSourceRow) {
    setUpRow(6, 4, 1);
    settings.NoRD = 1;
    run.patternSourcePeriod = 5;
    run.patternSourceRow = allocateBytes(6 * 3);
    putLetters(0, "ABCDEF");
    const std::string source = "vwxyz";
    for (int k = 0; k < 5; ++k) std::memset(run.patternSourceRow.get() + 3 * k, source[k], 3);
    // Link 0 takes source pixel 3; link 1 would take pixel 1 (left of it):
    // refused. Link 2 takes pixel 3 again: accepted. Link 3 is removed.
    setSeparations({3, 0, 1, -1});
    linkRow(0, 6, 4);
    // Filled targets 7 and 9 take pattern source pixels 7 mod 5 and 9 mod 5.
    EXPECT_EQ(lettersOf(10), "ABCDEFDxDz");

    settings.PNarrow = 1;  // read from the right end: column c takes Q - 1 - (c mod Q)
    setSeparations({3, 0, 1, -1});
    linkRow(0, 6, 4);
    EXPECT_EQ(lettersOf(10), "ABCDEFDxDv");
}

TEST(LinkRow, RandomDotFillCopiesFromTheHashedDistance) {
    struct Case {
        std::int32_t p;
        std::uint32_t seed;
        std::int32_t P, leftSource, rightSource;  // pixel indices, worked out by hand
    };
    const std::vector<Case> cases = {
        {30, 5, 12, 7, 13},
        {231, 123456789, 24, 73, 81},
        {300000, 2147483647u, 60, 99994, 100006},  // 3p + R wraps past 2^31
    };
    for (const Case& c : cases) {
        setUpRow(c.P, 100000, 1);
        for (std::int32_t direction : {-1, +1}) {
            numberPixels(100000 + c.P);
            fillUnlinkedPixel(c.p, c.seed, c.P, direction);
            EXPECT_EQ(pixelAt(c.p / 3), static_cast<std::uint32_t>(direction < 0 ? c.leftSource
                                                                                    : c.rightSource))
                << "p " << c.p << ", direction " << direction;
        }
    }
}

TEST(LinkRow, FillSourcesStayInsideTheRow) {
    // P = 4 has m = P / 6 = 0, used as 1: distances 1 to 3 pixels.
    setUpRow(4, 3, 1);
    for (std::int32_t x = 0; x < 7; ++x) {
        for (std::int32_t direction : {-1, +1}) {
            numberPixels(7);
            fillUnlinkedPixel(3 * x, 1234, 4, direction);
            const std::int32_t got = static_cast<std::int32_t>(pixelAt(x));
            const std::int32_t distance = (got - x) * direction;
            if (got == 0 || got == 6) {
                EXPECT_TRUE(distance >= 0 && distance <= 3) << x << " " << direction;
            } else {
                EXPECT_TRUE(distance >= 1 && distance <= 3) << x << " " << direction;
            }
        }
    }
}

TEST(LinkRow, RightToLeftGapsAndTheFinalRepeat) {
    // PPos 3, P = 6, N = 10, strip at 10 to 15. Links 9 down to 1 (sep 0) copy
    // pixel i + 6 to pixel i; link 0 (sep 3) targets pixel 3 right of the
    // frontier and overwrites it with pixel 6; pixels 2, 1, 0 then repeat
    // pixels 8, 7, 6.
    setUpRow(6, 10, 3);
    numberPixels(16);
    setSeparations({3, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    linkRow(30, 6, 10);
    const std::vector<std::uint32_t> expected = {12, 13, 14, 12, 10, 11, 12, 13, 14, 15};
    for (std::int32_t x = 0; x < 10; ++x) EXPECT_EQ(pixelAt(x), expected[x]) << x;

    // P = 12: link 9 (sep 11) targets pixel 20, link 8 (sep 0) pixel 8, which
    // leaves the gap 9 ... 19. Pixel 19 copies its right neighbour; the others
    // are filled from 1 to m + 2 = 4 pixels to their right.
    setUpRow(12, 10, 3);
    numberPixels(22);
    setSeparations({0, 0, 0, 0, 0, 0, 0, 0, 0, 11});
    linkRow(30, 12, 10);
    EXPECT_EQ(pixelAt(20), 21u);
    EXPECT_EQ(pixelAt(19), 21u);
    for (std::int32_t q = 9; q < 19; ++q) {
        EXPECT_GT(pixelAt(q), static_cast<std::uint32_t>(q + 1)) << q;
        EXPECT_LE(pixelAt(q), 21u) << q;
    }
    EXPECT_EQ(pixelAt(8), 21u);

    // A row narrower than the separation of its first link: the repeat's
    // sources past the row's last pixel (7) use that pixel.
    setUpRow(6, 2, 3);
    numberPixels(8);
    setSeparations({5, 0});
    linkRow(6, 6, 2);
    const std::vector<std::uint32_t> shortRow = {6, 7, 7, 7, 7, 6, 6, 7};
    for (std::int32_t x = 0; x < 8; ++x) EXPECT_EQ(pixelAt(x), shortRow[x]) << x;
}

TEST(LinkRow, OneDrawPerPassThatRuns) {
    struct Case {
        std::int32_t pPos, draws;
    };
    for (const Case c : {Case{1, 1}, Case{2, 2}, Case{3, 1}, Case{0, 1}, Case{5, 1}}) {
        setUpRow(6, 8, c.pPos);
        setSeparations(std::vector<std::int32_t>(8, 2));
        std::srand(77);
        linkRow(3 * patternStart(), 6, 8);
        const int next = std::rand();
        std::srand(77);
        for (int k = 0; k < c.draws; ++k) std::rand();
        EXPECT_EQ(next, std::rand()) << "PPos " << c.pPos;
    }
}

TEST(LinkRow, CentredStripLinksBothWays) {
    // PPos 2, N = 8, P = 6: strip at pixel 4, flat separations 2 (link length 4).
    setUpRow(6, 8, 2);
    putLetters(4, "ABCDEF");
    setSeparations(std::vector<std::int32_t>(8, 2));
    linkRow(12, 6, 8);
    // Rightwards pixels 10 to 13 repeat 6 to 9; leftwards links 3 ... 0 put
    // pixels 9 ... 6 onto 5 ... 2, and pixels 1, 0 repeat 7, 6 (a full period).
    EXPECT_EQ(lettersOf(14), "CDCDEFCDEFCDEF");
}

// --- Hidden-surface removal ---

namespace {

// The removal as first stated: a forward pass, each rise d at i marking
// i - d + 1 ... i, comparisons on the values as they were on entry.
std::vector<std::int32_t> removeHiddenForward(std::vector<std::int32_t> sep, std::int32_t s0) {
    const std::vector<std::int32_t> original = sep;
    for (std::int32_t i = s0; i < static_cast<std::int32_t>(sep.size()); ++i) {
        const std::int32_t prev = i > s0 ? original[i - 1] : original[i];
        for (std::int32_t j = i - (original[i] - prev) + 1; j <= i; ++j) {
            if (j >= s0) sep[j] = -1;
        }
    }
    return sep;
}

std::vector<std::int32_t> removeHidden(const std::vector<std::int32_t>& sep, std::int32_t s0) {
    setUpRow(20, static_cast<std::int32_t>(sep.size()), 1);
    setSeparations(sep);
    removeHiddenLinks(3 * s0, static_cast<std::int32_t>(sep.size()));
    return std::vector<std::int32_t>(separationRow(), separationRow() + sep.size());
}

}  // namespace

TEST(RemoveHiddenLinks, Examples) {
    using Row = std::vector<std::int32_t>;
    EXPECT_EQ(removeHidden({3, 3, 5, 5, 4, 7}, 0), (Row{3, -1, -1, -1, -1, -1}));
    EXPECT_EQ(removeHidden({9, 7, 7, 4, 1, 0}, 0), (Row{9, 7, 7, 4, 1, 0}));
    // A rise of 3 right after s0 removes only s0 and s0 + 1.
    EXPECT_EQ(removeHidden({0, 0, 2, 5, 5}, 2), (Row{0, 0, -1, -1, 5}));
    // The entry at s0 starts no removal; nothing before s0 is examined.
    EXPECT_EQ(removeHidden({0, 9, 1, 1}, 2), (Row{0, 9, 1, 1}));
    EXPECT_EQ(removeHidden({0, 9, 1, 1}, 4), (Row{0, 9, 1, 1}));
}

TEST(RemoveHiddenLinks, MatchesTheForwardDefinitionOnRandomRows) {
    std::srand(5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<std::int32_t> sep(1 + std::rand() % 30);
        for (std::int32_t& value : sep) value = std::rand() % 20;
        const std::int32_t s0 = std::rand() % static_cast<std::int32_t>(sep.size() + 1);
        ASSERT_EQ(removeHidden(sep, s0), removeHiddenForward(sep, s0)) << "trial " << trial;
    }
}

TEST(LinkRow, HiddenOnlyTouchesLinksFromTheStrip) {
    setUpRow(6, 8, 2);
    settings.Hidden = 1;
    putLetters(4, "ABCDEF");
    setSeparations({0, 3, 0, 0, 0, 0, 2, 0});  // rises at 1 (left) and 6 (right)
    linkRow(12, 6, 8);
    const std::int32_t* sep = separationRow();
    EXPECT_EQ(sep[1], 3);  // left of the strip: kept
    EXPECT_EQ(sep[4], 0);
    EXPECT_EQ(sep[5], -1);  // the rise of 2 at 6 removes 5 and 6
    EXPECT_EQ(sep[6], -1);
    EXPECT_EQ(sep[7], 0);
}
