// The install step puts the commands, their manual pages, the library and
// its public headers in the usual places below the prefix. Installed here
// into a scratch folder (DESTDIR), never into the system.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_command.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

namespace fs = std::filesystem;

TEST(Install, CommandsPagesLibraryAndPublicHeaders) {
  test::ScratchDir dir;
  const std::string root = dir.file("root");
  auto r = test::run_command(dir.path().string(), "DESTDIR='" + root + "' cmake --install '" +
                                                      std::string(ISMGR_BIN_DIR) +
                                                      "' --prefix /usr/local");
  ASSERT_EQ(r.exit_status, 0) << r.out << r.err;
  const fs::path prefix = fs::path(root) / "usr/local";
  for (const char* file :
       {"bin/qdesc", "bin/qcreate", "share/man/man1/qdesc.1", "share/man/man1/qcreate.1",
        "include/ismgr/runtime/context.h", "include/ismgr/runtime/channel.h",
        "include/ismgr/platform/platform.h", "include/ismgr/isam/isam_format.h"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
  }
  const auto perms = fs::status(prefix / "bin/qdesc").permissions();
  EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
  // The library lands in the library folder of the platform (lib, or a
  // multiarch folder below it); the layers' internal headers stay behind.
  bool library = false;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name == "libismgr.a")
      library = e.path().parent_path().string().find("/lib") != std::string::npos;
    EXPECT_EQ(name.find("internal"), std::string::npos) << e.path();
    EXPECT_NE(name, "ismgr_tests") << e.path();
  }
  EXPECT_TRUE(library);
}

}  // namespace
}  // namespace ismgr
