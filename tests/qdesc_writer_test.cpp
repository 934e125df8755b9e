// qdesc's parts: the PAR and XDL writers, its output and reporters, and its
// command line.
#include <gtest/gtest.h>

#include <cstring>

#include "tool/options.h"
#include "tool/out.h"
#include "tool/par_writer.h"
#include "tool/report.h"
#include "tool/xdl_writer.h"

namespace ismgr::tool {
namespace {

// The PAR and XDL writers on crafted file views: one row per branch that no
// crafted file of the qdesc golden runs reaches.
// The data file served from memory; the index file is empty.
class MemoryIo : public DescribeIo {
 public:
  std::vector<uint8_t> data;
  bool read_data(uint64_t offset, void* buffer, uint32_t count) override {
    if (offset > data.size() || count > data.size() - offset) return false;
    std::memcpy(buffer, data.data() + offset, count);
    return true;
  }
  bool index_file_size(int64_t* size) override { return (*size = 0) == 0; }
  bool data_file_size(int64_t* size) override { return (*size = int64_t(data.size())) >= 0; }
};

// A revision-6 unpatched file with static vectoring, 4 KB pages, 512-byte
// records and one unsegmented ascending alpha key CUSTNO of 10 bytes at
// position 1.
FileView basic_file() {
  FileView f;
  f.magic = 0x5CA5, f.revision = 6, f.file_flags = 0x18, f.key_count = 1, f.page_units = 16;
  f.max_key_size = 10, f.record_size = 512, f.record_overhead = 8, f.index_entry_width = 4;
  std::memcpy(f.creation_version.data(), "060112a", 7);
  KeyView k;
  k.seg_type[0] = 0x21, k.seg_length[0] = 10, k.key_size = 10;
  std::memcpy(k.key_name.data(), "CUSTNO          ", 16);
  k.root_low = 0x1000, k.depth = 1;
  f.keys.push_back(k);
  return f;
}

bool has(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

class WriterTest : public ::testing::Test {
 public:
  void SetUp() override {
    ctx.clock = [] { return int64_t{0}; };
  }
  // The PAR (or XDL) description of f.
  std::string par(const std::string& name = "cust", bool xdl = false) {
    sink.clear();
    if (xdl) write_xdl_description(ctx, f, io, name, sink);
    if (!xdl) result = write_par_description(ctx, f, io, name, sink);
    return std::string(sink.text());
  }
  // Key 0 gets a non-replicating null rule, a segment of `type` and `value`
  // as its null value.
  void null_key(std::vector<uint8_t> value, uint8_t type) {
    KeyView& k = f.keys[0];
    k.key_flags = 0x20;
    k.seg_type[0] = type;
    k.seg_length[0] = static_cast<uint16_t>(value.size());
    k.null_offset = 4;
    f.null_area.assign(4, 0xEE);
    f.null_area.push_back(static_cast<uint8_t>(value.size() + 1));
    f.null_area.insert(f.null_area.end(), value.begin(), value.end());
    f.null_area.resize((f.null_area.size() + 3) & ~size_t{3}, 0);
  }
  DescribeContext ctx;
  FileView f = basic_file();
  MemoryIo io;
  StringSink sink;
  int result = 0;
};

// One row per branch: a change to the view and a piece the PAR or XDL
// description must hold.
TEST_F(WriterTest, BranchesNoCraftedFileReaches) {
  const struct {
    const char* name;
    void (*change)(WriterTest&);
    const char* expected;
  } rows[] = {
      {"negative clock", [](WriterTest& t) { t.ctx.clock = [] { return int64_t{-5}; }; },
       ";\tCorveth ISAM PAR File created Thu Jan 01 00:00:00 1970\n"},
      {"clock", [](WriterTest& t) { t.ctx.clock = [] { return int64_t{86400 * 31 + 3661}; }; },
       ";\tCorveth ISAM PAR File created Sun Feb 01 01:01:01 1970\n"},
      {"version 8 characters",
       [](WriterTest& t) { t.f.creation_version = {'0', '7', '1', '0', '1', '2', '3', 0}; },
       "\t;Creation version 7.10.123  {Compat Level 6.0}\n"},
      {"version without letter",
       [](WriterTest& t) {
         t.f.creation_version = {'0', '6', '0', '2', '5'}, t.f.compat_level = 3;
       },
       "\t;Creation version 6.2.5  {Compat Level 6.3}\n"},
      {"version letter", [](WriterTest& t) { t.f.creation_version = {'0', '6', '0', '2', 'b', 0}; },
       "\t;Creation version 6.2.0b {Compat Level 6.0}\n"},
      {"segmented null, one descending",
       [](WriterTest& t) {
         t.null_key({'A', 0xBD}, 0x21), t.f.keys[0].seg_type[1] = 1,
                                        t.f.keys[0].seg_length = {1, 1};
       },
       "'AB'\t;Null value string\n"},
  };
  for (const auto& r : rows) {
    ctx.clock = [] { return int64_t{0}; };
    f = basic_file();
    r.change(*this);
    EXPECT_TRUE(has(par(), r.expected)) << r.name;
  }
}

// A non-replicating null value in each description, shown or not (the
// decoding itself is the null value test's).
TEST_F(WriterTest, NullValues) {
  const char* kNoForm = "\tNULL\t\tnoreplicate\n\t!VALUE_NULL not shown: no printable form\n";
  const struct {
    std::vector<uint8_t> value;
    uint8_t type;
    bool xdl;
    const char* expected;
  } rows[] = {
      {{0xBE, 0xFD, 0xFA}, 0x02, true, "\tVALUE_NULL\t125\n"},  // descending decimal
      {{0x80, 0, 0, 0}, 0x04, false, "\n-1\t;Null value\n"},    // descending integer
      {{0x7F, 255, 255, 255, 255, 255, 255, 0xFE}, 0x24, true, "\tVALUE_NULL\t-2\n"},
      {std::vector<uint8_t>(8, 0xFF), 0x28, false, "\n18446744073709551615\t;Null value\n"},
      {{1, 2, 3}, 0x28, true, kNoForm},  // 3-byte unsigned
      {{1}, 0x23, true, kNoForm},        // unknown type
  };
  for (const auto& r : rows) {
    f = basic_file();
    null_key(r.value, r.type);
    EXPECT_TRUE(has(par("cust", r.xdl), r.expected)) << r.expected;
  }
}

TEST_F(WriterTest, NameIsNeverAFormat) {
  EXPECT_TRUE(has(par("a%s%n.ism"), "\na%s%n.ism\n512"));
}

// A file line of up to 995 characters holds the file text; a longer one
// writes the text as comment lines and fails the description.
TEST_F(WriterTest, ParLineLimitIs995) {
  const std::string text(100, 't');
  f.text_location = 64, f.text_length = 100, f.text_alloc_word = 600;
  f.file_flags2 = 0x08, f.text_allocation = 2048;
  io.data.assign(64, 0);
  for (uint32_t v : {600u, 100u})
    for (int i = 0; i < 4; ++i) io.data.push_back(static_cast<uint8_t>(v >> (8 * i)));
  io.data.insert(io.data.end(), text.begin(), text.end());
  std::string name(888, 'n');  // 888 + ", text=" + 100 = 995
  EXPECT_TRUE(has(par(name), "\n" + name + ", text=\"" + text + "\"\n512"));
  EXPECT_EQ(result, 0);
  name.push_back('n');
  const std::string t = par(name);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(has(t, name + ", text=\n\t;WARNING"));
  EXPECT_TRUE(has(t, "\t;     lines using INVOKE PUTNOTE.\n\t;TEXT\t\"" + std::string(50, 't') +
                         "\"\n\t;TEXT\t\"" + std::string(50, 't') + "\"\n512"));
}

TEST_F(WriterTest, BareXdlEndsWithTheLastKeyItem) {
  null_key({1}, 0x23);
  ctx.options.bare = true;
  ctx.output.set_bare(true);
  const std::string t = par("cust", true), tail = "\tMODIFIABLE\tno\n\tNULL\t\tnoreplicate\n";
  EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

// Writes each piece through one text() call and returns what reached the sink.
std::string bare(std::initializer_list<const char*> pieces) {
  Output out;
  StringSink sink;
  out.set_bare(true);
  for (const char* p : pieces) out.text(sink, p);
  return std::string(sink.text());
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
  return (l.usage ? "usage" : s) + std::string(notices.text());
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
