// The rule that cuts the program name off the command line.
#include "app/command_tail.h"

namespace {

bool IsLeadByte(unsigned char b, const LEAD_BYTE_RANGES& leadBytes) {
    for (std::size_t i = 0; i + 1 < COMMAND_TAIL_LEAD_BYTES; i += 2) {
        const unsigned char first = leadBytes[i];
        const unsigned char last = leadBytes[i + 1];
        if (first == 0 && last == 0) {
            break;
        }
        if (first <= b && b <= last) {
            return true;
        }
    }
    return false;
}

bool IsBlank(unsigned char b) {
    return b != 0 && b <= 0x20;
}

// p points just past the opening quote; returns the first byte after the name.
const unsigned char* SkipQuotedName(const unsigned char* p, const LEAD_BYTE_RANGES& leadBytes) {
    while (*p != 0 && *p != '"') {
        // A lead byte takes its trail byte along, unless that is the terminator.
        p += (IsLeadByte(*p, leadBytes) && p[1] != 0) ? 2 : 1;
    }
    return *p == '"' ? p + 1 : p;
}

}  // namespace

const char* GetCommandTail(const char* pszCommandLine, const LEAD_BYTE_RANGES& leadBytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(pszCommandLine);
    if (*p == '"') {
        p = SkipQuotedName(p + 1, leadBytes);
    } else {
        while (*p > 0x20) {
            ++p;
        }
    }
    while (IsBlank(*p)) {
        ++p;
    }
    return reinterpret_cast<const char*>(p);
}
