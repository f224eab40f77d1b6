// The boxes of notice.exe: each row starts the real program with an exact
// command line, reads its box back, dismisses it and checks the exit.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_support.h"
#include "e2e/event_channel.h"
#include "notice/notice.h"

namespace {

TEST(NoticeBox, ShowsTheBuiltInNoticeForAnEmptyTail) {
    RunRows({
        {"notice.exe", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},
        {"notice.exe   ", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},
    });
}

TEST(NoticeBox, CutsTheProgramNameOffAsWritten) {
    RunRows({
        {R"("C:\Program Files\Tools\x.exe"   Disk full,Setup)", "Disk full", "Setup"},
        {R"("x"Hi)", "Hi", DEFAULT_NOTICE_CAPTION},
        {R"("x Hi,There)", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},  // unclosed quote
        {"x\tHi,There", "Hi", "There"},
        {"x a ,b ", "a ", "b "},
        {R"(x "Hello, World")", "\"Hello", " World\""},
    });
}

// Words, so that the box wraps them and stays on the screen: 3060 bytes.
std::string LongText() {
    std::string text;
    for (int i = 0; i < 340; ++i) {
        text += "overlong ";
    }
    return text;
}

TEST(NoticeBox, TranslatesEscapesAndSplitsAtTheFirstComma) {
    const std::string longText = LongText();
    RunRows({
        {R"(x Cannot continue\nSee setup.log,Setup)", "Cannot continue\nSee setup.log", "Setup"},
        {R"(x C:\\Temp\\a\,b,\\share\x)", R"(C:\Temp\a,b)", R"(\sharex)"},
        {"x " + longText + ",Setup", longText.substr(0, NOTICE_TEXT_SIZE - 1), "Setup"},
    });
}

// A box that was shown leaves nothing in the event log, whichever button
// result it gave.
TEST(NoticeBox, EndsWithStatusZeroAndLogsNothingHoweverItIsDismissed) {
    const EventChannel channel;
    ASSERT_EQ(channel.Problem(), "");
    RunRows({
        {"x OK,Button", "OK", "Button", Dismissal::OkButton},
        {"x Escape,Key", "Escape", "Key", Dismissal::EscapeKey},
        {"x Close,Command", "Close", "Command", Dismissal::CloseCommand},
    });
    const ChannelView view = channel.Read();
    ASSERT_EQ(view.noticeStarts, 3) << "the channels do not show every run of notice.exe";
    EXPECT_EQ(view.events, std::vector<LoggedEvent>{});
}

// The signature that a release carries, attached to the program, changes
// nothing of what it does.
TEST(NoticeBox, ShowsTheSameBoxWhenSigned) {
    RunRows({{"notice.exe Signed,Release", "Signed", "Release"}}, ProgramFolder() + "signed\\notice.exe");
}

// The quote after 0x81 belongs to a double-byte character exactly when the
// system says 0x81 is a lead byte; the program must follow the system. Each
// code page's cases run only where the test run's flag vouches for it.
TEST(CodePage1252, TakesNoByteForALeadByte) {
    RunRows({
        {"\"x\x81\" Hi", "Hi", DEFAULT_NOTICE_CAPTION},
        {"\"x\x81\"\" Hi", "\" Hi", DEFAULT_NOTICE_CAPTION},
    });
}

TEST(CodePage932, TakesTheByteAfterALeadByteAlong) {
    RunRows({
        {"\"x\x81\" Hi", DEFAULT_NOTICE_TEXT, DEFAULT_NOTICE_CAPTION},
        {"\"x\x81\"\" Hi", "Hi", DEFAULT_NOTICE_CAPTION},
        // A folder named in katakana, and a caption in katakana: tesuto.
        {"\"C:\\\x83\x63\x81\x5B\x83\x8B\\x.exe\" Hi,\x83\x65\x83\x58\x83\x67", "Hi",
         "\x83\x65\x83\x58\x83\x67"},
    });
}

// scripts/run joins its arguments by single blanks and hands them over as
// Windows hands a Unicode caller's text to notice.exe: in the ANSI code
// page, a character that the code page lacks as its best fit, or as ? where
// it has none. The build had scripts/run's tail-file write the arguments
// "Setup" "—" "Ü" "Ω" "✓,Ü".
TEST(CodePage1252, LauncherPassesUnicodeAsWindowsWould) {
    const std::string launcher = ProgramFolder() + "notice_launch.exe";
    const ProgramRun caller(launcher, "notice_launch.exe \"" + ProgramFolder() + "launch-tail.txt\"");
    ExpectCallerShowsBox(caller, {launcher, "Setup \x97 \xDC O ?", "\xDC"});
}

}  // namespace
