// The table-driven option parser and the code-page-437 upper-casing.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"

namespace rdsgen {

unsigned char upcaseChar(unsigned char c) {
    if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 'a' + 'A');
    switch (c) {
        case 0x81: return 0x9A;  // u umlaut
        case 0x82: return 0x90;  // e acute
        case 0x84: return 0x8E;  // a umlaut
        case 0x86: return 0x8F;  // a ring
        case 0x87: return 0x80;  // c cedilla
        case 0x94: return 0x99;  // o umlaut
        case 0xA4: return 0xA5;  // n tilde
        default: return c;
    }
}

void upcaseString(char* text) {
    for (; *text != '\0'; ++text) {
        *text = static_cast<char>(upcaseChar(static_cast<unsigned char>(*text)));
    }
}

void upcaseOptionName(char* text) {
    if (text[0] != '-' && text[0] != '/') return;
    for (; *text != '\0' && *text != ':'; ++text) {
        *text = static_cast<char>(upcaseChar(static_cast<unsigned char>(*text)));
    }
}

namespace {

std::vector<std::string> splitEntries(const std::string& table) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = table.find(',', start);
        entries.push_back(table.substr(start, comma - start));
        if (comma == std::string::npos) return entries;
        start = comma + 1;
    }
}

// Whether the option or reset name (the argument without its first
// character) matches a table entry; value receives what follows the entry.
bool matchEntry(std::string entry, const std::string& name, bool reset, std::string& value) {
    if (reset && !entry.empty() && entry.back() == ':') entry.pop_back();
    if (!entry.empty() && entry[0] == '!') {
        value.clear();
        return name == entry.substr(1);
    }
    if (name.compare(0, entry.size(), entry) != 0) return false;
    value = name.substr(entry.size());
    return true;
}

// An absolute path: a leading '/' and another '/' before the first ':'.
// Option names never hold a '/', so /PatT:/home/me/pattern.tga stays an option.
bool isAbsoluteFileName(const char* argument) {
    if (argument[0] != '/') return false;
    const char* nameEnd = std::strchr(argument, ':');
    const char* slash = std::strchr(argument + 1, '/');
    return slash != nullptr && (nameEnd == nullptr || slash < nameEnd);
}

bool endsOptions(const char* argument) { return std::strcmp(argument, "--") == 0; }

InfoRequest infoRequestOf(const char* argument) {
    if (std::strcmp(argument, "--help") == 0) return InfoRequest::kHelp;
    if (std::strcmp(argument, "--version") == 0) return InfoRequest::kVersion;
    return InfoRequest::kNone;
}

}  // namespace

InfoRequest findInfoRequest(int argc, const char* const* argv) {
    for (int a = 1; a < argc && !endsOptions(argv[a]); ++a) {
        InfoRequest request = infoRequestOf(argv[a]);
        if (request != InfoRequest::kNone) return request;
    }
    return InfoRequest::kNone;
}

int parseOptions(std::vector<std::string>& slots, const char* table, int argc,
                 const char* const* argv, std::FILE* errors) {
    std::vector<std::string> refusals;
    const int refused = parseOptions(slots, table, argc, argv, refusals);
    if (errors != nullptr) {
        for (const std::string& refusal : refusals) std::fprintf(errors, "%s\n", refusal.c_str());
    }
    return refused;
}

int parseOptions(std::vector<std::string>& slots, const char* table, int argc,
                 const char* const* argv, std::vector<std::string>& refusals) {
    std::string upperTable = table;
    upcaseString(upperTable.data());

    std::size_t lastUnderscore = upperTable.rfind('_');
    std::size_t positionalSlots = lastUnderscore == std::string::npos ? 0 : lastUnderscore + 1;
    std::vector<std::string> entries = splitEntries(upperTable);
    entries.erase(entries.begin());  // the positional group
    slots.assign(positionalSlots + entries.size(), std::string());

    int refused = 0;
    std::size_t nextPositional = 0;
    bool optionsEnded = false;
    for (int a = 1; a < argc; ++a) {
        const char* argument = argv[a];
        if (!optionsEnded && endsOptions(argument)) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && infoRequestOf(argument) != InfoRequest::kNone) continue;
        bool fileName = optionsEnded || isAbsoluteFileName(argument);
        // A lone "-" names a standard stream, as a file name does.
        bool option = !fileName && (argument[0] == '-' || argument[0] == '/') && std::strcmp(argument, "-") != 0;
        bool reset = !fileName && argument[0] == '!';
        std::string copy = argument;
        upcaseOptionName(copy.data());

        if (!option && !reset) {
            if (nextPositional >= positionalSlots) {
                refusals.push_back(std::string("ERROR: Too many arguments at: ") + argument);
                refused = 1;
            } else {
                slots[nextPositional++] = argument;
            }
            continue;
        }

        std::string name = copy.substr(1);
        bool matched = false;
        for (std::size_t k = 0; k < entries.size() && !matched; ++k) {
            std::string value;
            if (!matchEntry(entries[k], name, reset, value)) continue;
            matched = true;
            std::string& slot = slots[positionalSlots + k];
            if (reset) {
                slot.clear();
            } else {
                slot = value.empty() ? ">" : value;
            }
        }
        if (!matched) {
            refusals.push_back(std::string("ERROR: Unknown option: ") + argument);
            refused = 1;
        }
    }
    return refused;
}

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are.
std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

const char* kindName(OptionKind kind) {
    switch (kind) {
        case OptionKind::kHelp: return "help";
        case OptionKind::kPattern: return "pattern";
        case OptionKind::kNumber: return "number";
        case OptionKind::kChoice: return "choice";
        case OptionKind::kSeed: return "seed";
        case OptionKind::kColour: return "colour";
        case OptionKind::kLetters: return "letters";
        case OptionKind::kFlag: return "flag";
        case OptionKind::kSequence: return "sequence";
    }
    return "";
}

// The choices' names as a JSON array.
std::string choicesJson(std::string_view choices) {
    std::string out = "[";
    while (!choices.empty()) {
        const std::size_t comma = choices.find(',');
        if (out.size() > 1) out += ',';
        out += jsonString(choices.substr(0, comma));
        choices = comma == std::string_view::npos ? std::string_view() : choices.substr(comma + 1);
    }
    return out + "]";
}

// What the page needs to know of some options beyond the table: a role
// that one of its own controls plays, and the pattern types on which the
// option has no effect (0 standing for a pattern image). Looked up by name
// so that an entry without its option is simply unused.
struct PageHint {
    const char* name;
    const char* role;
    const char* noEffect;
};
constexpr PageHint kPageHints[] = {
    {"Inv", "crossEyed", ""},
    {"Width", "outputWidth", ""},
    {"Double", "doubled", ""},
    {"CutOff", "cutToInput", ""},
    // Black-and-white dots or stripes, dashes and five fixed colours ignore
    // the colours; dashes have no foreground; only 1, 2 and 5 to 7 use the
    // density; 3 to 7 and pattern images always give colour output.
    {"Dens", "", "3,4,0"},
    {"NoRD", "", "0"},
    {"TrueOut", "", "3,4,5,6,7,0"},
    {"TopF", "", "1,2,3,4,0"},
    {"BotF", "", "1,2,3,4,0"},
    {"TopB", "", "1,2,4,0"},
    {"BotB", "", "1,2,4,0"},
};

const PageHint* pageHint(std::string_view name) {
    for (const PageHint& hint : kPageHints) {
        if (name == hint.name) return &hint;
    }
    return nullptr;
}

}  // namespace

std::string optionsJson() {
    std::string json = "{\"slotCount\":" + std::to_string(kSlotCount) + ",\"options\":[";
    for (int slot = kPositionalSlots; slot < kSlotCount; ++slot) {
        const OptionSpec& option = optionOfSlot(slot);
        const std::string_view entry = option.entry;
        const bool flag = entry[0] == '!';
        const std::size_t colon = entry.find(':');
        const std::string_view name = flag ? entry.substr(1) : entry.substr(0, colon);
        const std::string_view prefix = flag ? std::string_view() : entry.substr(colon + 1);
        if (slot > kPositionalSlots) json += ',';
        json += "{\"slot\":" + std::to_string(slot) + ",\"name\":" + jsonString(name) +
                ",\"prefix\":" + jsonString(prefix) + ",\"kind\":" + jsonString(kindName(option.kind)) +
                ",\"default\":" + jsonString(option.defaultText);
        if (option.low <= option.high) {
            json += ",\"low\":" + std::to_string(option.low) + ",\"high\":" + std::to_string(option.high);
        }
        json += ",\"choices\":" + choicesJson(option.choices) + ",\"help\":" + jsonString(option.help) +
                ",\"label\":" + jsonString(option.label);
        const PageHint* hint = pageHint(name);
        json += ",\"role\":" + jsonString(hint != nullptr ? hint->role : "") + ",\"noEffect\":[" +
                (hint != nullptr ? hint->noEffect : "") + "]}";
    }
    json += "],\"patternTypes\":[";
    for (const PatternType& type : kPatternTypes) {
        if (&type != kPatternTypes) json += ',';
        json += "{\"number\":" + std::to_string(type.number) + ",\"name\":" + jsonString(type.name) +
                ",\"colour\":" + (type.colour ? "true" : "false") + "}";
    }
    json += "],\"stretchLetters\":[";
    for (const StretchLetter& letter : kStretchLetters) {
        if (&letter != kStretchLetters) json += ',';
        // Z scales the heights and counts with any pattern; the others fit
        // a pattern image.
        json += "{\"letter\":" + jsonString(std::string(1, letter.letter)) + ",\"label\":" +
                jsonString(letter.label) + ",\"heights\":" + (letter.letter == 'Z' ? "true" : "false") + "}";
    }
    return json + "]}";
}

}  // namespace rdsgen
