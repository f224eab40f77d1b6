// Keeps a notice that no box showed: it goes to the Application event log,
// where an administrator looks for what happened on a machine nobody watched.
#ifndef NOTICE_APP_EVENT_LOG_H
#define NOTICE_APP_EVENT_LOG_H

#include "notice/notice.h"

// Nobody registers this source, so Windows keeps the event's strings but has
// no description for its id: the strings alone must tell the whole story.
// (Pointers to literals, not arrays: GCC aligns a long array to 32 bytes on
// x86-64, and the padding cost the x64 build a page.)
inline constexpr const char* NOTICE_EVENT_SOURCE = "notice";
constexpr unsigned long NOTICE_EVENT_ID = 1;

// Why no box was shown; the event's first string says it, in these words.
enum class UNSHOWN { NO_ONE_CAN_SEE, BOX_FAILED };
inline constexpr const char* NOTICE_EVENT_NO_ONE_CAN_SEE =
    "notice.exe did not show this notice: no user could see a box where it ran. Its caption and text follow.";
inline constexpr const char* NOTICE_EVENT_BOX_FAILED =
    "notice.exe did not show this notice: Windows could not show its box. Its caption and text follow.";

// Writes one error event whose strings are the reason, the caption and the
// text, in that order; the last two byte for byte, in the ANSI code page as a
// box would read them. A failure is ignored: the run ends the same way.
void LogUnshownNotice(const NOTICE& notice, UNSHOWN why);

#endif  // NOTICE_APP_EVENT_LOG_H
