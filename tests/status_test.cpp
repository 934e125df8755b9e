#include "ismgr/runtime/status.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "ismgr/platform/platform.h"

namespace ismgr {
namespace {

TEST(StatusMessages, TextsAreStoredExactly) {
  EXPECT_STREQ(status_message(1), "Bad ISAM file control");
  EXPECT_STREQ(status_message(12), "Illegal record size");
  EXPECT_STREQ(status_message(24), "Input size exceeds destination size\t");
  EXPECT_STREQ(status_message(49), "Too many open files ");
  EXPECT_STREQ(status_message(146), "File access is restricted to readonly");
  for (int code : {0, 46, 84, 85, 147, -1}) EXPECT_EQ(status_message(code), nullptr) << code;
  try {
    raise_status(43);
  } catch (const StatusError& e) {
    EXPECT_EQ(e.code(), 43);
    EXPECT_STREQ(e.what(), "Encountered incompatible ISAM file");
  }
}

TEST(RefineOpenStatus, ByErrnoAndOsError) {
  namespace p = platform;
  const int64_t rows[][4] = {// status, errno, OS error, refined status (other codes stay)
                             {20, ENOENT, p::kErrPathNotFound, 58},
                             {20, ENOENT, p::kErrInvalidName, 58},
                             {19, ENOENT, p::kErrBadUnit, 104},
                             {57, ENOENT, p::kErrFileNotFound, 57},
                             {30, EINVAL, 0, 58},
                             {20, ENOMEM, 0, 31},
                             {20, EACCES, p::kErrSharingViolation, 47},
                             {20, EACCES, p::kErrAccessDenied, 55},
                             {20, EMFILE, 0, 49},
                             {30, ENOSPC, 0, 16},
                             {30, EFBIG, 0, 16},
                             {20, -2, 0, 47},
                             {20, EEXIST, 0, 20},
                             {17, ENOENT, 2, 17},
                             {43, EACCES, 32, 43}};
  for (const auto& r : rows) {
    EXPECT_EQ(refine_open_status(int(r[0]), int(r[1]), uint32_t(r[2])), r[3]) << r[0] << r[1];
  }
}

}  // namespace
}  // namespace ismgr
