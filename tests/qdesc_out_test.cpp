#include <gtest/gtest.h>

#include "tool/out.h"
#include "tool/report.h"

namespace ismgr::tool {
namespace {

// Writes each piece through one text() call and returns what reached the sink.
std::string bare(std::initializer_list<const char*> pieces) {
  Output out;
  StringSink sink;
  out.set_bare(true);
  for (const char* p : pieces) out.text(sink, p);
  return sink.text();
}

TEST(Output, PlainOutputIsCutToTheBuffer) {
  Output out;
  StringSink sink;
  EXPECT_EQ(out.text(sink, std::string(3000, '%').c_str()), 1023);  // never used as a format
  EXPECT_EQ(sink.text(), std::string(1023, '%'));
}

// Bare output drops comments, but not comment characters inside quotes (a
// double quote inside single quotes is plain text; an unclosed quote hides
// the rest of its line only); a comment open at the end of a piece is held
// until its line feed, the value before it kept.
TEST(Output, BareDropsCommentsOutsideQuotes) {
  EXPECT_EQ(bare({"cust, text=\"a;b\"\n"}), "cust, text=\"a;b\"\n");
  EXPECT_EQ(bare({"'x\";y'\t;Null value string\n"}), "'x\";y'\n");
  EXPECT_EQ(bare({"O'BRIEN ;c\nA\t;x\n"}), "O'BRIEN ;c\nA\n");
  EXPECT_EQ(bare({"12\t;first part", " second part\n"}), "12\n");
  Output out;
  StringSink sink;
  out.set_bare(true);
  EXPECT_EQ(out.out(sink, "\t;Update revision count %u", 7u), 25);
  EXPECT_TRUE(out.holding());
  EXPECT_EQ(out.out(sink, " (+%d out of sync)\n", 3), 0);
  EXPECT_FALSE(out.holding());
  EXPECT_EQ(sink.text(), "");
  // Held text is cut at the buffer: the line feed no longer fits, the text
  // stays held and nothing overflows.
  out.text(sink, (";" + std::string(1500, 'c')).c_str());
  out.text(sink, "\n");
  EXPECT_TRUE(out.holding());
  EXPECT_EQ(sink.text(), "");
}

TEST(Reporters, StatusReporterPadsAndNamesUnknownCodes) {
  StringSink err;
  EXPECT_THROW(report_status(err, 5, "a%sb"), DescribeAbort);
  EXPECT_EQ(err.text(), "\n%QDESC-E-05: EOF encountered\n%QDESC-I-01: File specified was a%sb\n");
  err.clear();
  EXPECT_THROW(report_status(err, 46, "x"), DescribeAbort);
  EXPECT_EQ(err.text().substr(0, 33), "\n%QDESC-E-46: Unknown error code\n");
  err.clear();
  EXPECT_THROW(report_status(err, 122, "y"), DescribeAbort);
  EXPECT_EQ(err.text().substr(0, 15), "\n%QDESC-E-122: ");
}

}  // namespace
}  // namespace ismgr::tool
