// The environment every test relies on, set before any test runs, so that
// the test program behaves the same started by ctest or by hand: times are
// shown in UTC and a file another process holds is not waited for.
#include <cstdlib>
#include <ctime>

namespace {

struct SuiteEnvironment {
  SuiteEnvironment() {
    setenv("TZ", "UTC", 1);
    setenv("RETRYTIME", "0", 1);
    tzset();
  }
};
const SuiteEnvironment kSuiteEnvironment;

}  // namespace
