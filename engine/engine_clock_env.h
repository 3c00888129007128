#pragma once

#include "station_engine.h"

namespace mirv {

// The engine's clock as the program's environment gives it: MIRV_TEST_MINUTE_MS, when set to a
// whole number from 50 to 60000, makes every minute of the record and hour timers that long,
// so that the tests of the built programs see a logging pass without waiting a minute. Unset
// (as at a plant), a minute is a minute.
EngineClock engineClockFromEnvironment();

} // namespace mirv
