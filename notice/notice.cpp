// Builds the notice's text and caption from the command-line tail in one pass.
#include "notice/notice.h"

#include <cstring>

namespace {

// The part of the notice that the scan is filling.
struct PART {
    char* pBuffer;
    std::size_t cbCapacity;  // bytes it can hold, less the terminator
    std::size_t cbStored;
};

PART MakePart(char* pBuffer, std::size_t cbBuffer) {
    return PART{pBuffer, cbBuffer - 1, 0};
}

// Bytes past the capacity are dropped; the zero fill keeps the part terminated.
void Append(PART* pPart, char b) {
    if (pPart->cbStored < pPart->cbCapacity) {
        pPart->pBuffer[pPart->cbStored++] = b;
    }
}

char TranslateEscape(char e) {
    switch (e) {
        case 'r': return '\r';
        case 'n': return '\n';
        case 't': return '\t';
        default: return e;
    }
}

template <std::size_t cbBuffer, std::size_t cbDefault>
void DefaultIfEmpty(char (&szBuffer)[cbBuffer], const char (&szDefault)[cbDefault]) {
    static_assert(cbDefault <= cbBuffer, "default must fit its buffer");
    if (szBuffer[0] == '\0') {
        std::memcpy(szBuffer, szDefault, cbDefault);
    }
}

}  // namespace

void BuildNotice(const char* pszTail, NOTICE* pNotice) {
    std::memset(pNotice, 0, sizeof *pNotice);
    PART text = MakePart(pNotice->szText, sizeof pNotice->szText);
    PART caption = MakePart(pNotice->szCaption, sizeof pNotice->szCaption);
    PART* pCurrent = &text;

    const std::size_t cbTail = std::strlen(pszTail);
    for (std::size_t i = 0; i < cbTail; ++i) {
        const char b = pszTail[i];
        if (b == ',' && pCurrent == &text) {
            pCurrent = &caption;
        } else if (b == '\\') {
            if (++i == cbTail) {
                break;  // a lone backslash at the end adds nothing
            }
            Append(pCurrent, TranslateEscape(pszTail[i]));
        } else {
            Append(pCurrent, b);
        }
    }

    DefaultIfEmpty(pNotice->szText, DEFAULT_NOTICE_TEXT);
    DefaultIfEmpty(pNotice->szCaption, DEFAULT_NOTICE_CAPTION);
}
