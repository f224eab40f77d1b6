// What notice.exe wrote to the event log, read back under Wine. Win32 only.
//
// Wine keeps no event log. Its ReportEventW prints each string of an error
// event to the debug channel "eventlog", and its stubs print their arguments
// to "advapi". Every Wine process writes its channels to the standard error
// that it inherited, which is the test program's own; wine/run sends that
// to the file that NOTICE_WINE_STDERR names. One run of notice.exe that
// writes its event shows there as (thread id, then channel):
//   00ec:trace:loaddll:build_module Loaded L"Z:\\...\\notice.exe" at 00400000: native
//   00ec:fixme:advapi:RegisterEventSourceW (L"",L"notice"): stub
//   00ec:fixme:advapi:ReportEventW (CAFE4242,0x0001,0x0000,0x00000001,00000000,0x0003,...): stub
//   00ec:err:eventlog:ReportEventW L"Setup"
// The loaddll line shows that the channels reach the file at all, so that
// a run without an event line proves something.
#ifndef NOTICE_E2E_EVENT_CHANNEL_H
#define NOTICE_E2E_EVENT_CHANNEL_H

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

// One event as the channels show it. Its source and strings are spelt as
// Wine spells them, and Wine cuts a string off after some 290 characters.
struct LoggedEvent {
    std::string source;
    unsigned type = 0;
    unsigned category = 0;
    unsigned id = 0;
    std::vector<std::string> strings;
};
bool operator==(const LoggedEvent& a, const LoggedEvent& b);
std::ostream& operator<<(std::ostream& out, const LoggedEvent& event);

// The event that notice.exe writes for a notice that no box showed, its
// caption and text spelt as Wine spells them. Wine escapes quotes,
// backslashes, line breaks and tabs with a backslash, and spells every other
// character outside printable ASCII as a backslash and four hex digits of
// UTF-16: "caf\xE9\n" in code page 1252 is L"caf\00e9\n".
LoggedEvent UnshownNoticeEvent(const char* pszHeadline, const char* pszCaptionSpelt,
                               const char* pszTextSpelt);

// What the channels showed since the channel was opened.
struct ChannelView {
    int noticeStarts = 0;  // runs of notice.exe
    std::vector<LoggedEvent> events;
};

class EventChannel {
   public:
    // Turns the channels on for every process started from here on.
    EventChannel();
    ~EventChannel();
    EventChannel(const EventChannel&) = delete;
    EventChannel& operator=(const EventChannel&) = delete;

    // Why the channels cannot be read, or empty.
    const std::string& Problem() const {
        return problem_;
    }
    ChannelView Read() const;

   private:
    std::string path_;
    std::streamoff start_ = 0;
    std::string problem_;
    std::string previousDebug_;
};

#endif  // NOTICE_E2E_EVENT_CHANNEL_H
