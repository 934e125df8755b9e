// The commands agree on every file qcreate makes: each generated valid
// description creates a file pair that opens, describes as XDL, is created
// again from that description byte for byte (creation times apart), and
// describes as PAR; each broken one fails with a status and a detail and
// leaves no file. ISMGR_CONFORMANCE_SEEDS=n runs n seeds instead of the
// fixed ones; ISMGR_CONFORMANCE_SEED=n replays the seed a failure names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <set>
#include <sstream>

#include "ismgr/channel/channel.h"
#include "ismgr/describe/open_create.h"
#include "ismgr/describe/xdl_keywords.h"
#include "ismgr/isam/isam_format.h"
#include "ismgr/isam/isam_open.h"
#include "support/description_generator.h"
#include "support/detail_capture.h"
#include "support/run_command.h"
#include "support/scratch_dir.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

namespace ismgr {
namespace {

constexpr uint64_t kFixedSeeds = 300;

std::vector<uint64_t> seeds() {
  const char* one = std::getenv("ISMGR_CONFORMANCE_SEED");
  const char* many = std::getenv("ISMGR_CONFORMANCE_SEEDS");
  std::vector<uint64_t> v(many != nullptr ? std::strtoull(many, nullptr, 10) : kFixedSeeds);
  std::iota(v.begin(), v.end(), uint64_t{0});
  return one != nullptr ? std::vector<uint64_t>{std::strtoull(one, nullptr, 10)} : v;
}

class Conformance : public ::testing::Test {
 protected:
  void SetUp() override {
    install_file_creation();
    saved_revision_ = process_config()->creation_revision;
  }
  void TearDown() override {
    process_config()->creation_revision = saved_revision_;
    set_isam_create(nullptr);  // later tests of the process expect no creation
  }

  // Creates (and opens) `leaf` from the XDL text, as qcreate does; the
  // status, 0 on success.
  int create(const std::string& leaf, const std::string& xdl, int revision) {
    process_config()->creation_revision = revision;
    const std::string path = dir_.write(leaf + ".xdl", xdl);
    default_status()->code = 0;
    channel* ch = channel_open(current_context(), dir_.file(leaf).c_str(),
                               kModeOutput | kModeIsam | IM_SPRCED, 0, 0, nullptr,
                               ("@" + path).c_str(), nullptr);
    std::filesystem::remove(path);
    if (ch == nullptr) return default_status()->code != 0 ? default_status()->code : -1;
    int32_t code = 0;
    return channel_close(ch, 0, &code) < 0 ? -1 : code;
  }
  // qdesc (the command's own run, in this process) over `leaf`: its exit
  // status; its output and messages in *out.
  int describe(bool xdl, const std::string& leaf, std::string* out) {
    // (Not tmpfile(): the Windows runtime makes it in the drive's root.)
    std::FILE* o = std::fopen(dir_.file("describe.out").c_str(), "w+b");
    if (o == nullptr) return -1;
    tool::ChannelOpener opener(current_context());
    const std::string file = dir_.file(leaf);
    const char* argv[] = {"qdesc", xdl ? "-x" : file.c_str(), file.c_str()};
    const int status = tool::run_qdesc(xdl ? 3 : 2, argv, opener, o, o);
    *out = test::stream_text(o);
    std::fclose(o);
    return status;
  }
  // Where the pairs `a` and `b` differ, apart from their creation times (the
  // header's at bytes 28 to 31, and the start of change tracking, taken a
  // moment before it); empty when they do not.
  std::string difference(const std::string& a, const std::string& b) {
    const auto time_at = [](const std::string& s, size_t at) {
      return get_u32(reinterpret_cast<const uint8_t*>(s.data()) + at);
    };
    for (const char* extension : {".ism", ".is1"}) {
      const std::string x = dir_.read(a + extension);
      std::string y = dir_.read(b + extension);
      if (x.size() < 32 || y.size() != x.size()) return std::string(extension) + " sizes differ";
      if (x == y) continue;
      const uint32_t created_x = time_at(x, 28), created_y = time_at(y, 28);
      for (size_t at = 0; at + 4 <= x.size(); ++at) {
        if (x.compare(at, 4, y, at, 4) != 0 && time_at(x, at) - created_x + 2 <= 2 &&
            time_at(y, at) - created_y + 2 <= 2) {
          y.replace(at, 4, x, at, 4);
        }
      }
      if (x != y) return std::string(extension) + " differs";
    }
    return "";
  }

  void clear() {
    for (const auto& file : std::filesystem::directory_iterator(dir_.path()))
      std::filesystem::remove(file);
  }

  test::ScratchDir dir_{true};  // thousands of files made and deleted
  int32_t saved_revision_ = 0;
};

// Every broken description explains its failure, except by the autokey
// rules, which the parser states with status 2 alone.
TEST_F(Conformance, GeneratedDescriptionsRoundTripAndBrokenOnesFail) {
  for (const uint64_t seed : seeds()) {
    SCOPED_TRACE("replay with ISMGR_CONFORMANCE_SEED=" + std::to_string(seed));
    const test::GeneratedDescription d = test::generate_description(seed);
    std::string xdl, par, what;
    clear();  // files are made afresh: replacing them costs more
    testing_support::DetailCapture details;
    ASSERT_EQ(create("a", d.xdl, d.revision), 0) << details.dump() << d.xdl;
    ASSERT_EQ(describe(true, "a", &xdl), 0) << d.xdl;
    ASSERT_EQ(create("b", xdl, d.revision), 0) << d.xdl << "\ndescribed as\n" << xdl;
    // What a description does not carry by rule is left out of the original.
    const bool exempt = d.carried != d.xdl;
    ASSERT_EQ(exempt ? create("c", d.carried, d.revision) : 0, 0) << d.carried;
    ASSERT_EQ(difference(exempt ? "c" : "a", "b"), "") << d.xdl << "\ndescribed as\n" << xdl;
    // PAR carries a file text on its file line only: a long one is refused.
    const int par_status = describe(false, "b", &par);
    ASSERT_TRUE(par_status == 0 || par.find("File Text exceeds") != std::string::npos) << par;

    clear();
    const std::string broken = test::break_description(d, seed, &what);
    details.clear();
    const int status = create("a", broken, d.revision);
    EXPECT_NE(status, 0) << what << "\n" << broken;
    EXPECT_TRUE(status == 2 || !details.details().empty()) << what << " " << status;
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path())) << what;
  }
}

// The fixed seeds use every entry of the keyword table, those that are
// recognised and ignored included: the generator cannot silently shrink.
// SEGn_POSITION and SEGn_LENGTH count as the description reader rewrites them.
TEST(ConformanceCorpus, FixedSeedsUseEveryKeyword) {
  std::set<int> used;
  for (uint64_t seed = 0; seed < kFixedSeeds; ++seed) {
    std::istringstream in(test::generate_description(seed).xdl);
    for (std::string line, word; std::getline(in, line);) {
      std::istringstream(line) >> word;
      if (word.starts_with("SEG")) word = word.ends_with("POSITION") ? "segpos" : "seglen";
      used.insert(match_keyword(word, kMainKeywords));
    }
  }
  for (int i = 0; i < kMainKeywordCount; ++i) EXPECT_EQ(used.count(i), 1u) << kMainKeywords[i];
}

// qcreate leaves nothing it made when the open after the creation fails
// (here on a leftover ".is2" marker), and qinfo names a missing file as
// qdesc does: as the user gave it, expanded.
TEST_F(Conformance, CommandsAgreeOnFailures) {
  dir_.write("d.xdl",
             "FILE\n NAME a\nRECORD\n SIZE 100\n PORT_INT 97:4\nKEY 0\n START 1\n LENGTH 4\n");
  dir_.write("a_ism.is2", "");
  const std::string in_dir = dir_.path().string();
  EXPECT_EQ(test::run_command(in_dir, test::command_path("qcreate") + " d.xdl").exit_status, 1);
  EXPECT_FALSE(dir_.exists("a.ism") || dir_.exists("a.is1"));
  EXPECT_TRUE(dir_.exists("a_ism.is2"));
  const auto named = [&](const char* command, const char* item) {
    const std::string err =
        test::run_command(in_dir, test::command_path(command) + " nofile.ism " + item).err;
    return err.substr(std::min(err.find("File specified was"), err.size()));
  };
  EXPECT_EQ(named("qinfo", "size"), named("qdesc", ""));
}

}  // namespace
}  // namespace ismgr
