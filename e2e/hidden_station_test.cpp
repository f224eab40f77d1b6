// On a window station that is never shown, as a service's children get, no
// user could ever see a box: notice.exe must end at once with status 0, and
// leave its notice in the event log.
#include <gtest/gtest.h>

#include "app/event_log.h"
#include "e2e/e2e_support.h"
#include "e2e/event_channel.h"

namespace {

constexpr DWORD UNSEEN_EXIT_TIMEOUT_MS = 10000;

// A window station of its own that is never shown, like the one that a
// service's children get, with a desktop in it.
class HiddenDesktop {
   public:
    static constexpr const char* NAME = "notice-hidden\\desktop";

    HiddenDesktop() : station_(CreateWindowStationA("notice-hidden", 0, WINSTA_ALL_ACCESS, nullptr)) {
        // A desktop is made in the window station of the process that makes it.
        const HWINSTA own = GetProcessWindowStation();
        if (station_ != nullptr && SetProcessWindowStation(station_)) {
            desktop_ = CreateDesktopA("desktop", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
            SetProcessWindowStation(own);
        }
    }
    ~HiddenDesktop() {
        if (desktop_ != nullptr) {
            CloseDesktop(desktop_);
        }
        if (station_ != nullptr) {
            CloseWindowStation(station_);
        }
    }
    HiddenDesktop(const HiddenDesktop&) = delete;
    HiddenDesktop& operator=(const HiddenDesktop&) = delete;

    bool Made() const {
        return desktop_ != nullptr;
    }

   private:
    HWINSTA station_;
    HDESK desktop_ = nullptr;
};

// Run with a display, so that a box could be made and would be found.
TEST(HiddenWindowStation, EndsAtOnceWithStatusZeroAndLogsTheNotice) {
    const HiddenDesktop hidden;
    ASSERT_TRUE(hidden.Made()) << "cannot make a hidden desktop, error " << GetLastError();
    const EventChannel channel;
    ASSERT_EQ(channel.Problem(), "");
    ProgramRun process(NoticeProgramPath(), R"(notice.exe Cannot continue\nSee "setup.log",Setup)",
                       HiddenDesktop::NAME);
    ASSERT_TRUE(process.Started()) << "error " << GetLastError();
    EXPECT_EQ(WaitForBox(process, UNSEEN_EXIT_TIMEOUT_MS), nullptr)
        << "a box appeared on the visible desktop";
    DWORD exitCode = 1;
    ASSERT_TRUE(process.WaitForExit(0, &exitCode)) << "waited for a box nobody can see";
    EXPECT_EQ(exitCode, 0u);

    const ChannelView view = channel.Read();
    ASSERT_EQ(view.noticeStarts, 1) << "the channels do not show the run of notice.exe";
    const LoggedEvent expected = UnshownNoticeEvent(NOTICE_EVENT_NO_ONE_CAN_SEE, R"(L"Setup")",
                                                    R"(L"Cannot continue\nSee \"setup.log\"")");
    EXPECT_EQ(view.events, std::vector<LoggedEvent>{expected});
}

}  // namespace
