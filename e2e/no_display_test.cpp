// Without a display no box can be made at all: notice.exe must still end
// promptly with status 0, and leave its notice in the event log. Run with no
// DISPLAY; each code page's case runs only where the run's flag vouches for it.
#include <gtest/gtest.h>

#include "app/event_log.h"
#include "e2e/e2e_support.h"
#include "e2e/event_channel.h"

namespace {

// Katakana "tesuto" in code page 932; in code page 1252 the same bytes are
// other characters. Either way the log must hold what the box would show.
constexpr char TESUTO[] = "\x83\x65\x83\x58\x83\x67";

void ExpectLoggedWithTextSpelt(const char* pszTextSpelt) {
    const EventChannel channel;
    ASSERT_EQ(channel.Problem(), "");
    ProgramRun process(NoticeProgramPath(), std::string("notice.exe ") + TESUTO + ",Setup");
    ASSERT_TRUE(process.Started());
    DWORD exitCode = 1;
    ASSERT_TRUE(process.WaitForExit(EXIT_TIMEOUT_MS, &exitCode)) << "waited for a box nobody can see";
    EXPECT_EQ(exitCode, 0u);

    const ChannelView view = channel.Read();
    ASSERT_EQ(view.noticeStarts, 1) << "the channels do not show the run of notice.exe";
    const LoggedEvent expected = UnshownNoticeEvent(NOTICE_EVENT_BOX_FAILED, R"(L"Setup")", pszTextSpelt);
    EXPECT_EQ(view.events, std::vector<LoggedEvent>{expected});
}

TEST(CodePage1252, EndsPromptlyWithStatusZeroAndLogsTheNotice) {
    ExpectLoggedWithTextSpelt(R"(L"\0192e\0192X\0192g")");  // "f" with a hook, then e, X, g
}

TEST(CodePage932, EndsPromptlyWithStatusZeroAndLogsTheNotice) {
    ExpectLoggedWithTextSpelt(R"(L"\30c6\30b9\30c8")");
}

}  // namespace
