// libFuzzer target: any tail must leave a sound notice and touch nothing else.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "notice/guarded_notice.h"

namespace {

// Terminated inside the buffer, and not empty.
template <std::size_t N>
bool IsSoundPart(const char (&szPart)[N]) {
    return szPart[0] != '\0' && std::memchr(szPart, '\0', N) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that AddressSanitizer catches a read past the
    // terminator; the tail ends at its first zero byte, as a command line does.
    const std::unique_ptr<char[]> tail(new char[size + 1]);
    std::memcpy(tail.get(), data, size);
    tail[size] = '\0';
    GUARDED_NOTICE guarded = {};
    FillWithGuard(&guarded);

    BuildNotice(tail.get(), &guarded.notice);

    if (!IsSoundPart(guarded.notice.szText) || !IsSoundPart(guarded.notice.szCaption) ||
        !GuardsAreUntouched(guarded)) {
        std::abort();
    }
    return 0;
}
