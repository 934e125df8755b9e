// qdesc on crafted files of every revision and layout, run through the
// command's own entry (run_qdesc over the channel open) with the clock at 0;
// the whole outputs, exit statuses and messages are compared with
// tests/data/qdesc/crafted.txt. Damaged and cut files are described whole or
// refused, never anything else. The binary itself changes no file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>

#include "ismgr/platform/platform.h"
#include "support/damaged_headers.h"
#include "support/golden.h"
#include "support/isam_builder.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

namespace ismgr::tool {
namespace {

using ismgr::testing::IsamBuilder;
using ismgr::testing::KeySpec;

// A key CUST on bytes 1-10 with its root at 0x1400 (0x14 units in tbyte
// files), in a file of 100-byte records.
IsamBuilder cust(int revision = 6, uint16_t overhead = 1) {
  KeySpec k = KeySpec::alpha("CUST", 0, 10);
  k.root = 0x1400;
  IsamBuilder b;
  return b.revision(revision).record_length(100).record_overhead(overhead).add_key(k);
}

IsamBuilder old_file(int revision) {
  return cust(revision, 3).counts(5, 1, 9, 2).times(86400, 0, 0, 0).creation_version("8.2.1a");
}

IsamBuilder short_file(int revision) {
  IsamBuilder b = cust(revision, 3).counts(5, 1, 9, 2);
  b.times(86400, 3 * 86400, 2 * 86400, 4 * 86400).creation_version("5.1.2");
  // No seed item before revision 6; the overflow flag of revision 5 warns.
  return b.free_list_head(0x3000).dynamic_flags(revision == 5 ? 0x01 : 0).file_flags(0x08).seed(77);
}

IsamBuilder patched5() {
  return cust(6, 3).patched_from(5).file_flags(0x18).page_units(16).seed(5).creation_version(
      "060212q");
}

IsamBuilder tracked(uint8_t slot, uint8_t count) {
  return cust(6, 3).change_tracking(slot, count, 10, 86400).creation_version("070312a");
}

// The main file of a temporary index: two keys, 10 updates.
IsamBuilder temp_main() {
  return cust().counts(0, 0, 10, 0).times(100, 200, 0, 300).add_key(KeySpec::alpha("NAME", 10, 20));
}

enum Setup { kPlain, kNoIndex, kSort, kTempIndex };

struct Case {
  const char* args;  // the file arguments name files in the scratch folder
  std::function<IsamBuilder()> build;
  Setup setup = kPlain;
};

const Case kCases[] = {
    {"f", [] { return old_file(0); }},
    {"f", [] { return old_file(3); }},
    {"-x f", [] { return old_file(2); }},
    {"f", [] { return short_file(4); }},
    {"f", [] { return short_file(5); }},
    {"f", [] { return cust(4, 3).patched_from(4).creation_version("0501003x"); }},
    {"f", patched5},
    {"-x f", patched5},
    {"f", [] { return tracked(2, 3); }},
    {"f", [] { return tracked(2, 5); }},
    {"-ct f", [] { return tracked(0, 0); }},
    {"f", [] { return cust().file_flags(0x18).vectors(0xFFFF, 700); }},
    {"-x f", [] { return cust().file_flags(0x00).vectors(12, 700); }},
    {"f", [] { return cust().counts(7, 3, 1, 4).free_list_head(0x5000); }},
    // 48-bit addressing: unit counts have a fifth byte and count 256 bytes.
    {"-x f", [] { return cust().tbyte(true).counts(7, 3, 1, 4).free_list_head(0x100000002ull); }},
    // One key, 4 KB pages: header region 8192 bytes, one root block; the
    // data file holds 2536 bytes beyond the header region.
    {"f", [] { return cust(6, 3).preallocation(40).leofs(0x2000, 0x2000).data_records(2536); }},
    {"-x f", [] { return cust(6, 3).preallocation(40).leofs(0x2000, 0x2000).data_records(2536); }},
    // 50 records of 103 bytes after 8192 header bytes take 27 blocks.
    {"f", [] { return cust(6, 3).preallocation(50, true).data_records(2048); }},
    {"-x f", [] { return cust(6, 3).preallocation(50, true).data_records(2048); }},
    {"f", [] { return cust().preallocation(40).leofs(0x2000, 0).data_records(1024); }},
    {"f", [] { return cust().counts(5, 1, 9, 2); }, kNoIndex},
    {"-x f", [] { return cust().counts(5, 1, 9, 2); }, kNoIndex},
    {"-b f", [] { return cust().counts(5, 1, 9, 2); }, kNoIndex},
    {"f", [] { return cust().preallocation(40).leofs(0x2000, 0x2000); }, kNoIndex},
    {"f", [] { return cust().magic(0x6CA6); }},  // incompatible: not retried
    {"none other", [] { return cust(); }},       // the retry's status: file not found
    {"-xb f", [] { return cust().file_text_prefixed("a \"quoted\" note; with more"); }},
    {"f g", [] { return cust(); }, kSort},
    {"-x f", [] { return cust(); }, kSort},
    {"-tf.tk f", temp_main, kTempIndex},
    // Temporary keys are numbered after the main file's keys in XDL too.
    {"-x -tf.tk f", temp_main, kTempIndex},
};

class QdescGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_for_test();
    ctl_ = ismgr_init();
    ASSERT_NE(ctl_, nullptr);
  }
  void TearDown() override { ismgr_shutdown(ctl_); }

  // Runs qdesc over `args` (names relative to the scratch folder) and
  // returns a section: the arguments, the exit status, the output and the
  // messages, with the folder left out of the names.
  std::string run(const std::string& args) {
    std::vector<std::string> words{"qdesc"};
    std::istringstream in(args);
    for (std::string w; in >> w;) {
      if (w[0] != '-' && w.find(':') == std::string::npos) w = dir_.file(w);
      words.push_back(w.starts_with("-t") && w.size() > 2 ? "-t" + dir_.file(w.substr(2)) : w);
    }
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    std::FILE* out = std::fopen(io_.file("out").c_str(), "w+b");
    std::FILE* err = std::fopen(io_.file("err").c_str(), "w+b");  // (no tmpfile(): C:\ on Windows)
    ChannelOpener opener(ctl_);
    rc_ = run_qdesc(static_cast<int>(argv.size()), argv.data(), opener, out, err,
                    [] { return int64_t{0}; });
    out_ = test::stream_text(out), err_ = test::stream_text(err);
    std::fclose(out), std::fclose(err);
    std::string text =
        "== qdesc " + args + "\nexit " + std::to_string(rc_) + "\n" + out_ + "-- messages\n" + err_;
    const std::string folder = dir_.path().string() + "/";
    for (size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
    return text;
  }

  // Describes f (`args` "f" or "-x f"): either a whole description (status
  // 0, text ending in a line end, no message) or a refusal (status 1 with
  // the reporter's message and no description); never anything else.
  void describe_or_refuse(const std::string& args, const std::string& what) {
    run(args);
    const bool described = rc_ == 0 && err_.empty() && out_.ends_with('\n');
    EXPECT_TRUE(described || (rc_ == 1 && out_.empty() && err_.starts_with("\n%QDESC-E-") &&
                              err_.find("%QDESC-I-01: File specified was ") != std::string::npos))
        << what << ": " << rc_ << "\n"
        << err_;
    ++(described ? described_ : refused_);
  }

  ismgr_control* ctl_ = nullptr;
  test::ScratchDir dir_{true};  // thousands of files made and deleted
  test::ScratchDir io_{true};   // the run's output and messages
  int rc_ = 0, described_ = 0, refused_ = 0;
  std::string out_, err_;
};

TEST_F(QdescGolden, CraftedFiles) {
  std::string all;
  const auto fresh = [&] {
    std::filesystem::remove_all(dir_.path());
    std::filesystem::create_directories(dir_.path());
  };
  for (const Case& c : kCases) {
    fresh();
    const IsamBuilder b = c.build();
    ASSERT_TRUE(b.write_files(dir_.path().string(), "f"));
    if (c.setup == kNoIndex) std::filesystem::remove(dir_.file("f.ism"));
    if (c.setup == kSort) {  // the data file is a work file naming work.is1
      ASSERT_TRUE(IsamBuilder::write_file(dir_.file("f.is1"),
                                          IsamBuilder::work_file_page(dir_.file("work.is1"))));
      std::vector<uint8_t> shifted(0x8000, 0x5A), data = b.data_file();  // data at 0x8000
      shifted.insert(shifted.end(), data.begin(), data.end());
      ASSERT_TRUE(IsamBuilder::write_file(dir_.file("work.is1"), shifted));
      ASSERT_TRUE(cust().write_files(dir_.path().string(), "g"));
    }
    if (c.setup == kTempIndex) {
      // A temporary index 3 updates behind, its free list head at 86400.
      IsamBuilder t = cust().counts(0, 0, 7, 0).times(100, 200, 0, 300).free_list_head(86400);
      std::vector<uint8_t> index = t.index_file();
      index[0] = 0xE7;  // magic 0x5CE7
      ASSERT_TRUE(IsamBuilder::write_file(dir_.file("f.tk"), index));
    }
    all += run(c.args);
    // The data file moved to the temporary index and was released with it.
    if (c.setup == kTempIndex) all += run("-b f");
  }
  // A logical name found without regard to its case; the default extension
  // follows the case of the name's first letter.
  fresh();
  ASSERT_TRUE(cust().magic(0x6CA6).write_files(dir_.path().string(), "Cust", ".ISM"));
  ASSERT_TRUE(platform::put_env(("QDESCLOGICAL=" + dir_.path().string()).c_str()));
  all += run("qdesclogical:Cust");
  platform::put_env("QDESCLOGICAL=");
  EXPECT_TRUE(test::matches_golden("qdesc/crafted.txt", all));
}

// The binary, as a user runs it: describing changes neither file, not even
// their times, and leaves nothing beside them (no marker, no lock file).
TEST(QdescBinary, DescribingChangesNoFile) {
  test::ScratchDir dir;
  IsamBuilder b = cust().counts(3, 1, 5, 0).file_text_prefixed("note");
  b.preallocation(40).leofs(0x2000, 0x2000).data_records(1000);
  ASSERT_TRUE(b.write_files(dir.path().string(), "cust"));
  // (in whole seconds: a Windows file keeps 100 ns at best)
  const std::filesystem::file_time_type past =
      std::chrono::floor<std::chrono::seconds>(std::filesystem::file_time_type::clock::now()) -
      std::chrono::hours(48);
  std::filesystem::last_write_time(dir.file("cust.ism"), past);
  std::filesystem::last_write_time(dir.file("cust.is1"), past);
  for (const char* args : {"-x cust", "-b -ct cust.ism"}) {
    auto r = test::run_command(dir.path().string(), test::command_path("qdesc") + " " + args);
    EXPECT_EQ(r.exit_status, 0) << args << r.err;
    EXPECT_NE(r.out.find("\"note\""), std::string::npos) << args;
  }
  const auto bytes = [&](const char* leaf) {
    const std::string s = dir.read(leaf);
    return std::vector<uint8_t>(s.begin(), s.end());
  };
  EXPECT_TRUE(bytes("cust.ism") == b.index_file() && bytes("cust.is1") == b.data_file());
  EXPECT_EQ(std::filesystem::last_write_time(dir.file("cust.ism")), past);
  EXPECT_EQ(std::filesystem::last_write_time(dir.file("cust.is1")), past);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// Lost output is a failure: a description that fails under -g takes its
// file away (a complete one stays), and output that cannot be written (a
// full disk, a closed stream) fails each command that writes some, with
// the reason.
TEST(QdescBinary, LostOutputIsAFailure) {
  test::ScratchDir dir;
  ASSERT_TRUE(cust().write_files(dir.path().string(), "cust"));
  const std::string in = dir.path().string();
  auto r = test::run_command(in, test::command_path("qdesc") + " -g cust missing");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_TRUE(dir.exists("cust.par"));
  EXPECT_FALSE(dir.exists("missing.par"));
#ifndef _WIN32
  const std::tuple<const char*, const char*, int> rows[] = {
      {"qdesc", "-x cust", 1}, {"qcheck", "cust", 2}, {"qinfo", "cust.ism size", 1}};
  for (const auto& [command, args, status] : rows) {
    for (const char* redirect : {">/dev/full", ">&-"}) {
      if (redirect[1] == '/' && !std::filesystem::exists("/dev/full")) continue;  // (a container)
      r = test::run_command(in,
                            "(" + test::command_path(command) + " " + args + " " + redirect + ")");
      EXPECT_EQ(r.exit_status, status) << command << redirect;
      EXPECT_NE(r.err.find(std::string(command) + ": cannot write the output: "), std::string::npos)
          << r.err;
    }
  }
#endif
}

// Either file cut short at every length through its headers (the index's
// dynamic header ends at 5776; the data file's copy and text in steps of 7),
// then in steps past them.
TEST_F(QdescGolden, FilesCutAtEveryLength) {
  const IsamBuilder b = ismgr::testing::damage_base();
  for (bool index : {true, false}) {
    const std::vector<uint8_t> bytes = index ? b.index_file() : b.data_file();
    ASSERT_TRUE(b.write_files(dir_.path().string(), "f"));
    const size_t whole = index ? 6144 : 8192 + 512;
    for (size_t cut = 0; cut < bytes.size(); cut += (cut < whole ? (index ? 1 : 7) : 61)) {
      const std::string leaf = dir_.file(index ? "f.ism" : "f.is1");
      std::filesystem::remove(leaf);  // a new file: truncating in place is slow on some systems
      ASSERT_TRUE(IsamBuilder::write_file(leaf, {bytes.begin(), bytes.begin() + cut}));
      describe_or_refuse(cut % 2 ? "-x f" : "f",
                         std::to_string(cut) + (index ? " index" : " data"));
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(refused_, 0);
  EXPECT_GT(described_, 0);
}

// The shared table of damaged headers, in both formats.
TEST_F(QdescGolden, DamagedHeaders) {
  for (const ismgr::testing::DamagedHeader& d : ismgr::testing::damaged_headers()) {
    ASSERT_TRUE(d.build().write_files(dir_.path().string(), "f"));
    describe_or_refuse("f", d.name);
    describe_or_refuse("-x f", d.name);
  }
  EXPECT_GT(refused_, 0);
  EXPECT_GT(described_, 0);
}

}  // namespace
}  // namespace ismgr::tool
