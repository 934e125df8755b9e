#include "support/golden.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace ismgr::test {

::testing::AssertionResult matches_golden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(ISMGR_SOURCE_DIR) + "/tests/data/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ::testing::AssertionFailure() << "no golden file " << path;
  std::ostringstream expected;
  expected << in.rdbuf();
  if (expected.str() == actual) return ::testing::AssertionSuccess();
  std::ofstream(path + ".actual", std::ios::binary) << actual;
  // Name the first differing line so the failure says where to look.
  const std::string& want = expected.str();
  size_t at = 0;
  while (at < want.size() && at < actual.size() && want[at] == actual[at]) ++at;
  const size_t line = 1 + std::count(want.begin(), want.begin() + at, '\n');
  return ::testing::AssertionFailure()
         << name << " differs from line " << line << "; actual output in " << path << ".actual";
}

}  // namespace ismgr::test
