// A NOTICE between two guard bands, for the unit tests and the fuzz target:
// a write past either end of the notice changes a guard byte.
#ifndef NOTICE_GUARDED_NOTICE_H
#define NOTICE_GUARDED_NOTICE_H

#include <algorithm>
#include <cstring>
#include <iterator>

#include "notice/notice.h"

constexpr unsigned char NOTICE_GUARD = 0xA5;

struct GUARDED_NOTICE {
    unsigned char before[64];
    NOTICE notice;
    unsigned char after[64];
};

// Fills the whole record, notice included, with the guard byte.
inline void FillWithGuard(GUARDED_NOTICE* pGuarded) {
    std::memset(pGuarded, NOTICE_GUARD, sizeof *pGuarded);
}

inline bool GuardsAreUntouched(const GUARDED_NOTICE& guarded) {
    const auto isGuard = [](unsigned char b) { return b == NOTICE_GUARD; };
    return std::all_of(std::begin(guarded.before), std::end(guarded.before), isGuard) &&
           std::all_of(std::begin(guarded.after), std::end(guarded.after), isGuard);
}

#endif  // NOTICE_GUARDED_NOTICE_H
