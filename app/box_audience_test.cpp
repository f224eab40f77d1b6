// Behaviour of NoUserCanSeeBox: only a sure answer keeps the box from showing.
#include "app/box_audience.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr ANSWER U = ANSWER::UNKNOWN;
constexpr ANSWER N = ANSWER::NO;
constexpr ANSWER Y = ANSWER::YES;

const char* Name(ANSWER answer) {
    return answer == Y ? "yes" : answer == N ? "no" : "unknown";
}

TEST(NoUserCanSeeBox, SkipsTheBoxOnlyOnASureAnswer) {
    struct Row {
        BOX_AUDIENCE_FACTS facts;
        bool noUser;
    };
    const Row rows[] = {
        // {station visible, session 0, Vista or later}
        {{Y, N, Y}, false},  // a user's desktop
        {{Y, U, U}, false},  // a user's desktop; session and version unknown
        {{U, U, U}, false},  // nothing known: show the box as always
        {{N, N, Y}, true},   // a service's children: a window station that is never shown
        {{N, U, U}, true},   //   ... whatever else is unknown
        {{N, Y, N}, true},   //   ... on Windows XP too
        {{Y, Y, Y}, true},   // session 0 from Windows Vista on: no user logs on there
        {{U, Y, Y}, true},   //   ... whatever the window station says
        {{Y, Y, N}, false},  // session 0 on Windows XP is the console user's
        {{Y, Y, U}, false},  // session 0 on an unknown Windows
        {{U, U, Y}, false},  // session unknown
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("station visible ") + Name(row.facts.stationVisible) + ", session 0 " +
                     Name(row.facts.sessionZero) + ", Vista or later " + Name(row.facts.vistaOrLater));
        EXPECT_EQ(NoUserCanSeeBox(row.facts), row.noUser);
    }
}

}  // namespace
