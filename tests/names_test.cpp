#include "ismgr/fileio/names.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"
#include "support/table_file.h"

namespace ismgr {
namespace {

using testing_support::status_of;

// Sets "NAME=value;NAME=value" for one scope and removes it afterwards; the
// case rules are read afresh after every change.
class Env {
 public:
  explicit Env(const std::string& settings = "") {
    for (const char* name : {"VRXCASE", "TMP", "TEMP"}) unset(name);
    std::stringstream in(settings);
    for (std::string item; std::getline(in, item, ';');) {
      set(item.substr(0, item.find('=')), item.substr(item.find('=') + 1));
    }
  }
  ~Env() {
    for (const std::string& name : names_) unset(name);
  }
  void set(const std::string& name, const std::string& value) {
    ASSERT_TRUE(platform::put_env((name + "=" + value).c_str()));
    names_.push_back(name);
    reset_name_case_rules();
  }
  static void unset(const std::string& name) {
    platform::put_env((name + "=").c_str());
    reset_name_case_rules();
  }

 private:
  std::vector<std::string> names_;
};

int expand(const std::string& name, const std::string& defaults, std::string* out, int type = 1,
           size_t max_length = kMaxExpandedName, bool search = false) {
  NameRequest request;
  request.default_name = defaults;
  request.type = type;
  request.search = search;
  request.max_length = max_length;
  return expand_file_name(name, request, out);
}

TEST(NameExpansion, Table) {
  for (const auto& r : test::read_table("tables/name_expansion.txt", 5)) {
    Env env(r.f[0]);
    std::string out;
    EXPECT_EQ(expand(r.f[1], r.f[2], &out, std::stoi(r.f[3])), 0) << r.where;
    EXPECT_EQ(out, r.f[4]) << r.where;
  }
  Env env("VRXCASE=U");
  NameRequest request;
  request.default_name = ".ism";
  request.no_case = true;
  std::string out;
  bool blank = false;
  EXPECT_EQ(expand_file_name("cust", request, &out, &blank), 0);
  EXPECT_EQ(out, "cust.ism");
  EXPECT_FALSE(blank);
  EXPECT_EQ(expand_file_name(" \t", request, &out, &blank), 0);
  EXPECT_TRUE(blank);
  ASSERT_TRUE(platform::put_env("VRXCASE=L"));  // the case rules are read once
  EXPECT_EQ((expand("cust", ".ism", &out), out), "CUST.ISM");
  const struct {
    const char* value;
    int logical, file;
  } rules[] = {{"", 0, 0}, {"l,U", -1, 1}, {"Lx", -1, -1}, {"x,l", 0, -1}};
  for (const auto& r : rules) {
    Env env(std::string("VRXCASE=") + r.value);
    EXPECT_EQ(name_case_rules().logical, r.logical) << r.value;
    EXPECT_EQ(name_case_rules().file, r.file) << r.value;
  }
}

TEST(NameExpansion, SearchListTriesEveryElementButTheLast) {
  test::ScratchDir first, second;
  Env env("LIST=" + first.path().string() + "," + second.path().string());
  std::string out;
  expand("LIST:cust", ".ISM", &out, 1, kMaxExpandedName, true);
  EXPECT_EQ(out, second.file("cust.ism"));  // nowhere yet: the last element
  first.write("cust.ism", "x");
  expand("LIST:cust", ".ISM", &out, 1, kMaxExpandedName, true);
  EXPECT_EQ(out, first.file("cust.ism"));
  expand("LIST:cust", ".ISM", &out, 1, kMaxExpandedName, false);
  EXPECT_EQ(out, first.file("cust.ism"));
}

// Names that do not fit are refused, never cut; logical names are bounded.
TEST(NameExpansion, LimitsAndLoops) {
  const size_t n = 530;
  const std::string deep = "/" + std::string(600, 'd');
  const struct {
    std::string env, name, defaults;
    size_t limit;
    int status;
  } rows[] = {
      {"", std::string(n - 4, 'a'), ".ISM", n, 0},
      {"", std::string(n - 3, 'a'), ".ISM", n, kStatusNameTooLong},
      {"LONG=" + deep, "LONG:x", ".ISM", n, kStatusNameTooLong},
      {"", "/" + std::string(kMaxExpandedName - 5, 'p'), ".ISM", kMaxExpandedName, 0},
      {"", "/" + std::string(kMaxExpandedName - 4, 'p'), ".ISM", kMaxExpandedName,
       kStatusNameTooLong},
      {"PING=PONG:a;PONG=PING:b", "PING:x", ".ISM", kMaxExpandedName, kStatusBadFileSpec},
  };
  std::string out;
  for (size_t i = 0; i < std::size(rows); ++i) {
    Env env(rows[i].env);
    EXPECT_EQ(expand(rows[i].name, rows[i].defaults, &out, 1, rows[i].limit), rows[i].status)
        << "row " << i;
  }
  // A chain exactly as deep as the bound still expands; one more does not.
  Env env;
  for (int i = 1; i < kMaxLogicalNameDepth; ++i) {
    env.set("L" + std::to_string(i), "L" + std::to_string(i + 1) + ":");
  }
  env.set("L" + std::to_string(kMaxLogicalNameDepth), "/end");
  EXPECT_EQ(expand("L1:cust", ".ISM", &out), 0);
  EXPECT_EQ(out, "/end/cust.ism");
  env.set("L" + std::to_string(kMaxLogicalNameDepth), "L99:");
  env.set("L99", "/end");
  EXPECT_EQ(expand("L1:cust", ".ISM", &out), kStatusBadFileSpec);
  // In place: the result stays inside the buffer, which is untouched when
  // the name does not fit.
  std::vector<char> buffer(kMinNameBuffer + 8, '#');
  auto in_place = [&](const std::string& name, const char* defaults) {
    std::memcpy(buffer.data(), name.c_str(), name.size() + 1);
    return expand_name(buffer.data(), kMinNameBuffer, defaults, 1, false, nullptr, false);
  };
  EXPECT_EQ(in_place(std::string(kMinNameBuffer - 5, 'f'), ".ISM"), kMinNameBuffer - 1);
  const std::string over(kMinNameBuffer - 4, 'o');
  EXPECT_EQ(status_of([&] { in_place(over, ".ISM"); }), kStatusNameTooLong);
  EXPECT_EQ(std::string(buffer.data()), over);
  EXPECT_EQ(buffer[kMinNameBuffer], '#');
}

TEST(UniqueName, CountsLikeAnOdometerAndGivesUp) {
  std::vector<std::string> tried;
  std::string path = "/w/tXXX";
  EXPECT_TRUE(unique_name(&path, [&](const std::string& candidate) {
    tried.push_back(candidate);
    return tried.size() <= 28 ? 0 : ENOENT;  // the first 28 exist
  }));
  ASSERT_EQ(tried.size(), 29u);
  EXPECT_EQ(tried[0], "/w/t000");
  EXPECT_EQ(tried[26], "/w/tz00");
  EXPECT_EQ(path, "/w/tba0");
  // 50 access-denied answers are tolerated, 51 are not; anything else ends it.
  const struct {
    int error, answers;
    bool found;
    int calls;
  } rows[] = {{EACCES, 50, true, 51}, {EACCES, 1000, false, 51}, {EINVAL, 1000, false, 1}};
  for (const auto& r : rows) {
    int calls = 0;
    path = "tXXX";
    EXPECT_EQ(
        unique_name(&path,
                    [&](const std::string&) { return ++calls <= r.answers ? r.error : ENOENT; }),
        r.found);
    EXPECT_EQ(calls, r.calls) << r.error;
  }
  test::ScratchDir dir;  // by default the disk is asked
  dir.write("wk000", "");
  path = dir.file("wkXXX");
  EXPECT_TRUE(unique_name(&path));
  EXPECT_EQ(path, dir.file("wka00"));
}

TEST(FileStatusTest, SizesAndFailures) {
  test::ScratchDir dir;
  FileStat st;
  ASSERT_EQ(file_status(dir.write("data.dat", "12345").c_str(), &st), 0);
  EXPECT_EQ(st.mode, 0x81B6u);
  EXPECT_EQ(st.size, 5u);
  ASSERT_EQ(file_status("\\", &st), 0);
  EXPECT_EQ(st.mode & 0xF000u, kModeDirectory);
  const std::string no_dir = dir.file("nodir/missing"), missing = dir.file("missing");
  const struct {
    const char* path;
    int err;
  } failures[] = {{nullptr, EINVAL},
                  {missing.c_str(), ENOENT},
                  {no_dir.c_str(), EINVAL}};  // "path not found" is neither
  for (const auto& f : failures) {
    st.mode = 7, st.size = 9, st.modified = 11;
    errno = 0;
    EXPECT_EQ(file_status(f.path, &st), -1) << (f.path ? f.path : "null");
    EXPECT_EQ(errno, f.err) << (f.path ? f.path : "null");
    EXPECT_EQ(st.mode + st.size + st.modified, 0u);
  }
  const std::string a = dir.write("a", "new"), b = dir.write("b", "old"), c = dir.file("c");
  std::filesystem::create_directories(dir.path() / "full" / "inner");
  EXPECT_EQ(replace_by_rename(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(replace_by_rename(b.c_str(), c.c_str()), 0);                 // no target yet
  EXPECT_EQ(replace_by_rename(c.c_str(), dir.file("full").c_str()), 1);  // cannot be deleted
  EXPECT_EQ(dir.read("c"), "new");
}

// CRC-32, most significant bit first, computed bit by bit.
uint32_t bitwise_hash(const uint8_t* p, size_t n) {
  uint32_t h = 0;
  for (size_t i = 0; i < n; ++i) {
    h ^= static_cast<uint32_t>(p[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) h = (h & 0x80000000u) ? (h << 1) ^ 0x04C11DB7u : h << 1;
  }
  return h;
}

TEST(RecordHash, AgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
  EXPECT_EQ(record_hash("abc", 3), 0x2C17398Cu);
  std::mt19937 rng(9);
  std::vector<uint8_t> data(300);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t n = 0; n + offset <= data.size(); n += 1 + n / 16) {
      ASSERT_EQ(record_hash(data.data() + offset, n), bitwise_hash(data.data() + offset, n))
          << "offset " << offset << " length " << n;
    }
  }
}

}  // namespace
}  // namespace ismgr
