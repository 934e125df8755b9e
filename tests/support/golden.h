// Test helper: compares a whole output with a golden file under tests/data/.
//
// Golden files hold long expected texts (whole descriptions, audit logs).
// They are written by hand from the rules, never by a test: on a mismatch
// the actual output is written beside the golden file as <name>.actual for
// diffing, and the check fails.
//
//   EXPECT_TRUE(matches_golden("qdesc/customer.par", text));
#ifndef ISMGR_TESTS_SUPPORT_GOLDEN_H_
#define ISMGR_TESTS_SUPPORT_GOLDEN_H_

#include <gtest/gtest.h>

#include <string>

namespace ismgr::test {

// `name` is relative to tests/data/. A missing golden file is a failure.
::testing::AssertionResult matches_golden(const std::string& name, const std::string& actual);

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_GOLDEN_H_
