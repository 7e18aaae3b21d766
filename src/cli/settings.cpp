// Conversion of option texts into settings, and the usage text.
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

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

std::vector<std::string> readStretch(char* text, Settings& settings) {
    std::vector<std::string> warnings;
    bool emptyValue = text[0] == '>';
    upcaseString(text);
    settings.StretA = settings.StretX = settings.StretY = settings.StretR = settings.StretP = 0;

    std::int32_t* const flags[] = {&settings.StretA, &settings.StretX, &settings.StretY,
                                   &settings.StretR, &settings.StretP, &settings.StretZ};
    static_assert(std::size(flags) == std::size(kStretchLetters));
    for (std::size_t k = 0; k < std::size(flags); ++k) {
        char* found = std::strchr(text, kStretchLetters[k].letter);
        if (found == nullptr) continue;
        *flags[k] = 1;
        // Remove this occurrence: the last character takes its place.
        std::size_t length = std::strlen(text);
        *found = text[length - 1];
        text[length - 1] = '\0';
    }

    if (text[0] != '\0' && !emptyValue) {
        warnings.push_back(std::string("WARNING: Unknown '/Stret=' option(s) '") + text + "' ignored.");
    }
    if (settings.StretX && settings.StretP) {
        settings.StretX = 0;
        warnings.push_back("WARNING: The stretching option 'P' and 'X' may not be used together.\n"
                           "         Option 'X' ignored.");
    }
    if (settings.StretY && settings.StretR) {
        settings.StretR = 0;
        warnings.push_back("WARNING: The stretching option 'Y' and 'R' may not be used together.\n"
                           "         Option 'R' ignored.");
    }
    if (!settings.StretX && settings.StretR) {
        settings.StretR = 0;
        warnings.push_back("WARNING: The stretching option 'R' has no effect without the 'X' option.\n"
                           "         Option 'R' ignored.");
    }
    return warnings;
}

void parseStretch(char* text, Settings& settings) {
    for (const std::string& warning : readStretch(text, settings)) std::printf("%s\n", warning.c_str());
}

std::int32_t slotNumber(const std::vector<std::string>& slots, int slot) {
    return readDecimal(slots[slot].empty() ? optionOfSlot(slot).defaultText : slots[slot].c_str());
}

void convertSlots(std::vector<std::string>& slots, Settings& settings, StartValues& start,
                  std::vector<std::string>& warnings) {
    auto value = [&](int slot, std::int32_t& target) {
        if (!slots[slot].empty()) target = readDecimal(slots[slot].c_str());
    };
    value(kSlotPatT, settings.PatT);
    value(kSlotPSizP, settings.PSiz);
    if (!slots[kSlotPSizS].empty()) {
        settings.PSiz = readDecimal(slots[kSlotPSizS].c_str());
        settings.psizInStripes = true;
    }
    settings.psizGiven = !slots[kSlotPSizP].empty() || !slots[kSlotPSizS].empty();
    value(kSlotPUse, settings.PUse);
    value(kSlotPPos, settings.PPos);
    value(kSlotDens, settings.Dens);
    value(kSlotRand, start.seed);
    value(kSlotFocP, settings.FocP);
    value(kSlotTopF, start.topF);
    value(kSlotBotF, start.botF);
    value(kSlotTopB, start.topB);
    value(kSlotBotB, start.botB);
    if (!slots[kSlotStret].empty()) {
        for (std::string& warning : readStretch(slots[kSlotStret].data(), settings)) {
            warnings.push_back(std::move(warning));
        }
    }

    const std::pair<int, std::int32_t*> flags[] = {
        {kSlotNoRD, &settings.NoRD},     {kSlotTrueOut, &settings.TrueOut},
        {kSlotVInc, &settings.VInc},     {kSlotInv, &settings.Inv},
        {kSlotCutOff, &settings.CutOff}, {kSlotHidden, &settings.Hidden},
        {kSlotDouble, &settings.Double}};
    for (const auto& [slot, flag] : flags) {
        if (!slots[slot].empty() && slots[slot][0] == '>') *flag = 1;
    }
    value(kSlotWidth, settings.Width);
}

std::string planWarningText(unsigned warning) {
    switch (warning) {
        case kWarnStretchXAssumed:
            return "WARNING: Pattern input image too small in width. Stretching option 'X' assumed.";
        case kWarnFocPAssumed:
            return "WARNING: 'CutOff' option may not be used with 'FocP=1'. '/FocP=2' assumed.";
        case kWarnHiddenCentre:
            return "WARNING: combining '/Hidden' and '/PPos=2' may cause funny results.\n"
                   "         You should better use it with the '/PPos=1' option.";
        case kWarnHiddenRight:
            return "WARNING: the '/Hidden' option has no effect with '/PPos=3'.";
        default:
            return "";
    }
}

void printUsage(std::FILE* out, const char* programName, bool everyOption) {
    std::fprintf(out, "USAGE: %s input[.tga] output[.tga] /options [/?]\n", programName);
    std::string types;
    for (const PatternType& type : kPatternTypes) {
        if (!types.empty()) types += ',';
        types += std::to_string(type.number);
    }
    for (std::size_t k = 0; k < std::size(kOptions); ++k) {
        const OptionSpec& option = kOptions[k];
        std::string help = option.help;
        if (help.empty() || (k >= kUsageOptions && !everyOption)) continue;
        const std::size_t placeholder = help.find("{types}");
        if (placeholder != std::string::npos) help.replace(placeholder, 7, types);
        // "/Name:n [default]" (the value's fixed prefix before a default,
        // numbers two wide) or "/Name"; the help text from column 17.
        const std::string_view entry = option.entry;
        std::string line = "  /";
        if (entry[0] == '!') {
            line += entry.substr(1);
        } else {
            const std::size_t colon = entry.find(':');
            std::string shown = option.defaultText;
            const bool number = option.kind == OptionKind::kPattern || option.kind == OptionKind::kNumber ||
                                option.kind == OptionKind::kChoice || option.kind == OptionKind::kSeed;
            if (number && shown.size() < 2) shown.insert(0, 2 - shown.size(), ' ');
            line += std::string(entry.substr(0, colon)) + ":n [" + std::string(entry.substr(colon + 1)) + shown + "]";
        }
        line.append(line.size() < 16 ? 16 - line.size() : 1, ' ');
        std::fprintf(out, "%s%s\n", line.c_str(), help.c_str());
    }
}

void printMoreUsage(std::FILE* out) {
    std::fprintf(out, "\nFrame sequences: an input name with a frame number (f%%04d.png; %%%% for a '%%')\n"
                      "or - (images on standard input); output numbered files, one animated .png\n"
                      "(.apng) or .gif, or - (PNG images on standard output).\n");
    for (const OptionSpec& option : kOptions) {
        if (option.moreHelp[0] == '\0') continue;
        // "/Name:n [default]", or the value's names with '|' when it has them.
        const std::string_view entry = option.entry;
        std::string line = "  /" + std::string(entry.substr(0, entry.find(':'))) + ":";
        line += option.choices[0] != '\0' ? std::string(option.choices) : "n";
        line += " [" + std::string(option.defaultText) + "]";
        line.append(line.size() < 24 ? 24 - line.size() : 1, ' ');
        std::fprintf(out, "%s%s\n", line.c_str(), option.moreHelp);
    }
}

}  // namespace rdsgen
