#include "ismgr/runtime/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "ismgr/platform/platform.h"

namespace ismgr {
namespace {

TEST(StatusMessages, TextsAreStoredExactly) {
  EXPECT_STREQ(status_message(1), "Bad ISAM file control");
  EXPECT_STREQ(status_message(24), "Input size exceeds destination size\t");
  EXPECT_STREQ(status_message(31), "Insufficient memory for attempted op\t");
  EXPECT_STREQ(status_message(49), "Too many open files ");
  EXPECT_STREQ(status_message(146), "File access is restricted to readonly");
}

TEST(StatusMessages, CodesWithoutRowHaveNoMessage) {
  for (int code : {0, 46, 69, 84, 85, 94, 99, 129, 134, 139, 147, 200, -1}) {
    EXPECT_EQ(status_message(code), nullptr) << code;
  }
}

TEST(StatusMessages, ExceptionCarriesCode) {
  try {
    raise_status(43);
    FAIL();
  } catch (const StatusError& e) {
    EXPECT_EQ(e.code(), 43);
    EXPECT_STREQ(e.what(), "Encountered incompatible ISAM file");
  }
}

TEST(RefineOpenStatus, ByErrnoAndOsError) {
  namespace p = platform;
  EXPECT_EQ(refine_open_status(20, ENOENT, p::kErrPathNotFound), 58);
  EXPECT_EQ(refine_open_status(20, ENOENT, p::kErrInvalidName), 58);
  EXPECT_EQ(refine_open_status(19, ENOENT, p::kErrBadUnit), 104);
  EXPECT_EQ(refine_open_status(57, ENOENT, p::kErrFileNotFound), 57);
  EXPECT_EQ(refine_open_status(30, EINVAL, 0), 58);
  EXPECT_EQ(refine_open_status(20, ENOMEM, 0), 31);
  EXPECT_EQ(refine_open_status(20, EACCES, p::kErrSharingViolation), 47);
  EXPECT_EQ(refine_open_status(20, EACCES, p::kErrAccessDenied), 55);
  EXPECT_EQ(refine_open_status(20, EMFILE, 0), 49);
  EXPECT_EQ(refine_open_status(30, ENOSPC, 0), 16);
  EXPECT_EQ(refine_open_status(30, EFBIG, 0), 16);
  EXPECT_EQ(refine_open_status(20, -2, 0), 47);
  EXPECT_EQ(refine_open_status(20, EEXIST, 0), 20);
}

TEST(RefineOpenStatus, LeavesOtherCodesAlone) {
  EXPECT_EQ(refine_open_status(17, ENOENT, 2), 17);
  EXPECT_EQ(refine_open_status(43, EACCES, 32), 43);
}

}  // namespace
}  // namespace ismgr
