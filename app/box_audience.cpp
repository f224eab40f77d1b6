// The rule for a box that nobody can see.
#include "app/box_audience.h"

bool NoUserCanSeeBox(const BOX_AUDIENCE_FACTS& facts) {
    const bool hiddenStation = facts.stationVisible == ANSWER::NO;
    const bool isolatedSession = facts.sessionZero == ANSWER::YES && facts.vistaOrLater == ANSWER::YES;
    return hiddenStation || isolatedSession;
}
