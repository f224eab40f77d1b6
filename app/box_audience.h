// Decides whether anyone could see the notice box, from what the platform
// says about where the process runs. Portable: the answers come in as data.
#ifndef NOTICE_APP_BOX_AUDIENCE_H
#define NOTICE_APP_BOX_AUDIENCE_H

// One answer of the platform; UNKNOWN where its query failed.
enum class ANSWER { UNKNOWN, NO, YES };

struct BOX_AUDIENCE_FACTS {
    ANSWER stationVisible;  // the process's window station has WSF_VISIBLE
    ANSWER sessionZero;     // the process runs in session 0
    ANSWER vistaOrLater;    // Windows 6.0 or later, where no user logs on to session 0
};

// True only when the facts say for sure that no user can ever see a box:
// a window station that cannot be shown (a service's children get one), or
// session 0 from Windows Vista on. Then a box would wait for a click that
// never comes and hang the installer waiting on us. On Windows XP session 0
// is the console user's, and any unknown answer leaves the box to be shown.
bool NoUserCanSeeBox(const BOX_AUDIENCE_FACTS& facts);

#endif  // NOTICE_APP_BOX_AUDIENCE_H
