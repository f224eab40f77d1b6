// libFuzzer target: any tail must leave a sound notice and touch nothing else.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "notice/notice.h"

namespace {

constexpr unsigned char GUARD = 0xA5;

// Terminated inside the buffer, and not empty.
template <std::size_t N>
bool IsSoundPart(const char (&szPart)[N]) {
    return szPart[0] != '\0' && std::memchr(szPart, '\0', N) != nullptr;
}

bool IsUntouched(const unsigned char* p, std::size_t cb) {
    for (std::size_t i = 0; i < cb; ++i) {
        if (p[i] != GUARD) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that AddressSanitizer catches a read past the
    // terminator; the tail ends at its first zero byte, as a command line does.
    const std::unique_ptr<char[]> tail(new char[size + 1]);
    std::memcpy(tail.get(), data, size);
    tail[size] = '\0';
    struct {
        unsigned char before[32];
        NOTICE notice;
        unsigned char after[32];
    } guarded = {};
    std::memset(&guarded, GUARD, sizeof guarded);

    BuildNotice(tail.get(), &guarded.notice);

    if (!IsSoundPart(guarded.notice.szText) || !IsSoundPart(guarded.notice.szCaption) ||
        !IsUntouched(guarded.before, sizeof guarded.before) ||
        !IsUntouched(guarded.after, sizeof guarded.after)) {
        std::abort();
    }
    return 0;
}
