// Test helper: the PAR and XDL writers run on a crafted file view (see
// qdesc_fixture.h) with the clock at 0. Whole excerpts of the output are
// kept with keep() and compared, when the test ends, with its golden file
// tests/data/qdesc/writer/<test>.txt.
#ifndef ISMGR_TESTS_SUPPORT_WRITER_FIXTURE_H_
#define ISMGR_TESTS_SUPPORT_WRITER_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>

#include "support/golden.h"
#include "support/qdesc_fixture.h"
#include "tool/par_writer.h"
#include "tool/xdl_writer.h"

namespace ismgr::tool::testing {

inline const char kEpoch[] = "Thu Jan 01 00:00:00 1970\n";
inline const std::string kParBanner = std::string(";\tCorveth ISAM PAR File created ") + kEpoch;
inline const std::string kXdlBanner = std::string("!\tCorveth ISAM XDL File created ") + kEpoch;

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.clock = [] { return int64_t{0}; };
  }
  void TearDown() override {
    if (kept.empty()) return;
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EXPECT_TRUE(ismgr::test::matches_golden("qdesc/writer/" + name + ".txt", kept));
  }
  void keep(const std::string& excerpt) { kept += excerpt + "--\n"; }
  std::string par(const std::string& name = "cust") {
    sink.clear();
    result = write_par_description(ctx, f, io, name, sink);
    return sink.text();
  }
  std::string xdl(const std::string& name = "cust") {
    sink.clear();
    write_xdl_description(ctx, f, io, name, sink);
    return sink.text();
  }
  void bare() {
    ctx.options.bare = true;
    ctx.output.set_bare(true);
  }
  // The text between the first line that begins with `from` and the first
  // later line that begins with `to` (or the end).
  static std::string part(const std::string& text, const std::string& from,
                          const std::string& to = "") {
    size_t a = text.rfind(from, 0) == 0 ? 0 : text.find("\n" + from);
    if (a == std::string::npos) return "<no " + from + ">";
    if (a != 0) ++a;
    size_t b = to.empty() ? std::string::npos : text.find("\n" + to, a + 1);
    return text.substr(a, b == std::string::npos ? std::string::npos : b + 1 - a);
  }
  static bool has(const std::string& text, const std::string& piece) {
    return text.find(piece) != std::string::npos;
  }
  DescribeContext ctx;
  FileView f = basic_file();
  MemoryIo io;
  StringSink sink;
  int result = 0;
  std::string kept;
};

}  // namespace ismgr::tool::testing

#endif  // ISMGR_TESTS_SUPPORT_WRITER_FIXTURE_H_
