#include <gtest/gtest.h>

#include "tool/options.h"
#include "tool/report.h"

namespace ismgr::tool {
namespace {

// The options a command line sets, as letters: g x b c(hange tracking key)
// t(emporary index), then "|temporary name", then " > file file ...";
// "usage" when the usage line is due; then the notices. The golden runs
// give the usual lines.
std::string scanned(std::vector<const char*> args) {
  StringSink notices;
  const CommandLine l = scan_command_line(static_cast<int>(args.size()), args.data(), notices);
  const RunOptions& o = l.options;
  std::string s = std::string(o.generate ? "g" : "") + (o.xdl ? "x" : "") + (o.bare ? "b" : "") +
                  (o.change_tracking_key ? "c" : "") + (o.temp_key ? "t|" + o.temp_name : "") +
                  " >";
  for (const std::string& f : l.files) s += " " + f;
  return (l.usage ? "usage" : s) + notices.text();
}

TEST(OptionScan, Table) {
  const struct {
    std::vector<const char*> args;
    const char* expected;
  } rows[] = {
      {{"qdesc"}, "usage"},                // no file names
      {{"qdesc", "-q", "file"}, "usage"},  // unknown letters
      {{"qdesc", "-", "-"}, "usage"},
      {{"qdesc", "-Gx", "-B", "CUST.ISM"}, "gxb > CUST.ISM"},  // any case, combined
      {{"qdesc", "-c", "file"}, " > file"},                    // c needs t
      {{"qdesc", "-cx", "file"}, "x > file"},    // c alone goes on with the next letter
      {{"qdesc", "-ctb", "file"}, "bc > file"},  // the t consumed by c is no temporary index
      {{"qdesc", "-bttmp/k.tmp.x", "main"}, "bt|tmp/k.tmp.x > main"},  // the rest is the name
      {{"qdesc", "-t", "-x", "main"}, "x > mainInvalid use of option T\n"},
      {{"qdesc", "-", "a", "-x", "b"}, " > a -x b"},  // the first non-option starts the names
  };
  for (const auto& r : rows) EXPECT_EQ(scanned(r.args), r.expected) << r.args.back();
}

TEST(OutputNaming, ExtensionByFirstCharacterClass) {
  EXPECT_EQ(output_file_name("CUST.ISM", true), "CUST.XDL");
  EXPECT_EQ(output_file_name("CUST.ISM", false), "CUST.PAR");
  EXPECT_EQ(output_file_name("9data", false), "9data.par");
  EXPECT_EQ(output_file_name("cust", true), "cust.xdl");
  EXPECT_EQ(output_file_name("a.b.c", false), "a.b.par");
  EXPECT_EQ(output_file_name("", false), ".par");
}

}  // namespace
}  // namespace ismgr::tool
