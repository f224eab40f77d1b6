// libFuzzer target: any command line under any code page's lead bytes gives
// a tail that is the end of that same line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/command_tail.h"

// The first bytes of the input are the lead-byte ranges, the rest the line.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < COMMAND_TAIL_LEAD_BYTES) {
        return 0;
    }
    LEAD_BYTE_RANGES leadBytes;
    std::memcpy(leadBytes, data, COMMAND_TAIL_LEAD_BYTES);

    // An exact-size copy, so that AddressSanitizer catches a read past the terminator.
    const std::size_t cbLine = size - COMMAND_TAIL_LEAD_BYTES;
    const std::unique_ptr<char[]> line(new char[cbLine + 1]);
    std::memcpy(line.get(), data + COMMAND_TAIL_LEAD_BYTES, cbLine);
    line[cbLine] = '\0';
    const char* pszLineEnd = line.get() + std::strlen(line.get());

    const char* pszTail = GetCommandTail(line.get(), leadBytes);

    if (pszTail < line.get() || pszTail > pszLineEnd) {
        std::abort();
    }
    return 0;
}
