// Conversion of option texts into settings, and the usage text.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace rdsgen {

std::int32_t readDecimal(const char* text) {
    while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\v' || *text == '\f' ||
           *text == '\r') {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > std::int64_t{INT32_MAX} + 1) value = std::int64_t{INT32_MAX} + 1;  // saturate
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return static_cast<std::int32_t>(value);
}

void parseStretch(char* text, Settings& settings) {
    bool emptyValue = text[0] == '>';
    upcaseString(text);
    settings.StretA = settings.StretX = settings.StretY = settings.StretR = settings.StretP = 0;

    struct Letter {
        char letter;
        std::int32_t* flag;
    };
    const Letter letters[] = {{'A', &settings.StretA}, {'X', &settings.StretX},
                              {'Y', &settings.StretY}, {'R', &settings.StretR},
                              {'P', &settings.StretP}, {'Z', &settings.StretZ}};
    for (const Letter& l : letters) {
        char* found = std::strchr(text, l.letter);
        if (found == nullptr) continue;
        *l.flag = 1;
        // Remove this occurrence: the last character takes its place.
        std::size_t length = std::strlen(text);
        *found = text[length - 1];
        text[length - 1] = '\0';
    }

    if (text[0] != '\0' && !emptyValue) {
        std::printf("WARNING: Unknown '/Stret=' option(s) '%s' ignored.\n", text);
    }
    if (settings.StretX && settings.StretP) {
        settings.StretX = 0;
        std::printf("WARNING: The stretching option 'P' and 'X' may not be used together.\n"
                    "         Option 'X' ignored.\n");
    }
    if (settings.StretY && settings.StretR) {
        settings.StretR = 0;
        std::printf("WARNING: The stretching option 'Y' and 'R' may not be used together.\n"
                    "         Option 'R' ignored.\n");
    }
    if (!settings.StretX && settings.StretR) {
        settings.StretR = 0;
        std::printf("WARNING: The stretching option 'R' has no effect without the 'X' option.\n"
                    "         Option 'R' ignored.\n");
    }
}

void printUsage(std::FILE* out, const char* programName) {
    const Settings defaults;
    std::fprintf(out, "USAGE: %s input[.tga] output[.tga] /options [/?]\n", programName);
    std::string types;
    for (const PatternType& type : kPatternTypes) types += std::to_string(type.number) + ",";
    std::fprintf(out, "  /PatT:n [%2i]  pattern type (%sor tga filename)\n", defaults.PatT,
                 types.replace(types.size() - 1, 1, " ").c_str());
    std::fprintf(out, "  /PSiz:n [P%2i] pattern width (/PSiz:P# in pixels, /PSiz:S# in stripes)\n",
                 defaults.PSiz);
    std::fprintf(out, "  /PUse:n [%2i]  usage percentage of pattern\n", defaults.PUse);
    std::fprintf(out, "  /PPos:n [%2i]  pattern position (1=left, 2=center, 3=right)\n", defaults.PPos);
    std::fprintf(out,
                 "  /Dens:n [%2i]  set %% of black pixels (p-type 1&5) set # of dots (p-type 6&7)\n",
                 defaults.Dens);
    std::fprintf(out, "  /Rand:n [%2i]  set random seed (0=random)\n", 0);
    std::fprintf(out, "  /FocP:n [%2i]  focus points (0=none, 1=top of image; 2=in image)\n",
                 defaults.FocP);
    std::fprintf(out, "  /TopF:n [%09li] top foreground color for p-type 5&6&7 (rrrgggbbb)\n",
                 255248000L);
    std::fprintf(out, "  /BotF:n [%09li] bottom foreground color for p-type 5&6&7 (rrrgggbbb)\n",
                 255090140L);
    std::fprintf(out, "  /TopB:n [%09li] top background color for p-type 3&5&6&7 (rrrgggbbb)\n",
                 90060255L);
    std::fprintf(out, "  /BotB:n [%09li] bottom background color for p-type 3&5&6&7 (rrrgggbbb)\n",
                 140095L);
    std::fputs("  /Stret:n [A]  stretch pattern image: A)utomatic,X,Y,Z,keep R)atio,adj. P)Siz\n"
               "  /NoRD         no Random Dots; insert parts of pattern insted\n"
               "  /TrueOut      force output image to TARGA type 3 (true color)\n"
               "  /VInc         virtually increase Resolution (for more depth planes)\n"
               "  /Inv          reverse elevations (invert the input image)\n"
               "  /CutOff       cut output image to the size of the input image\n"
               "  /Hidden       enable hidden surface checking (don't know if it helps)\n"
               "  /Double       double output image resolution (for better 3D effect)\n",
               out);
}

}  // namespace rdsgen
