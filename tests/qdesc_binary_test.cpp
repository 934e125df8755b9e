// End-to-end tests of the qdesc command on crafted files: the binary is run
// as a user runs it, in the folder of the files, and its whole output is
// compared with texts written out here from the description rows. One group
// per part of the output: the file line and value lines of every revision,
// the dynamic header's comments, the preallocation rows, the warnings, and
// what a description leaves behind (nothing).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/isam_builder.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing::IsamBuilder;
using testing::KeySpec;

const char kBanner[] = "<now>\n";
const char kDay2[] = "Fri Jan 02 00:00:00 1970\n";  // 86400
const char kDay3[] = "Sat Jan 03 00:00:00 1970\n";
const char kDay4[] = "Sun Jan 04 00:00:00 1970\n";
const char kDay5[] = "Mon Jan 05 00:00:00 1970\n";

class QdescBinary : public ::testing::Test {
 protected:
  // Runs qdesc with `args` in the scratch folder; the time on the banner
  // line (the clock of the run) becomes "<now>".
  test::CommandResult qdesc(const std::string& args) {
    test::CommandResult r =
        test::run_command(dir_.path().string(), test::command_path("qdesc") + " " + args);
    for (const char* banner : {"PAR File created ", "XDL File created "}) {
      size_t at = r.out.find(banner);
      if (at == std::string::npos) continue;
      at += std::strlen(banner);
      size_t end = r.out.find('\n', at);
      if (end != std::string::npos) r.out.replace(at, end + 1 - at, kBanner);
    }
    return r;
  }
  void write(const IsamBuilder& b, const std::string& base) {
    ASSERT_TRUE(b.write_files(dir_.path().string(), base));
  }
  // A key CUST on bytes 1-10 with its root at 0x1400 (0x14 units in tbyte
  // files).
  static KeySpec cust_key() {
    KeySpec k = KeySpec::alpha("CUST", 0, 10);
    k.root = 0x1400;
    return k;
  }
  test::ScratchDir dir_;
};

// The key section of cust_key() in a file with 1 KB pages.
const char kCustKey1k[] =
    "CUST\n"
    "\t;Primary alpha key\n"
    "10\t;Key size\n"
    "1\t;Start position\n"
    "N\t;Duplicates allowed\n"
    "A\t;Ascending/descending\n"
    "\t;Root 0x1400, index depth 1\n"
    "\t;Minimum keys per block 36\n";  // (1024 - 12) / 2 / (10 + 4)

// ------------------------------------------------------------ revisions

TEST_F(QdescBinary, OldRevisionsWarnAndHaveNoDates) {
  for (int rev = 0; rev <= 3; ++rev) {
    IsamBuilder b;
    b.revision(rev).record_length(100).record_overhead(3).add_key(cust_key());
    b.counts(5, 1, 9, 2).times(86400, 0, 0, 0).creation_version("8.2.1a");
    write(b, "old");
    auto r = qdesc("old");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string n = std::to_string(rev);
    EXPECT_EQ(r.out, ";\tWARNING: Old level ISAM file Rev " + n +
                         "\n"
                         ";\t         Patch to higher version using fmaint -p\n"
                         ";\tCorveth ISAM PAR File created <now>\n"
                         "old\n"
                         "100\t;Record size\n"
                         "1\t;Number of keys\n"
                         "\t;5ca5 magic, revision " +
                         n +
                         ", 3 byte record overhead\n"
                         "\t;Creation version 8.2.1a\n"
                         "\t;10 byte longest key\n"
                         "\t;2 free index blocks, 0x0 free list head\n"
                         "\t;5 records, 1 free\n" +
                         kCustKey1k)
        << rev;
  }
}

TEST_F(QdescBinary, OldRevisionAsXdl) {
  IsamBuilder b;
  b.revision(2).record_length(100).record_overhead(3).add_key(cust_key());
  b.counts(5, 1, 9, 2).creation_version("8.2.1a");
  write(b, "old");
  auto r = qdesc("-x old");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out,
            "!\tWARNING: Old level ISAM file Rev 2\n"
            "!\t         Patch to higher version using fmaint -p\n"
            "!\tCorveth ISAM XDL File created <now>\n"
            "FILE\n"
            "\tNAME\t\t\"old\"\n"
            "\tADDRESSING\t32\n"
            "\tNETWORK_ENCRYPT\tno\n"
            "\tKEYS\t\t1\n"
            "\nRECORD\n"
            "\tSIZE\t\t100\n"
            "\tFORMAT\t\tfixed\n"
            "\tCOMPRESS_DATA\tno\n"
            "\tSTATIC_RFA\tno\n"
            "\n"
            "\t!5ca5 magic, revision 2, 3 byte record overhead\n"
            "\t!Creation version 8.2.1a\n"
            "\t!10 byte longest key\n"
            "\t!2 free index blocks, 0x0 free list head\n"
            "\t!5 records, 1 free\n"
            "\nKEY 0\n"
            "\t!Primary key\n"
            "\tSTART\t\t1\n"
            "\tLENGTH\t\t10\n"
            "\tTYPE\t\talpha\n"
            "\tORDER\t\tascending\n"
            "\tNAME\t\t\"CUST\"\n"
            "\tDUPLICATES\tno\n"
            "\tMODIFIABLE\tno\n"
            "\n"
            "\t!Root 0x1400, index depth 1\n"
            "\t!Minimum keys per block 36\n");  // 1024 / 2 / (10 + 4)
}

TEST_F(QdescBinary, Revisions4And5HaveDatesAndNoRevisionSixItems) {
  for (int rev = 4; rev <= 5; ++rev) {
    IsamBuilder b;
    b.revision(rev).record_length(100).record_overhead(3).add_key(cust_key());
    b.counts(5, 1, 9, 2).times(86400, 3 * 86400, 2 * 86400, 4 * 86400);
    b.creation_version("5.1.2").free_list_head(0x3000).dynamic_flags(rev == 5 ? 0x01 : 0);
    b.file_flags(0x08).seed(77);  // no seed item before revision 6
    write(b, "cust");
    auto r = qdesc("cust");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const std::string n = std::to_string(rev);
    EXPECT_EQ(r.out, std::string(";\tCorveth ISAM PAR File created <now>\n") +
                         "cust, static_rfa\n"
                         "100\t;Record size\n"
                         "1\t;Number of keys\n"
                         "\t;5ca5 magic, revision " +
                         n +
                         ", 3 byte record overhead\n"
                         "\t;Static vectoring disabled\n"
                         "\t;Creation version 5.1.2\n"
                         "\t;Update revision count 9\n"
                         "\t;File created on " +
                         kDay2 + "\t;Last cleared on " + kDay4 + "\t;Last re-indexed on " + kDay5 +
                         "\t;Last verified on " + kDay3 +
                         "\t;10 byte longest key\n"
                         "\t;2 free index blocks, 0x3000 free list head\n" +
                         (rev == 5 ? "\t;  WARNING: Index freelist overflow - Re-indexing "
                                     "recommended\n"
                                   : "") +
                         "\t;5 records, 1 free\n" + kCustKey1k)
        << rev;
  }
}

TEST_F(QdescBinary, PatchedFiles) {
  IsamBuilder from4;
  from4.patched_from(4).record_length(100).record_overhead(3).add_key(cust_key());
  from4.creation_version("0501003x");
  write(from4, "p4");
  auto r = qdesc("p4");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(";\tCorveth ISAM PAR File created <now>\n") +
                       "p4\n"
                       "100\t;Record size\n"
                       "1\t;Number of keys\n"
                       "\t;5ca5 magic, revision 4r6*, 3 byte record overhead\n"
                       "\t;(*) Patched from rev 4\n"
                       "\t;  The following will occur on next rebuild of data file or WIPEFILE:\n"
                       "\t;  - Static RFA's added\n"
                       "\t;  - Page size increased to 4K\n"
                       "\t;Creation version 5.1.3 \n"  // all three build characters are digits
                       "\t;Update revision count 0\n"
                       "\t;File created on Thu Jan 01 00:00:00 1970\n"
                       "\t;10 byte longest key\n"
                       "\t;0 free index blocks, 0x0 free list head\n"
                       "\t;0 records, 0 free\n" +
                       kCustKey1k);

  IsamBuilder from5;
  from5.patched_from(5).file_flags(0x18).page_units(16).record_length(100).record_overhead(3);
  from5.add_key(cust_key()).creation_version("060212q").seed(5);
  write(from5, "p5");
  r = qdesc("p5");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string head = r.out.substr(0, r.out.find("\t;Update"));
  EXPECT_EQ(head,
            ";\tCorveth ISAM PAR File created <now>\n"
            "p5, static_rfa, page=4096\n"
            "100\t;Record size\n"
            "1\t;Number of keys\n"
            "\t;5ca5 magic, revision 5r6*, 3 byte record overhead\n"
            "\t;(*) Patched from rev 5\n"
            "\t;  The following will occur on next rebuild of data file or WIPEFILE:\n"
            "\t;  - Full revision upgrade to rev 6 header\n"
            "\t;Static vectoring enabled\n"
            "\t;Creation version 6.2.12q\n");
  EXPECT_NE(r.out.find("\t;Minimum keys per block 145\n"), std::string::npos);  // 4084/2/14

  r = qdesc("-x p5");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\tNAME\t\t\"p5\"\n\tADDRESSING\t32\n\tPAGE_SIZE\t4096\n"
                       "\tNETWORK_ENCRYPT\tno\n\tKEYS\t\t1\n"),
            std::string::npos)
      << r.out;  // no TRACK_CHANGES or SEED for a patched file
  EXPECT_NE(r.out.find("\tCOMPRESS_DATA\tno\n\tSTATIC_RFA\tyes\n\n"
                       "\t!5ca5 magic, revision 5r6*, 3 byte record overhead\n"),
            std::string::npos)
      << r.out;
}

// ------------------------------------------------------------ dynamic header comments

TEST_F(QdescBinary, Snapshots) {
  struct Case {
    uint8_t slot, count;
    const char* lines;
  } cases[] = {
      {2, 3,
       "\t;File changes tracked since Fri Jan 02 00:00:00 1970\n"
       "\t;  No active snapshots\n"
       "\t;  Next snapshot will be #13\n"},  // count + base
      {2, 5,
       "\t;File changes tracked since Fri Jan 02 00:00:00 1970\n"
       "\t;  Last snapshot applied: 14\n"},  // count + base - 1
      {0, 0,
       "\t;Change Tracking is disabled\n"
       "\t;   File changes are not being tracked!\n"},
  };
  for (const Case& c : cases) {
    IsamBuilder b;
    b.record_length(100).record_overhead(3).add_key(cust_key());
    b.change_tracking(c.slot, c.count, 10, 86400).creation_version("070312a");
    write(b, "ct");
    auto r = qdesc("ct");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("\t;Update")),
              std::string(";\tCorveth ISAM PAR File created <now>\n") +
                  "ct, track_changes\n"  // never ", tbyte" with change tracking
                  "100\t;Record size\n"
                  "1\t;Number of keys\n"  // the tracking key is not counted
                  "\t;5ca5 magic, revision 6, 3 byte record overhead\n"
                  "\t;Default R6 file attributes:\n"
                  "\t;  Page size 4K\n"
                  "\t;  256TB file size enabled\n"
                  "\t;  Tbyte enabled (Required for Change Tracking)\n" +
                  c.lines + "\t;Creation version 7.3.12a {Compat Level 6.0}\n")
        << int(c.count);
    // The tracking key's section is written with -ct only.
    EXPECT_EQ(r.out.find("Change Tracking/"), std::string::npos);
    r = qdesc("-ct ct");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    const size_t key = r.out.find("Change Tracking/");
    ASSERT_NE(key, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(key, r.out.find("\t;Root", key) - key),
              "Change Tracking/modify/null/density\n"
              "\t;Alternate alpha key #1\n"
              "R\t;Replicating null key\n"
              "0\t;Null value\n"
              "1\t;Key size\n"  // 5 less the 4-byte qualifier of a tbyte file
              "-1\t;Start position\n"
              "Y\t;Duplicates allowed\n"
              "N\t;Insert at front\n"
              "A\t;Ascending/descending\n"
              "100\t;Index density percentage\n");
  }
}

TEST_F(QdescBinary, UnusableSpaceAndVectors) {
  struct Case {
    uint8_t flags;
    uint16_t vectors;
    const char* par;
    const char* xdl;
  } cases[] = {
      {0x18, 0xFFFF, "\t;700 bytes unusable RFA space; exceeds 65535 vectors\n",
       "\t!700 bytes unusable RFA space! 65535 vectors\n"},
      {0x18, 12, "\t;700 bytes unusable RFA space; 12 vectors\n",
       "\t!700 bytes unusable RFA space! 12 vectors\n"},
      {0x08, 12, "\t;700 bytes unusable RFA space\n", "\t!700 bytes unusable RFA space\n"},
      {0x00, 12, "\t;700 bytes unusable space\n", "\t!700 bytes unusable RFA space\n"},
  };
  for (const Case& c : cases) {
    IsamBuilder b;
    b.record_length(100).file_flags(c.flags).add_key(cust_key()).vectors(c.vectors, 700);
    write(b, "u");
    auto r = qdesc("u");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(
        r.out.find(std::string("\t;10 byte longest key\n") + c.par + "\t;0 free index blocks"),
        std::string::npos)
        << r.out;
    r = qdesc("-x u");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_NE(
        r.out.find(std::string("\t!10 byte longest key\n") + c.xdl + "\t!0 free index blocks"),
        std::string::npos)
        << r.out;
  }
}

TEST_F(QdescBinary, FreeListsInBytesAndUnits) {
  IsamBuilder plain;
  plain.record_length(100).add_key(cust_key()).counts(7, 3, 1, 4).free_list_head(0x5000);
  write(plain, "plain");
  auto r = qdesc("plain");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\t;4 free index blocks, 0x5000 free list head\n\t;7 records, 3 free\n"),
            std::string::npos)
      << r.out;

  // 48-bit addressing: the unit count has a fifth byte and counts 256 bytes.
  IsamBuilder wide;
  wide.record_length(100).tbyte(true).add_key(cust_key()).counts(7, 3, 1, 4);
  wide.free_list_head(0x100000002ull);
  write(wide, "wide");
  r = qdesc("-x wide");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\tADDRESSING\t48\n"), std::string::npos);
  EXPECT_NE(r.out.find("\t!4 free index blocks, 0x10000000200 free list head\n"
                       "\t!7 records, 3 free\n"),
            std::string::npos)
      << r.out;
  // The key root is a unit count too: 0x1400 units.
  EXPECT_NE(r.out.find("\t!Root 0x140000, index depth 1\n"), std::string::npos) << r.out;
}

// ------------------------------------------------------------ preallocation

TEST_F(QdescBinary, PreallocationRows) {
  // One key, 4 KB pages: header region 8192 bytes, index file 8192 + one
  // root block; the data file holds 2536 bytes beyond the header region.
  IsamBuilder blocks;
  blocks.record_length(100).record_overhead(3).add_key(cust_key());
  blocks.preallocation(40).leofs(0x2000, 0x2000).data_records(2536);
  ASSERT_EQ(blocks.data_start(), 8192u);
  ASSERT_EQ(blocks.index_file().size(), 12288u);
  write(blocks, "blk");
  auto r = qdesc("blk");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\nblk, alloc=40\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\t;10 byte longest key\n"
                       "\t;Preallocated file blocks (unused)\n"
                       "\t;  1 (4K) index blocks {LEOF=0x2000}\n"
                       "\t;  4 (512 byte) data blocks (+488 bytes) {LEOF=0x2000}\n"
                       "\t;  Total record capacity: 119\n"  // (40 * 512 - 8192) / 103
                       "\t;0 free index blocks"),
            std::string::npos)
      << r.out;
  r = qdesc("-x blk");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\tALLOCATION\t40\n"), std::string::npos);
  EXPECT_NE(r.out.find("\t!Preallocated file blocks (unused)\n"
                       "\t!  1 (4K) index blocks {LEOF=0x2000}\n"
                       "\t!  4 (512 byte) data blocks (+488 bytes) {LEOF=0x2000}\n"
                       "\t!  Total record capacity: 119\n"),
            std::string::npos)
      << r.out;

  // An allocation in records: 50 records of 103 bytes after 8192 header
  // bytes take (5150 + 8192 + 511) / 512 = 27 blocks, room for
  // (27 * 512 - 8192) / 103 = 54 records. No index LEOF, no data LEOF.
  IsamBuilder records;
  records.record_length(100).record_overhead(3).add_key(cust_key());
  records.preallocation(50, true).data_records(2048);
  write(records, "rec");
  r = qdesc("rec");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\nrec, ralloc=50\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\t;Preallocated file blocks (unused)\n"
                       "\t;  0 index blocks\n"
                       "\t;  0 data blocks\n"
                       "\t;  Total record capacity: 54\n"),
            std::string::npos)
      << r.out;
  r = qdesc("-x rec");
  EXPECT_NE(r.out.find("\tRECORD_ALLOCATION 50\n"), std::string::npos) << r.out;

  // With the data file a whole number of blocks beyond its LEOF.
  IsamBuilder even;
  even.record_length(100).add_key(cust_key()).preallocation(40).leofs(0x2000, 0).data_records(1024);
  write(even, "even");
  r = qdesc("even");
  EXPECT_NE(r.out.find("\t;  0 index blocks\n\t;  2 (512 byte) data blocks {LEOF=0x2000}\n"),
            std::string::npos)
      << r.out;
}

// ------------------------------------------------------------ warnings

TEST_F(QdescBinary, MissingIndexFileInBothFormats) {
  IsamBuilder b;
  b.record_length(100).add_key(cust_key()).counts(5, 1, 9, 2);
  write(b, "cust");
  std::filesystem::remove(dir_.file("cust.ism"));
  auto r = qdesc("cust");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("cust\n")),
            ";\tWARNING: Cannot access index file\n"
            ";\t         Parameters reflect initial state\n"
            ";\t         Run fsalvage to restore current state\n"
            ";\tCorveth ISAM PAR File created <now>\n");
  r = qdesc("-x cust");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find("FILE\n")),
            "!\tWARNING: Cannot access index file\n"
            "!\t         Parameters reflect initial state\n"
            "!\t         Run fsalvage to restore current state\n"
            "!\tCorveth ISAM XDL File created <now>\n");
  // The preallocation rows leave out the index blocks it cannot see.
  IsamBuilder p;
  p.record_length(100).add_key(cust_key()).preallocation(40).leofs(0x2000, 0x2000);
  write(p, "pre");
  std::filesystem::remove(dir_.file("pre.ism"));
  r = qdesc("pre");
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.out.find("\t;Preallocated file blocks (unused)\n\t;  0 (512 byte) data blocks"),
            std::string::npos)
      << r.out;
  // -b removes the warning comments with the rest.
  r = qdesc("-b cust");
  EXPECT_EQ(r.out.substr(0, 10), "cust\n100\n1");
}

TEST_F(QdescBinary, InProgressSortInBothFormats) {
  IsamBuilder b;
  b.record_length(100).add_key(cust_key());
  write(b, "cust");
  ASSERT_TRUE(IsamBuilder::write_file(dir_.file("cust.is1"),
                                      IsamBuilder::work_file_page(dir_.file("work.is1"))));
  ASSERT_TRUE(IsamBuilder::write_file(dir_.file("work.is1"), b.shifted_data_file()));
  // Both formats begin these two lines with "!"; the banner follows.
  for (bool xdl : {false, true}) {
    auto r = qdesc(xdl ? "-x cust" : "cust");
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("Corveth")),
              std::string("!\tWARNING: In-progress sort detected\n"
                          "!\t         You MUST re-run fmaint\n") +
                  (xdl ? "!" : ";") + "\t")
        << r.out;
    EXPECT_EQ(r.out.find("Cannot access index file"), std::string::npos);
  }
}

// ------------------------------------------------------------ files stay as they were

TEST_F(QdescBinary, DescribingChangesNoFile) {
  IsamBuilder b;
  b.record_length(100).add_key(cust_key()).counts(3, 1, 5, 0).file_text_prefixed("note");
  b.preallocation(40).leofs(0x2000, 0x2000).data_records(1000);
  write(b, "cust");
  // Times well in the past, so that any write would show.
  const auto past = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  std::filesystem::last_write_time(dir_.file("cust.ism"), past);
  std::filesystem::last_write_time(dir_.file("cust.is1"), past);
  for (const char* args : {"cust", "-x cust", "-b -ct cust", "-bx cust.ism"}) {
    auto r = qdesc(args);
    EXPECT_EQ(r.exit_status, 0) << args << r.err;
  }
  const std::string index = dir_.read("cust.ism");
  const std::string data = dir_.read("cust.is1");
  EXPECT_EQ(std::vector<uint8_t>(index.begin(), index.end()), b.index_file());
  EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.end()), b.data_file());
  EXPECT_EQ(std::filesystem::last_write_time(dir_.file("cust.ism")), past);
  EXPECT_EQ(std::filesystem::last_write_time(dir_.file("cust.is1")), past);
  // Nothing beside them either (no marker, no lock file).
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);
}

}  // namespace
}  // namespace ismgr
