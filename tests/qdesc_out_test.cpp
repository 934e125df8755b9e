#include <gtest/gtest.h>

#include <string>

#include "tool/out.h"
#include "tool/report.h"

namespace ismgr::tool {
namespace {

class OutputTest : public ::testing::Test {
 protected:
  // Writes each piece through one out() call and returns what reached the sink.
  std::string run(std::initializer_list<const char*> pieces) {
    for (const char* p : pieces) out.text(sink, p);
    return sink.text();
  }
  Output out;
  StringSink sink;
};

TEST_F(OutputTest, PlainOutputIsUnchangedAndCounted) {
  EXPECT_EQ(out.out(sink, "%u\t;Record size\n", 512u), 17);
  EXPECT_EQ(out.text(sink, "100% sure; %s %d"), 16);  // never used as a format
  EXPECT_EQ(sink.text(), "512\t;Record size\n100% sure; %s %d");
  sink.clear();
  EXPECT_EQ(out.text(sink, std::string(3000, 'x').c_str()), 1023);  // cut to the buffer
  EXPECT_EQ(sink.text(), std::string(1023, 'x'));
}

TEST_F(OutputTest, BareKeepsCommentCharactersInsideQuotes) {
  out.set_bare(true);
  EXPECT_EQ(run({"cust, text=\"a;b\"\n"}), "cust, text=\"a;b\"\n");
  sink.clear();
  // A double quote inside single quotes is plain text and does not open a
  // stretch of its own.
  EXPECT_EQ(run({"'x\";y'\t;Null value string\n"}), "'x\";y'\n");
  sink.clear();
  // An unclosed quote hides the rest of its line only.
  EXPECT_EQ(run({"O'BRIEN ;c\nA\t;x\n"}), "O'BRIEN ;c\nA\n");
}

TEST_F(OutputTest, BareHoldsAnOpenCommentUntilItsLineFeed) {
  out.set_bare(true);
  EXPECT_EQ(out.out(sink, "\t;Update revision count %u", 7u), 25);
  EXPECT_TRUE(out.holding());
  EXPECT_EQ(sink.text(), "");
  EXPECT_EQ(out.out(sink, " (+%d out of sync)\n", 3), 0);
  EXPECT_FALSE(out.holding());
  EXPECT_EQ(sink.text(), "");
  // A value before the comment survives the join.
  out.text(sink, "12\t;first part");
  out.text(sink, " second part\n");
  EXPECT_EQ(sink.text(), "12\n");
}

TEST_F(OutputTest, HeldTextIsCutAtTheBuffer) {
  out.set_bare(true);
  std::string comment = ";" + std::string(1500, 'c');
  out.text(sink, comment.c_str());
  EXPECT_TRUE(out.holding());
  // The line feed no longer fits: the text stays held and nothing overflows.
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
  EXPECT_EQ(err.text(), "\n%QDESC-E-46: Unknown error code\n%QDESC-I-01: File specified was x\n");
  err.clear();
  EXPECT_THROW(report_status(err, 122, "y"), DescribeAbort);
  EXPECT_EQ(err.text().substr(0, 15), "\n%QDESC-E-122: ");
}

}  // namespace
}  // namespace ismgr::tool
