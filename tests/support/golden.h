// Test helper: compares a whole output with a golden file under tests/data/
// (a missing one is a failure). Golden files are written by hand from the
// rules, never by a test: on a mismatch the actual output is written beside
// the golden file as <name>.actual for diffing, and the check fails.
#ifndef ISMGR_TESTS_SUPPORT_GOLDEN_H_
#define ISMGR_TESTS_SUPPORT_GOLDEN_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace ismgr::test {

inline ::testing::AssertionResult matches_golden(const std::string& name,
                                                 const std::string& actual) {
  const std::string path = std::string(ISMGR_SOURCE_DIR) + "/tests/data/" + name;
  std::ifstream in(path, std::ios::binary);
  std::ostringstream expected;
  expected << in.rdbuf();
  if (!in) return ::testing::AssertionFailure() << "no golden file " << path;
  const std::string& want = expected.str();
  if (want == actual) return ::testing::AssertionSuccess();
  std::ofstream(path + ".actual", std::ios::binary) << actual;
  const auto at = std::mismatch(want.begin(), want.end(), actual.begin(), actual.end()).first;
  return ::testing::AssertionFailure()
         << name << " differs from line " << 1 + std::count(want.begin(), at, '\n')
         << "; actual output in " << path << ".actual";
}

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_GOLDEN_H_
