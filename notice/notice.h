// The notice builder: turns a command-line tail "text,caption" into the two
// buffers that the notice box shows. Pure logic: no platform calls, no heap.
#ifndef NOTICE_NOTICE_H
#define NOTICE_NOTICE_H

#include <cstddef>

constexpr std::size_t NOTICE_TEXT_SIZE = 1024;
constexpr std::size_t NOTICE_CAPTION_SIZE = 256;

// Shown for a part of the tail that comes out empty.
inline constexpr char DEFAULT_NOTICE_CAPTION[] = "MSSQL$QUORVININSTANCE Folder Already Exists";
inline constexpr char DEFAULT_NOTICE_TEXT[] =
    "1. Uninstall: SQL Express 2008-QuorvinInstance\r\n"
    "2. Uninstall: Microsoft SQL Server 2005 Backward Compatibility\r\n"
    "3. Uninstall: Microsoft SQL Server 2008 (Choose QuorvinInstance)\r\n"
    "4. Delete Folder:\r\n"
    "         \\Program Files\\Quorvin Systems\\MSSQL$QUORVININSTANCE\r\n"
    "5. Rerun Install Package";

static_assert(sizeof DEFAULT_NOTICE_TEXT <= NOTICE_TEXT_SIZE, "default text must fit");
static_assert(sizeof DEFAULT_NOTICE_CAPTION <= NOTICE_CAPTION_SIZE, "default caption must fit");

// Both buffers are always zero-terminated and never empty once built.
struct NOTICE {
    char szText[NOTICE_TEXT_SIZE];
    char szCaption[NOTICE_CAPTION_SIZE];
};

// Fills *pNotice from the zero-terminated tail pszTail.
//
// The text runs up to the first unescaped comma, the caption after it; after
// that comma every comma is caption. A backslash escapes the next byte: \r, \n
// and \t give CR, LF and TAB, any other byte stands for itself, and a
// backslash at the very end is dropped. An empty part takes its default.
// A part that outgrows its buffer keeps its first bytes and drops the rest,
// while the scan still runs to the end so that the caption is still found.
//
//   "Disk full\nRetry,Setup"  -> text "Disk full" LF "Retry", caption "Setup"
//   "a\,b,c,d"                -> text "a,b", caption "c,d"
void BuildNotice(const char* pszTail, NOTICE* pNotice);

#endif  // NOTICE_NOTICE_H
