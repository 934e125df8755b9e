// The installed package as a host program meets it: tests/install/
// host_example.sh installs the build into a scratch prefix, checks what lands
// there (commands, manual pages, library, the one public header, the CMake
// package and ismgr.pc), builds examples/host against it with CMake and with
// pkg-config and cc, and runs both on the bundled example files. Their output
// is the golden file's.
#include <gtest/gtest.h>

#include "support/golden.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

TEST(Install, HostExampleBuildsAgainstTheInstalledPackage) {
#if defined(ISMGR_SANITIZED)
  GTEST_SKIP() << "an instrumented library needs the sanitizer runtime in every host";
#elif defined(_WIN32)
  GTEST_SKIP() << "the install script is a POSIX shell script";
#endif
  test::ScratchDir dir;
  const std::string script = std::string(ISMGR_SOURCE_DIR) + "/tests/install/host_example.sh";
  auto r = test::run_command(dir.path().string(), "sh " + test::shell_quote(script) + " " +
                                                      test::shell_quote(ISMGR_BIN_DIR) + " " +
                                                      test::shell_quote(ISMGR_SOURCE_DIR) + " " +
                                                      test::shell_quote(dir.path().string()) + " " +
                                                      test::shell_quote(ISMGR_CMAKE_GENERATOR));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(test::matches_golden("host/examples.txt", r.out));
}

}  // namespace
}  // namespace ismgr
