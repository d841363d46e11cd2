#include "app/station_state.h"

StationState &station()
{
    // Never destroyed: the process ends through the exit clean-up, not static destructors.
    static StationState *state = new StationState;
    return *state;
}
