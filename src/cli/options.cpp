// The table-driven option parser and the code-page-437 upper-casing.
#include <cstdio>
#include <cstring>
#include <string>
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
        bool option = !fileName && (argument[0] == '-' || argument[0] == '/');
        bool reset = !fileName && argument[0] == '!';
        std::string copy = argument;
        upcaseOptionName(copy.data());

        if (!option && !reset) {
            if (nextPositional >= positionalSlots) {
                if (errors != nullptr) std::fprintf(errors, "ERROR: Too many arguments at: %s\n", argument);
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
            if (errors != nullptr) std::fprintf(errors, "ERROR: Unknown option: %s\n", argument);
            refused = 1;
        }
    }
    return refused;
}

}  // namespace rdsgen
