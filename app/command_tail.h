// Cuts the command-line tail (everything after the program name) from the
// full 8-bit command line. Portable: the code page's lead bytes come in as data.
#ifndef NOTICE_APP_COMMAND_TAIL_H
#define NOTICE_APP_COMMAND_TAIL_H

#include <cstddef>

// Lead-byte ranges as the platform reports them for a code page: pairs of
// first and last byte, ended by a pair of zeros or by the end of the array.
constexpr std::size_t COMMAND_TAIL_LEAD_BYTES = 12;
using LEAD_BYTE_RANGES = unsigned char[COMMAND_TAIL_LEAD_BYTES];

// Returns the tail of pszCommandLine, a pointer into the same string.
//
// A program name in double quotes runs to the next quote, and a double-byte
// character's trail byte is never taken for that quote; an unquoted name runs
// to the first byte at or below 0x20. Blanks and control bytes after the name
// are skipped; the rest is the tail, unchanged.
//
//   "C:\My Tools\notice.exe"   Disk full,Setup  ->  Disk full,Setup
//   "x"Hi                                       ->  Hi
//   notice a ,b                                 ->  a ,b
//   "x Hi,There  (no closing quote)             ->  (empty)
const char* GetCommandTail(const char* pszCommandLine, const LEAD_BYTE_RANGES& leadBytes);

#endif  // NOTICE_APP_COMMAND_TAIL_H
