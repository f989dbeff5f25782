#include "tests/core/time_zone.h"

#include <cstdlib>
#include <ctime>

namespace kelvor::testing {

// The C runtime takes a zone name, its offset and a summer-time name; the summer time then
// follows the runtime's own rules, which agree with Europe's on the days the tests use.
void useCentralEuropeanTime() {
  _putenv_s("TZ", "CET-1CEST");
  _tzset();
}

}  // namespace kelvor::testing
