// Damaged files: qdesc describes them or refuses them with a status, and
// never crashes or reads outside what it read. The description runs through
// the command's own entry (run_qdesc over the channel open), in process, so
// that the sanitizer build watches every byte; a sample also runs through the
// binary.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/runtime/context.h"
#include "support/isam_builder.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "support/stream_text.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

namespace ismgr::tool {
namespace {

using ismgr::testing::IsamBuilder;
using ismgr::testing::KeySpec;
using ismgr::testing::SegmentSpec;

class DamagedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_process_for_test();
    ctl_ = ismgr_init();
    ASSERT_NE(ctl_, nullptr);
  }
  void TearDown() override { ismgr_shutdown(ctl_); }

  static std::string take(std::FILE* f) {
    std::string text = test::stream_text(f);
    std::rewind(f);
    return text;
  }

  // Describes dir/f as `option` ("" or "-x"); the outcome must be a whole
  // description (status 0, text ending in a line end) or a refusal (status
  // 1 with the reporter's message, nothing on the description stream).
  // Returns the exit status; the description is left in last_text_.
  int describe_or_refuse(const char* option, const std::string& what) {
    const std::string name = dir_.file("f");
    std::vector<const char*> argv{"qdesc"};
    if (*option) argv.push_back(option);
    argv.push_back(name.c_str());
    ChannelOpener opener(ctl_);
    // Fresh streams per run: what one run wrote must not mask the next.
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr) {
      ADD_FAILURE() << "no temporary file";
      return -1;
    }
    const int rc =
        run_qdesc(static_cast<int>(argv.size()), argv.data(), opener, out, err, [] { return 0; });
    const std::string text = take(out);
    const std::string error = take(err);
    std::fclose(out);
    std::fclose(err);
    last_text_ = text;
    if (rc == 0) {
      EXPECT_EQ(error, "") << what;
      EXPECT_TRUE(!text.empty() && text.back() == '\n') << what;
      ++described_;
    } else {
      EXPECT_EQ(rc, 1) << what;
      EXPECT_EQ(error.rfind("\n%QDESC-E-", 0), 0u) << what << ": " << error;
      EXPECT_NE(error.find("%QDESC-I-01: File specified was "), std::string::npos) << what;
      ++refused_;
    }
    return rc;
  }
  // Writes a new file: rewriting a file in place by truncating it makes some
  // file systems flush it to disk on close, which is slow.
  void put(const std::string& leaf, const std::vector<uint8_t>& bytes, size_t length) {
    std::filesystem::remove(dir_.file(leaf));
    ASSERT_TRUE(IsamBuilder::write_file(
        dir_.file(leaf), std::vector<uint8_t>(bytes.begin(), bytes.begin() + length)));
  }

  // A revision-6 file with a bit of everything the description decodes:
  // a segmented key, a non-replicating null value, a file text behind its
  // prefix, a preallocation in records, a portable integer and counts.
  static IsamBuilder rich() {
    IsamBuilder b;
    b.record_length(120).file_flags(0x18).add_key(KeySpec::alpha("CUST", 0, 10));
    KeySpec seg;
    seg.name = "NAME";
    seg.flags = 0x04 | 0x20;
    seg.segments = {SegmentSpec{0x21, 10, 20}, SegmentSpec{0x02, 30, 6}};
    b.add_key(seg).null_values({4, 'n', 'i', 'l'});
    b.file_text_prefixed(std::string(70, 't')).preallocation(10, true).port_int(40, 4);
    b.counts(9, 2, 7, 1).vectors(3, 64).free_list_head(0x4000);
    return b;
  }

  ismgr_control* ctl_ = nullptr;
  test::ScratchDir dir_;
  int described_ = 0;
  int refused_ = 0;
  std::string last_text_;
};

TEST_F(DamagedFiles, IndexFileCutAtEveryLength) {
  const IsamBuilder b = rich();
  const std::vector<uint8_t> index = b.index_file();
  put("f.is1", b.data_file(), b.data_file().size());
  // Every length through the header region (8192 bytes); beyond it the
  // index blocks, which a description does not read, in steps.
  for (size_t cut = 0; cut < index.size(); cut += (cut < 8192 + 512 ? 1 : 61)) {
    put("f.ism", index, cut);
    describe_or_refuse(cut % 2 ? "-x" : "", "index cut at " + std::to_string(cut));
    if (HasFatalFailure()) return;
  }
  // The header region is needed whole; past it only the index blocks go.
  EXPECT_GT(refused_, 0);
  EXPECT_GT(described_, 0);
}

TEST_F(DamagedFiles, DataFileCutAtEveryLength) {
  const IsamBuilder b = rich();
  const std::vector<uint8_t> data = b.data_file();
  put("f.ism", b.index_file(), b.index_file().size());
  for (size_t cut = 0; cut < data.size(); cut += (cut < 8192 + 512 ? 1 : 61)) {
    put("f.is1", data, cut);
    describe_or_refuse(cut % 2 ? "" : "-x", "data cut at " + std::to_string(cut));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(refused_, 0);
  EXPECT_GT(described_, 0);
}

// Without its index the data file's copy of the header is described; cut,
// it is described or refused like the index.
TEST_F(DamagedFiles, DataFileAloneCutAtEveryLength) {
  const std::vector<uint8_t> data = rich().data_file();
  for (size_t cut = 0; cut < data.size(); cut += (cut < 8192 ? 1 : 61)) {
    put("f.is1", data, cut);
    describe_or_refuse(cut % 2 ? "-x" : "", "data alone cut at " + std::to_string(cut));
    if (HasFatalFailure()) return;
  }
  EXPECT_GT(described_, 0);
}

TEST_F(DamagedFiles, EmptyAndMissingFiles) {
  const IsamBuilder b = rich();
  put("f.ism", {}, 0);
  put("f.is1", {}, 0);
  EXPECT_EQ(describe_or_refuse("", "both empty"), 1);
  // An empty index: the data file's copy of the header is described.
  put("f.is1", b.data_file(), b.data_file().size());
  EXPECT_EQ(describe_or_refuse("-x", "empty index"), 0);
  EXPECT_EQ(last_text_.rfind("!\tWARNING: Cannot access index file\n", 0), 0u) << last_text_;
  // The data file holds the records: without it nothing is described.
  put("f.ism", b.index_file(), b.index_file().size());
  put("f.is1", {}, 0);
  EXPECT_EQ(describe_or_refuse("", "empty data"), 1);
  std::filesystem::remove(dir_.file("f.is1"));
  EXPECT_EQ(describe_or_refuse("-x", "index without data"), 1);
}

// Headers whose counts, sizes and offsets cannot be right.
TEST_F(DamagedFiles, ImpossibleCountsAndOffsets) {
  struct Case {
    const char* what;
    IsamBuilder b;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what) -> IsamBuilder& {
    cases.push_back(Case{what, rich()});
    return cases.back().b;
  };
  // Header fields changed in the index and in the data file's copy alike,
  // so that the retry through the data file meets them too.
  auto both = [](IsamBuilder& b, size_t offset, const std::vector<uint8_t>& bytes) {
    b.poke_index(offset, bytes).poke_data(offset, bytes);
  };
  add("no keys").key_count_override(0);
  add("255 keys").key_count_override(255);
  add("header size 10").header_size_override(10);
  add("header size 65535").header_size_override(0xFFFF);
  add("dynamic size 0").dynamic_size_override(0);
  add("dynamic size 5").dynamic_size_override(5);
  add("dynamic size 65535").dynamic_size_override(0xFFFF);
  add("longest key 65535").max_key_size_override(0xFFFF);
  add("255 free slots").slot_count_override(255);
  add("data start 1").data_start_override(1);
  // The extension's text_offset (header offset 212 behind two keys, one
  // portable integer and a 4-byte null area) far beyond the data file.
  both(add("text offset far out"), 212, {0x00, 0xFF, 0xFF, 0xFF});
  add("text offset 0").text_offset_override(0);
  both(add("255 portable integers"), 6, {0xFF});
  both(add("page size 0"), 5, {0});
  both(add("page size 256"), 5, {1});
  both(add("record size and overhead 0"), 16, {0, 0});
  both(cases.back().b, 8, {0, 0});
  both(add("null area size 65535"), 18, {0xFF, 0xFF});
  both(add("dynamic offset far out"), 24, {0, 0, 0, 0x7F});
  both(add("allocation 4G records"), 204, {0xFF, 0xFF, 0xFF, 0xFF});
  // Text prefix with a length in use of 4 GB - 1 and an allocation word
  // claiming 64 MB.
  {
    IsamBuilder& b = add("text length 4G");
    b.poke_data(b.text_location(), {0, 0, 0, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF});
  }
  {
    // The non-replicating null value of key 1 points beyond its area, then
    // claims more bytes than the area holds.
    IsamBuilder& far = add("null value offset beyond the area");
    both(far, 52 + 68 + 44, {200, 0});
    IsamBuilder& big = add("null value count beyond the area");
    big.null_values({250, 'x'});
  }
  {
    // Every segment length set: eight segments, all of unknown type.
    IsamBuilder& b = add("eight segments of unknown types");
    KeySpec k;
    k.name = "ODD";
    k.flags = 0x20;
    for (uint16_t s = 0; s < 8; ++s) k.segments.push_back(SegmentSpec{0x1F, s, 1});
    b.add_key(k);
  }
  for (Case& c : cases) {
    put("f.ism", c.b.index_file(), c.b.index_file().size());
    put("f.is1", c.b.data_file(), c.b.data_file().size());
    describe_or_refuse("", c.what);
    describe_or_refuse("-x", c.what);
    if (HasFatalFailure()) return;
  }
}

// The binary itself, on a sample of cut files: an exit status of 0 or 1,
// never a signal.
TEST_F(DamagedFiles, BinaryOnASampleOfCutFiles) {
  const IsamBuilder b = rich();
  const std::vector<uint8_t> index = b.index_file();
  const std::vector<uint8_t> data = b.data_file();
  for (size_t cut : {size_t{0}, size_t{1}, size_t{51}, size_t{52}, size_t{4095}, size_t{4097},
                     size_t{5000}, size_t{8191}}) {
    put("f.ism", index, std::min(cut, index.size()));
    put("f.is1", data, data.size());
    auto r = test::run_command(dir_.path().string(), test::command_path("qdesc") + " -x f");
    EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << "index " << cut;
    put("f.ism", index, index.size());
    put("f.is1", data, std::min(cut, data.size()));
    r = test::run_command(dir_.path().string(), test::command_path("qdesc") + " f");
    EXPECT_TRUE(r.exit_status == 0 || r.exit_status == 1) << "data " << cut;
  }
}

}  // namespace
}  // namespace ismgr::tool
