// Reads the event that notice.exe wrote back from Wine's debug channels.
#include "e2e/event_channel.h"

#include <cstdlib>
#include <fstream>

#include "app/event_log.h"

namespace {

constexpr char CHANNELS[] = "-all,trace+loaddll,fixme+advapi,err+eventlog";
constexpr char LOADED[] = "trace:loaddll:build_module Loaded L\"";
constexpr char NOTICE_LOADED[] = "\\\\notice.exe\" at ";  // the path's backslashes spelt doubled
// The A calls end in the W ones, so these lines show either.
constexpr char REGISTER[] = "fixme:advapi:RegisterEventSourceW (";
constexpr char REGISTER_END[] = "): stub";
constexpr char REPORT[] = "fixme:advapi:ReportEventW (";
constexpr char STRING[] = "err:eventlog:ReportEventW ";

bool StartsWith(const std::string& text, const char* pszPrefix) {
    return text.rfind(pszPrefix, 0) == 0;
}

std::string After(const std::string& text, const char* pszPrefix) {
    return text.substr(std::char_traits<char>::length(pszPrefix));
}

std::string EnvironmentVariable(const char* pszName) {
    const DWORD cch = GetEnvironmentVariableA(pszName, nullptr, 0);
    if (cch == 0) {
        return "";
    }
    std::string value(cch, '\0');
    value.resize(GetEnvironmentVariableA(pszName, value.data(), cch));
    return value;
}

// The source that RegisterEventSourceW was given, as Wine spells it:
//   (L"",L"notice"): stub -> L"notice"
std::string RegisteredSource(const std::string& arguments) {
    const std::string serverAndSource = arguments.substr(0, arguments.rfind(REGISTER_END));
    return serverAndSource.substr(serverAndSource.rfind(',') + 1);
}

// The arguments of ReportEventW that say what kind of event it is: the
// three after the handle.
//   (CAFE4242,0x0001,0x0000,0x00000001,00000000,0x0003,...): stub
LoggedEvent ReportedEvent(const std::string& arguments, const std::string& source) {
    LoggedEvent event;
    event.source = source;
    std::size_t comma = arguments.find(',');
    for (unsigned* pField : {&event.type, &event.category, &event.id}) {
        if (comma == std::string::npos) {
            event.source = "(unreadable: " + arguments + ")";
            break;
        }
        *pField = static_cast<unsigned>(std::strtoul(arguments.c_str() + comma + 1, nullptr, 16));
        comma = arguments.find(',', comma + 1);
    }
    return event;
}

// One channel line, its thread id cut off, added to what the view holds.
void AddLine(const std::string& line, std::string* pSource, ChannelView* pView) {
    if (StartsWith(line, LOADED) && line.find(NOTICE_LOADED) != std::string::npos) {
        ++pView->noticeStarts;
    } else if (StartsWith(line, REGISTER)) {
        *pSource = RegisteredSource(After(line, REGISTER));
    } else if (StartsWith(line, REPORT)) {
        pView->events.push_back(ReportedEvent(After(line, REPORT), *pSource));
    } else if (StartsWith(line, STRING)) {
        if (pView->events.empty()) {
            pView->events.push_back({"(no ReportEventW)", 0, 0, 0, {}});
        }
        pView->events.back().strings.push_back(After(line, STRING));
    }
}

}  // namespace

bool operator==(const LoggedEvent& a, const LoggedEvent& b) {
    return a.source == b.source && a.type == b.type && a.category == b.category && a.id == b.id &&
           a.strings == b.strings;
}

std::ostream& operator<<(std::ostream& out, const LoggedEvent& event) {
    out << "source " << event.source << ", type " << event.type << ", category " << event.category << ", id "
        << event.id << ", strings {";
    for (const std::string& spelt : event.strings) {
        out << "\n    " << spelt;
    }
    return out << "}";
}

LoggedEvent UnshownNoticeEvent(const char* pszHeadline, const char* pszCaptionSpelt,
                               const char* pszTextSpelt) {
    // The source and the headline are plain ASCII, which Wine spells as it is.
    const auto plain = [](const char* pszAscii) { return std::string("L\"") + pszAscii + "\""; };
    return {plain(NOTICE_EVENT_SOURCE),
            EVENTLOG_ERROR_TYPE,
            0,
            NOTICE_EVENT_ID,
            {plain(pszHeadline), pszCaptionSpelt, pszTextSpelt}};
}

EventChannel::EventChannel() : previousDebug_(EnvironmentVariable("WINEDEBUG")) {
    const std::string unixPath = EnvironmentVariable("NOTICE_WINE_STDERR");
    if (unixPath.empty()) {
        problem_ = "NOTICE_WINE_STDERR names no file: run the test through ctest";
        return;
    }
    path_ = "Z:" + unixPath;  // Wine's drive for the Unix root
    std::ifstream file(path_, std::ios::binary | std::ios::ate);
    if (!file) {
        problem_ = "cannot read " + path_;
        return;
    }
    start_ = file.tellg();
    SetEnvironmentVariableA("WINEDEBUG", CHANNELS);
}

EventChannel::~EventChannel() {
    SetEnvironmentVariableA("WINEDEBUG", previousDebug_.empty() ? nullptr : previousDebug_.c_str());
}

ChannelView EventChannel::Read() const {
    ChannelView view;
    std::ifstream file(path_, std::ios::binary);
    file.seekg(start_);
    std::string source;
    for (std::string line; std::getline(file, line);) {
        const std::size_t threadEnd = line.find(':');
        if (threadEnd != std::string::npos) {
            AddLine(line.substr(threadEnd + 1), &source, &view);
        }
    }
    return view;
}
