// Hostile input against the real executable: refused and truncated files,
// headers with extreme fields, extreme options on a small image, and the
// inputs that once crashed (tests/crashers). Every run must end with status
// 0 or 1 within a few seconds, print an "ERROR: " line when it fails, leave
// no output file after a failure and a complete one after success, never
// change its input, and (in the sanitizer build) trip no sanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr double kRunSeconds = 5.0;
const char* const kOutput = "out.tga";

struct Verdict {
    bool ok = true;
    std::string why;
    ProcessResult result;
};

std::string joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) text += arg + " ";
    return text;
}

// Runs rdsgen with args in dir and checks every promise of a run. input names
// the file that must come through unchanged.
Verdict runChecked(const std::string& dir, const std::vector<std::string>& args,
                   const std::string& input = "in.tga") {
    fs::remove(dir + "/" + kOutput);
    std::vector<std::uint8_t> before = readFileBytes(dir + "/" + input);
    auto start = std::chrono::steady_clock::now();
    Verdict v;
    v.result = runRdsgenProcess(args, dir);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const ProcessResult& r = v.result;
    auto fail = [&](const std::string& why) {
        v.ok = false;
        v.why += why + "; ";
    };
    if (r.status != 0 && r.status != 1) fail("status " + std::to_string(r.status));
    if (took.count() > kRunSeconds) fail("took " + std::to_string(took.count()) + " s");
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error") != std::string::npos) {
        fail("sanitizer report");
    }
    if (readFileBytes(dir + "/" + input) != before) fail("input changed");
    bool output = fileExists(dir + "/" + kOutput);
    if (r.status == 1) {
        if (r.err.rfind("ERROR: ", 0) != 0 && r.err.find("\nERROR: ") == std::string::npos) {
            fail("no ERROR line");
        }
        if (output) fail("output left after a failure");
    }
    if (r.status == 0) {
        std::vector<std::uint8_t> out = readFileBytes(dir + "/" + kOutput);
        std::size_t expected = 0;
        if (out.size() >= 18) {
            std::size_t width = out[12] | out[13] << 8;
            std::size_t height = out[14] | out[15] << 8;
            expected = 18 + width * height * (out[2] == 2 ? 3 : 1);
        }
        if (out.size() < 18 || out.size() != expected) fail("incomplete output");
    }
    if (!v.ok) v.why += "args: " + joined(args) + "stderr: " + r.err;
    return v;
}

// A 40 x 30 grey height image: a slope with a raised square.
std::vector<std::uint8_t> smallHeights() {
    std::vector<std::uint8_t> heights;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            bool square = x > 10 && x < 30 && y > 8 && y < 22;
            heights.push_back(static_cast<std::uint8_t>(square ? 220 : 5 * x));
        }
    }
    return greyTga(40, 30, heights);
}

// A directory with the small height image as heights.tga and file as in.tga.
std::string directoryWith(const std::vector<std::uint8_t>& file) {
    std::string dir = temporaryDirectory();
    writeFileBytes(dir + "/heights.tga", smallHeights());
    writeFileBytes(dir + "/in.tga", file);
    return dir;
}

// Runs file as the height image and as the pattern image; both must keep
// every promise and end with the expected status. Returns both results.
std::pair<ProcessResult, ProcessResult> checkBothRoles(const std::vector<std::uint8_t>& file,
                                                       int heightStatus, int patternStatus,
                                                       const std::string& label) {
    std::string dir = directoryWith(file);
    Verdict asHeights = runChecked(dir, {"in.tga", kOutput, "/Rand:2"});
    EXPECT_TRUE(asHeights.ok) << label << ": " << asHeights.why;
    Verdict asPattern = runChecked(dir, {"heights.tga", kOutput, "/PatT:in.tga", "/Rand:2"});
    EXPECT_TRUE(asPattern.ok) << label << " (pattern): " << asPattern.why;
    EXPECT_EQ(asHeights.result.status, heightStatus) << label;
    EXPECT_EQ(asPattern.result.status, patternStatus) << label << " (pattern)";
    return {asHeights.result, asPattern.result};
}

// Fixture names and verdicts ("accept" or "refuse") from MANIFEST.md.
std::vector<std::pair<std::string, std::string>> manifest() {
    std::ifstream in(fixturePath("MANIFEST.md"));
    std::vector<std::pair<std::string, std::string>> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| `", 0) != 0) continue;
        std::string name = line.substr(3, line.find('`', 3) - 3);
        if (line.find("| accept |") != std::string::npos) entries.emplace_back(name, "accept");
        if (line.find("| refuse |") != std::string::npos) entries.emplace_back(name, "refuse");
    }
    return entries;
}

std::vector<std::string> fixturesWithVerdict(const std::string& verdict) {
    std::vector<std::string> names;
    for (const auto& [name, v] : manifest()) {
        if (v == verdict) names.push_back(name);
    }
    return names;
}

// Offset of the end of the pixel data that the header of an accepted file claims.
std::size_t pixelDataEnd(const std::vector<std::uint8_t>& file) {
    std::size_t idLength = file[0];
    std::size_t mapBytes = file[1] != 0 ? 3 * std::size_t(file[5] | file[6] << 8) : 0;
    std::size_t width = file[12] | file[13] << 8;
    std::size_t height = file[14] | file[15] << 8;
    return 18 + idLength + mapBytes + width * height * (file[16] / 8);
}

TEST(CampaignTest, FixtureListIsComplete) {
    EXPECT_GE(fixturesWithVerdict("accept").size(), 80u);
    EXPECT_GE(fixturesWithVerdict("refuse").size(), 20u);
}

TEST(CampaignTest, RefusedFixturesAreRefusedInBothRoles) {
    for (const std::string& name : fixturesWithVerdict("refuse")) {
        auto [asHeights, asPattern] = checkBothRoles(readFileBytes(fixturePath(name)), 1, 1, name);
        // A refusal of the reader ends the progress text's line first.
        EXPECT_NE(asHeights.out.find("Reading height (elevation) image...\n"), std::string::npos) << name;
        EXPECT_NE(asPattern.out.find("Reading pattern image...\n"), std::string::npos) << name;
    }
}

// Every accepted fixture cut inside its header or its pixel data is refused.
// Header prefixes shared by several fixtures are run once.
void checkTruncations(bool header) {
    std::set<std::vector<std::uint8_t>> prefixes;
    for (const std::string& name : fixturesWithVerdict("accept")) {
        std::vector<std::uint8_t> file = readFileBytes(fixturePath(name));
        ASSERT_GE(file.size(), 18u) << name;
        std::size_t end = pixelDataEnd(file);
        ASSERT_LE(end, file.size()) << name;
        std::vector<std::size_t> cuts;
        if (header) {
            for (std::size_t cut = 0; cut < 18; ++cut) cuts.push_back(cut);
        } else {
            std::size_t width = file[12] | file[13] << 8;
            std::size_t height = file[14] | file[15] << 8;
            std::size_t dataStart = end - width * height * (file[16] / 8);
            if (dataStart > 18) cuts.push_back(dataStart - 1);  // inside the ID or the colour map
            cuts.insert(cuts.end(), {dataStart, dataStart + 1, (dataStart + end) / 2, end - 1});
        }
        for (std::size_t cut : cuts) {
            if (cut >= end) continue;
            std::vector<std::uint8_t> part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
            if (!prefixes.insert(part).second) continue;
            std::string dir = directoryWith(part);
            Verdict v = runChecked(dir, {"in.tga", kOutput, "/Rand:4"});
            EXPECT_TRUE(v.ok) << name << " cut at " << cut << ": " << v.why;
            EXPECT_EQ(v.result.status, 1) << name << " cut at " << cut;
        }
    }
}

TEST(CampaignTest, AcceptedFixturesCutInsideTheHeaderAreRefused) { checkTruncations(true); }

TEST(CampaignTest, AcceptedFixturesCutInsideThePixelDataAreRefused) { checkTruncations(false); }

TEST(CampaignTest, HugeSizeOnATinyFileIsRefusedBeforeAllocation) {
    TgaLayout layout;
    layout.width = 65535;
    layout.height = 65535;
    layout.pixelDepth = 24;
    for (int type : {1, 2, 3}) {
        layout.imageType = type;
        layout.colourMapType = type == 1 ? 1 : 0;
        layout.mapLength = type == 1 ? 2 : 0;
        layout.mapEntryBits = type == 1 ? 24 : 0;
        layout.colourMap.assign(type == 1 ? 6 : 0, 9);
        layout.pixels.assign(20, 7);
        std::string dir = directoryWith(buildTga(layout));
        auto start = std::chrono::steady_clock::now();
        Verdict v = runChecked(dir, {"in.tga", kOutput});
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(v.ok) << v.why;
        EXPECT_EQ(v.result.status, 1);
        EXPECT_EQ(v.result.err, "ERROR: Unexpected end of file in TARGA image.\n") << type;
        EXPECT_LT(took.count(), 1.0) << type;
    }
}

TEST(CampaignTest, HeadersWithExtremeFields) {
    auto grey = [] {
        TgaLayout layout;
        layout.width = 6;
        layout.height = 5;
        layout.pixels.assign(30, 0x80);
        return layout;
    };
    struct Case {
        std::string label;
        TgaLayout layout;
        int status;
        int patternStatus = status;
    };
    std::vector<Case> cases;
    // Colour map of 256 entries whose first index is 255: only stored index
    // 255 has an entry; every other index has no colour, yet the file is good.
    TgaLayout mapped = grey();
    mapped.imageType = 1;
    mapped.colourMapType = 1;
    mapped.mapFirst = 255;
    mapped.mapLength = 256;
    mapped.mapEntryBits = 24;
    mapped.colourMap.assign(3 * 256, 0x44);
    for (int i = 0; i < 30; ++i) mapped.pixels[i] = static_cast<std::uint8_t>(i * 37);
    cases.push_back({"map 256 from 255", mapped, 0});
    mapped.mapFirst = 65535;
    cases.push_back({"map 256 from 65535", mapped, 0});
    TgaLayout id = grey();
    id.idLength = 255;
    cases.push_back({"ID 255", id, 0});
    id.pixels.resize(10);
    cases.push_back({"ID 255, short pixels", id, 1});
    for (int type : {1, 2, 3}) {
        for (int depth : {0, 7, 9, 255}) {
            TgaLayout layout = grey();
            layout.imageType = type;
            layout.pixelDepth = depth;
            layout.pixels.assign(30 * (depth / 8 + 1), 0x33);
            // Only type 3 (grey) and type 1 (mapped) at 9 bits, one byte per pixel, are readable.
            int status = depth == 9 && type != 2 ? 0 : 1;
            cases.push_back({"type " + std::to_string(type) + " depth " + std::to_string(depth), layout, status});
        }
    }
    for (int descriptor : {0xFF, 0xDF, 0x10, 0xC0, 0x0F}) {
        TgaLayout layout = grey();
        layout.descriptor = descriptor;
        cases.push_back({"descriptor " + std::to_string(descriptor), layout, 0});
    }
    TgaLayout tall = grey();
    tall.width = 1;
    tall.height = 65535;
    tall.pixels.assign(65535, 0x10);
    // As height images these would give more than 65535 output rows or columns.
    cases.push_back({"1 x 65535", tall, 1, 0});
    tall.width = 65535;
    tall.height = 1;
    cases.push_back({"65535 x 1", tall, 1, 0});
    for (const Case& c : cases) checkBothRoles(buildTga(c.layout), c.status, c.patternStatus, c.label);
}

// Extreme values of every numeric option, each with every pattern type (and
// a pattern image) once, the flags taken in turn.
TEST(CampaignTest, ExtremeOptionsWithEveryPatternType) {
    const std::vector<std::string> values = {
        "/PSiz:P1", "/PSiz:P2", "/PSiz:P3", "/PSiz:P4", "/PSiz:P5", "/PSiz:P6", "/PSiz:P7",
        "/PSiz:P20000", "/PSiz:S0", "/PSiz:S1", "/PSiz:S10000",
        "/PUse:-50", "/PUse:0", "/PUse:1", "/PUse:99", "/PUse:100", "/PUse:1000",
        "/Dens:-5", "/Dens:0", "/Dens:100", "/Dens:1000",
        "/PPos:-3", "/PPos:-2", "/PPos:-1", "/PPos:0", "/PPos:1", "/PPos:2", "/PPos:3",
        "/PPos:4", "/PPos:5", "/PPos:6", "/PPos:7",
        "/FocP:-1", "/FocP:0", "/FocP:1", "/FocP:2", "/FocP:3", "/FocP:4", "/FocP:5",
        "/TopF:999999999", "/BotF:-1", "/TopB:-1", "/BotB:999999999", "/Rand:-1"};
    const std::vector<std::vector<std::string>> flags = {
        {}, {"/VInc"}, {"/Double"}, {"/CutOff"}, {"/Hidden"}, {"/NoRD"},
        {"/VInc", "/Double", "/NoRD"}, {"/Hidden", "/NoRD", "/CutOff", "/Inv"}};
    std::string dir = directoryWith(smallHeights());
    // A 12 x 9 colour pattern image.
    TgaLayout pattern;
    pattern.imageType = 2;
    pattern.pixelDepth = 24;
    pattern.width = 12;
    pattern.height = 9;
    for (int i = 0; i < 12 * 9 * 3; ++i) pattern.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    writeFileBytes(dir + "/pattern.tga", buildTga(pattern));
    const std::vector<std::string> types = {"/PatT:1", "/PatT:2", "/PatT:3", "/PatT:4",
                                            "/PatT:5", "/PatT:6", "/PatT:7", "/PatT:pattern.tga"};
    std::size_t turn = 0;
    for (const std::string& type : types) {
        for (const std::string& value : values) {
            std::vector<std::string> args = {"in.tga", kOutput, "/Rand:6", type, value};
            const std::vector<std::string>& f = flags[turn++ % flags.size()];
            args.insert(args.end(), f.begin(), f.end());
            Verdict v = runChecked(dir, args);
            EXPECT_TRUE(v.ok) << v.why;
        }
    }
}

// Inputs that once crashed or tripped a sanitizer (layout in
// tests/crashers/README.md): NAME.tga is the image, NAME.args (optional) its
// options, one per line; "role: pattern" makes the image the pattern image.
TEST(CampaignTest, FormerCrashersRunCleanly) {
    fs::path crashers = fs::path(__FILE__).parent_path().parent_path() / "crashers";
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(crashers)) {
        if (entry.path().extension() != ".tga") continue;
        std::vector<std::string> args = {"in.tga", kOutput, "/Rand:1"};
        fs::path argsFile = entry.path();
        argsFile.replace_extension(".args");
        std::ifstream in(argsFile);
        std::string line;
        while (std::getline(in, line)) {
            if (line == "role: pattern") {
                args[0] = "heights.tga";
                args.push_back("/PatT:in.tga");
            } else if (!line.empty()) {
                args.push_back(line);
            }
        }
        std::string dir = directoryWith(readFileBytes(entry.path().string()));
        Verdict v = runChecked(dir, args);
        EXPECT_TRUE(v.ok) << entry.path().filename() << ": " << v.why;
        ++replayed;
    }
    if (replayed == 0) GTEST_SKIP() << "no former crasher in " << crashers;
}

}  // namespace
