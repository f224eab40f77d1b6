// Behaviour of GetCommandTail: full command lines and the tails cut from them.
#include "app/command_tail.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

const LEAD_BYTE_RANGES kSingleByte = {};                         // code page 1252
const LEAD_BYTE_RANGES kCodePage932 = {0x81, 0x9F, 0xE0, 0xFC};  // Shift JIS

struct Row {
    std::string commandLine;
    std::string tail;
};

void ExpectTails(const LEAD_BYTE_RANGES& leadBytes, std::initializer_list<Row> rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE("command line <" + row.commandLine + ">");
        const char* pszTail = GetCommandTail(row.commandLine.c_str(), leadBytes);
        // The tail is the end of the same string, not a copy.
        const char* pszEnd = row.commandLine.c_str() + row.commandLine.size();
        ASSERT_GE(pszTail, row.commandLine.c_str());
        ASSERT_LE(pszTail, pszEnd);
        EXPECT_EQ(std::string(pszTail), row.tail);
    }
}

TEST(GetCommandTail, UnquotedProgramNameEndsAtTheFirstBlank) {
    ExpectTails(kSingleByte, {
                                 {"", ""},
                                 {"notice", ""},
                                 {"notice ", ""},
                                 {"x a ,b ", "a ,b "},  // the trailing blank stays
                                 {"x\tHi", "Hi"},
                                 {"x \t \r\n\x01Hi", "Hi"},
                                 {R"(C:\Tools\notice.exe "Hello, World")", R"("Hello, World")"},
                                 {"x\"y\" Hi", "Hi"},  // a quote inside an unquoted name is just a byte
                                 // A line that starts blank has an empty program name.
                                 {" Hi,There", "Hi,There"},
                                 {"\tHi", "Hi"},
                             });
}

TEST(GetCommandTail, QuotedProgramNameRunsToTheClosingQuote) {
    ExpectTails(kSingleByte, {
                                 {R"("C:\Tools\x.exe"   Disk full,Setup)", "Disk full,Setup"},
                                 {R"("C:\My Tools\x.exe" a)", "a"},
                                 {R"("x"Hi)", "Hi"},
                                 {R"("x""Hi")", R"("Hi")"},  // only the name's own quotes are removed
                                 {R"("" Hi)", "Hi"},
                                 {R"(")", ""},
                                 {R"("x Hi,There)", ""},  // no closing quote: all of it is the name
                                 {R"("x"  )", ""},
                             });
}

TEST(GetCommandTail, LeadBytesTakeTheirTrailByteAlong) {
    // 0x81 0x22 is one character in code page 932; its trail byte is no quote.
    ExpectTails(kCodePage932, {
                                  {"\"x\x81\" Hi", ""},
                                  {"\"x\x81\"\" Hi", "Hi"},
                                  {"\"\xE0\" \" Hi", "Hi"},   // 0xE0 takes the blank; the next quote closes
                                  {"\"\xFC\"\xFC\"\" Hi", "Hi"},
                                  {"\"\x80\" Hi", "Hi"},  // 0x80 and 0xA0 are outside the ranges
                                  {"\"\xA0\" Hi", "Hi"},
                                  // A lead byte right before the end takes nothing along.
                                  {"\"x\x81", ""},
                                  // Lead bytes matter only inside a quoted name.
                                  {"x\x81 Hi", "Hi"},
                              });
    ExpectTails(kSingleByte, {
                                 {"\"x\x81\" Hi", "Hi"},
                             });
}

TEST(GetCommandTail, ReadsLeadByteRangesAsThePlatformReportsThem) {
    // Six ranges fill the array with no terminating pair; the last one still counts.
    const LEAD_BYTE_RANGES full = {0x81, 0x81, 0x83, 0x83, 0x85, 0x85, 0x87, 0x87, 0x89, 0x89, 0xFE, 0xFE};
    ExpectTails(full, {{"\"\xFE\" Hi", ""}, {"\"\x82\" Hi", "Hi"}, {"\"\x89\" Hi", ""}});
    // Ranges after a zero pair are not read.
    const LEAD_BYTE_RANGES stopped = {0x81, 0x81, 0, 0, 0xE0, 0xFC};
    ExpectTails(stopped, {{"\"\xE0\" Hi", "Hi"}, {"\"\x81\" Hi", ""}});
}

#ifdef _WIN32
// The ranges in the tables are the ones Windows itself reports, and rows cut
// with the system's own ranges agree with them.
TEST(GetCommandTail, TakesLeadBytesAsTheSystemReportsThem) {
    CPINFO shiftJis = {};
    ASSERT_TRUE(GetCPInfo(932, &shiftJis));
    EXPECT_EQ(0, std::memcmp(shiftJis.LeadByte, kCodePage932, sizeof kCodePage932));
    ExpectTails(shiftJis.LeadByte, {{"\"x\x81\" Hi", ""}, {"\"x\x81\"\" Hi", "Hi"}});

    CPINFO western = {};
    ASSERT_TRUE(GetCPInfo(1252, &western));
    EXPECT_EQ(0, std::memcmp(western.LeadByte, kSingleByte, sizeof kSingleByte));
    ExpectTails(western.LeadByte, {{"\"x\x81\" Hi", "Hi"}});
}
#endif  // _WIN32

}  // namespace
