#include "ismgr/fileio/names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"
#include "support/table_file.h"

namespace ismgr {
namespace {

using testing_support::status_of;

// Sets "NAME=value;NAME=value" for one scope (VRXCASE, TMP and TEMP unset)
// and restores the environment afterwards; the case rules are read afresh
// after every change.
class Env {
 public:
  explicit Env(const std::string& settings = "") {
    for (const char* name : {"VRXCASE", "TMP", "TEMP"}) {
      if (const char* value = platform::get_env(name)) saved_.emplace_back(name, value);
      unset(name);
    }
    std::stringstream in(settings);
    for (std::string item; std::getline(in, item, ';');) {
      set(item.substr(0, item.find('=')), item.substr(item.find('=') + 1));
    }
  }
  ~Env() {
    for (const std::string& name : names_) unset(name);
    for (const auto& [name, value] : saved_) platform::put_env((name + "=" + value).c_str());
    reset_name_case_rules();  // (the process's TMP and TEMP back for later tests)
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
  std::vector<std::pair<std::string, std::string>> saved_;
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
  const std::tuple<const char*, int, int> rules[] = {
      {"", 0, 0}, {"l,U", -1, 1}, {"Lx", -1, -1}, {"x,l", 0, -1}};
  for (const auto& [value, logical, file] : rules) {
    Env env(std::string("VRXCASE=") + value);
    EXPECT_EQ(std::pair(name_case_rules().logical, name_case_rules().file),
              std::pair(logical, file))
        << value;
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
  const std::tuple<std::string, std::string, size_t, int> rows[] = {
      // env, name, limit, status
      {"", std::string(n - 4, 'a'), n, 0},
      {"", std::string(n - 3, 'a'), n, kStatusNameTooLong},
      {"LONG=" + deep, "LONG:x", n, kStatusNameTooLong},
      {"", "/" + std::string(kMaxExpandedName - 5, 'p'), kMaxExpandedName, 0},
      {"", "/" + std::string(kMaxExpandedName - 4, 'p'), kMaxExpandedName, kStatusNameTooLong},
      {"PING=PONG:a;PONG=PING:b", "PING:x", kMaxExpandedName, kStatusBadFileSpec},
  };
  std::string out;
  for (const auto& [settings, name, limit, status] : rows) {
    Env env(settings);
    EXPECT_EQ(expand(name, ".ISM", &out, 1, limit), status) << name.substr(0, 20);
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

}  // namespace
}  // namespace ismgr
