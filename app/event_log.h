// Keeps a notice that no box showed: it goes to the Application event log,
// where an administrator looks for what happened on a machine nobody watched.
#ifndef NOTICE_APP_EVENT_LOG_H
#define NOTICE_APP_EVENT_LOG_H

#include "notice/notice.h"

// Nobody registers this source, so Windows keeps the event's strings but has
// no description for its id: the strings alone must tell the whole story.
inline constexpr char NOTICE_EVENT_SOURCE[] = "notice";
constexpr unsigned long NOTICE_EVENT_ID = 1;

// Why no box was shown; the event's first string says it.
enum class UNSHOWN { NO_ONE_CAN_SEE, BOX_FAILED };

// Writes one error event whose strings are the reason, the caption and the
// text, in that order; the last two byte for byte, in the ANSI code page as a
// box would read them. A failure is ignored: the run ends the same way.
void LogUnshownNotice(const NOTICE& notice, UNSHOWN why);

#endif  // NOTICE_APP_EVENT_LOG_H
