#include "tests/core/time_zone.h"

#include <cstdlib>
#include <ctime>

namespace kelvor::testing {

// Written out with its rules, so that no time zone data is needed.
void useCentralEuropeanTime() {
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
}

}  // namespace kelvor::testing
