// The environment every test relies on, set before any test runs so that the
// program behaves alike started by ctest or by hand: times in UTC, and a file
// another process holds is not waited for.
#include <cstdlib>
#include <ctime>

namespace {

const bool kSuiteEnvironment =
    setenv("TZ", "UTC", 1) == 0 && setenv("RETRYTIME", "0", 1) == 0 && (tzset(), true);

}  // namespace
