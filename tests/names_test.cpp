#include "ismgr/fileio/names.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/status.h"
#include "support/detail_capture.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using testing_support::status_of;

// Sets environment variables for one test and removes them afterwards; the
// case rules are read afresh after every change of "VRXCASE".
class Env {
 public:
  ~Env() {
    for (const std::string& name : names_) platform::put_env((name + "=").c_str());
    reset_name_case_rules();
  }
  void set(const std::string& name, const std::string& value) {
    ASSERT_TRUE(platform::put_env((name + "=" + value).c_str()));
    names_.push_back(name);
    reset_name_case_rules();
  }
  void unset(const std::string& name) {
    platform::put_env((name + "=").c_str());
    reset_name_case_rules();
  }

 private:
  std::vector<std::string> names_;
};

class NameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.unset("VRXCASE");
    env_.unset("TMP");
    env_.unset("TEMP");
  }

  // Expands with the given request fields and expects success.
  std::string expand(const std::string& name, const std::string& defaults, int type = kNameDefault,
                     bool search = false, bool no_case = false) {
    NameRequest request;
    request.default_name = defaults;
    request.type = type;
    request.search = search;
    request.no_case = no_case;
    std::string out;
    const int status = expand_file_name(name, request, &out);
    EXPECT_EQ(status, 0) << name;
    return out;
  }
  int expand_status(const std::string& name, const std::string& defaults, size_t max_length,
                    bool search = false) {
    NameRequest request;
    request.default_name = defaults;
    request.search = search;
    request.max_length = max_length;
    std::string out;
    return expand_file_name(name, request, &out);
  }

  Env env_;
};

// ---------------------------------------------------------------------------
// Default extension, default directory, separators, white space.
// ---------------------------------------------------------------------------

TEST_F(NameTest, DefaultExtensionFollowsTheTypeAndTheCaseOfTheName) {
  EXPECT_EQ(expand("cust", ".ISM"), "cust.ism");
  EXPECT_EQ(expand("Cust", ".ism"), "Cust.ISM");
  EXPECT_EQ(expand("9cust", ".ISM", kNameKeepUndefined), "9cust.ism");
  EXPECT_EQ(expand("cust", ".IsM", kNameExtensionAsIs), "cust.IsM");
  EXPECT_EQ(expand("Cust", ".ism", kNameNoFileNameCase), "Cust.ISM");
  for (int type : {0, 3, 6, -1}) EXPECT_EQ(expand("cust", ".ISM", type), "cust") << type;
  // A name that has an extension keeps it.
  EXPECT_EQ(expand("cust.dat", ".ISM"), "cust.dat");
  // A dot in a directory does not count as an extension.
  EXPECT_EQ(expand("/v1.2/cust", ".ISM"), "/v1.2/cust.ism");
}

TEST_F(NameTest, FinalDotMeansNoExtension) {
  EXPECT_EQ(expand("cust.", ".ISM"), "cust");
  EXPECT_EQ(expand("a.b.", ".ISM"), "a.b");
  EXPECT_EQ(expand("cust.", ".ISM", 0), "cust.");  // types without extension leave it
}

TEST_F(NameTest, DefaultDirectory) {
  EXPECT_EQ(expand("cust", "/data/.ISM"), "/data/cust.ism");
  EXPECT_EQ(expand("sub/cust", "/data/.ISM"), "/data/sub/cust.ism");
  EXPECT_EQ(expand("/abs/cust", "/data/.ISM"), "/abs/cust.ism");
  // The default specification may use either separator.
  EXPECT_EQ(expand("cust", "\\data\\.ISM"), "/data/cust.ism");
  // A drive prefix equal to the default directory's drive (any case).
  EXPECT_EQ(expand("c:cust", "C:\\data\\.ISM"), "C:/data/cust.ism");
  EXPECT_EQ(expand("d:cust", "C:\\data\\.ISM"), "d:cust.ism");
  // Without a separator the whole default is the extension.
  EXPECT_EQ(expand("cust", ".DDF"), "cust.ddf");
  EXPECT_EQ(expand("cust", ""), "cust");
}

TEST_F(NameTest, BackslashesAreSeparators) {
  EXPECT_EQ(expand("dir\\sub\\Cust", ".ISM"), "dir/sub/Cust.ISM");
  EXPECT_EQ(expand("\\abs\\cust", "/data/.ISM"), "/abs/cust.ism");
  // A name beginning with two separators is a plain absolute path.
  EXPECT_EQ(expand("//host/share/cust", "/data/.ISM"), "//host/share/cust.ism");
}

TEST_F(NameTest, TrailingWhiteSpaceAndBlankNames) {
  EXPECT_EQ(expand("cust  \t", ".ISM"), "cust.ism");
  NameRequest request;
  request.default_name = ".ISM";
  std::string out;
  bool blank = false;
  EXPECT_EQ(expand_file_name("   ", request, &out, &blank), 0);
  EXPECT_TRUE(blank);
  EXPECT_EQ(out, ".ism");  // the expansion goes on with the empty name
  EXPECT_EQ(expand_file_name("", request, &out, &blank), 0);
  EXPECT_TRUE(blank);
  EXPECT_EQ(expand_file_name(" x", request, &out, &blank), 0);
  EXPECT_FALSE(blank);
  EXPECT_EQ(out, " x.ism");
}

TEST_F(NameTest, DevicePathsStayAsGiven) {
  env_.set("VRXCASE", "U");
  EXPECT_EQ(expand("\\\\.\\com1", ".ISM"), "//./com1");
  EXPECT_EQ(expand("//./pipe/x", "/data/.ISM"), "//./pipe/x");
}

// ---------------------------------------------------------------------------
// Case rules.
// ---------------------------------------------------------------------------

TEST_F(NameTest, CaseRulesFromTheSetting) {
  EXPECT_EQ(name_case_rules().logical, 0);
  EXPECT_EQ(name_case_rules().file, 0);
  env_.set("VRXCASE", "U");
  EXPECT_EQ(name_case_rules().logical, 1);
  EXPECT_EQ(name_case_rules().file, 1);
  env_.set("VRXCASE", "l,U");
  EXPECT_EQ(name_case_rules().logical, -1);
  EXPECT_EQ(name_case_rules().file, 1);
  env_.set("VRXCASE", "Lx");  // shorter than three: both from the first
  EXPECT_EQ(name_case_rules().logical, -1);
  EXPECT_EQ(name_case_rules().file, -1);
  env_.set("VRXCASE", "x,l");
  EXPECT_EQ(name_case_rules().logical, 0);
  EXPECT_EQ(name_case_rules().file, -1);
}

TEST_F(NameTest, CaseRulesAreReadOnce) {
  env_.set("VRXCASE", "U");
  EXPECT_EQ(expand("cust", ".ism"), "CUST.ISM");
  // A later change is not seen until the rules are reset.
  ASSERT_TRUE(platform::put_env("VRXCASE=L"));
  EXPECT_EQ(expand("cust", ".ism"), "CUST.ISM");
  reset_name_case_rules();
  EXPECT_EQ(expand("CUST", ".ISM"), "cust.ism");
}

TEST_F(NameTest, FileNameCaseAppliesToTheLastComponentOnly) {
  env_.set("VRXCASE", "U");
  EXPECT_EQ(expand("/data/dir/cust", ".ism"), "/data/dir/CUST.ISM");
  EXPECT_EQ(expand("cust", ".ism", kNameNoFileNameCase), "cust.ism");
  EXPECT_EQ(expand("cust", ".ism", kNameDefault, false, true), "cust.ism");
  EXPECT_EQ(expand("cust", ".ism", kNameNoExtension), "cust");
  EXPECT_EQ(expand("cust", ".ism", kNameExtensionAsIs), "CUST.ism");
}

// ---------------------------------------------------------------------------
// Logical names.
// ---------------------------------------------------------------------------

TEST_F(NameTest, LogicalNameBecomesItsValue) {
  env_.set("DATA", "/srv/data");
  EXPECT_EQ(expand("DATA:cust", "/other/.ISM"), "/srv/data/cust.ism");
  EXPECT_EQ(expand("DATA:  cust", ".ISM"), "/srv/data/cust.ism");  // rest loses leading blanks
  EXPECT_EQ(expand("DATA :cust", ".ISM"), "/srv/data/cust.ism");   // logical loses trailing ones
  env_.set("DATA", "/srv/data/   ");  // trailing blanks of the value go; no second separator
  EXPECT_EQ(expand("DATA:cust", ".ISM"), "/srv/data/cust.ism");
  EXPECT_EQ(expand("DATA:/cust", ".ISM"), "/srv/data//cust.ism");
  env_.set("DATA", "[vol]");
  EXPECT_EQ(expand("DATA:cust", ".ISM"), "[vol]cust.ism");
  // An empty rest adds no separator.
  env_.set("DATA", "/srv/data/cust");
  EXPECT_EQ(expand("DATA:", ".ISM"), "/srv/data/cust.ism");
}

TEST_F(NameTest, LogicalNamesAreFoundWithoutRegardToCase) {
  env_.set("DATA", "/srv/data");
  EXPECT_EQ(expand("data:cust", ".ISM"), "/srv/data/cust.ism");
  EXPECT_EQ(expand("Data:cust", ".ISM"), "/srv/data/cust.ism");
  // A spelling defined as written wins.
  env_.set("data", "/lower");
  EXPECT_EQ(expand("data:cust", ".ISM"), "/lower/cust.ism");
}

TEST_F(NameTest, UpperCaseRuleWithLogicalDirectory) {
  env_.set("VRXCASE", "U");
  env_.set("DATA", "/srv/data");
  EXPECT_EQ(expand("data:cust", ".ism"), "/srv/data/CUST.ISM");
}

TEST_F(NameTest, LogicalValueMayItselfBeginWithALogicalName) {
  env_.set("TOP", "/root");
  env_.set("MID", "TOP:mid");
  EXPECT_EQ(expand("MID:cust", ".ISM"), "/root/mid/cust.ism");
}

TEST_F(NameTest, UndefinedLogicalNames) {
  env_.unset("NOPE");
  EXPECT_EQ(expand("NOPE:cust", "/data/.ISM"), "/data/cust.ism");
  EXPECT_EQ(expand("NOPE:cust", "/data/.ISM", kNameKeepUndefined), "NOPE:cust.ISM");
  // A single letter is a drive.
  EXPECT_EQ(expand("q:cust", "/data/.ISM"), "q:cust.ism");
  // Text with a separator before the colon is a path, not a logical name.
  EXPECT_EQ(expand("/tmp/a:b", ".ISM"), "/tmp/a:b.ism");
  EXPECT_EQ(expand(":cust", ".ISM"), ":cust.ism");
}

TEST_F(NameTest, DeviceNames) {
  EXPECT_EQ(expand("LPT1:", ".ISM"), "LPT1:");
  EXPECT_EQ(expand("COM3:whatever", "/data/.ISM"), "COM3:");
  EXPECT_EQ(expand("CON:", ".ISM"), "CON:");
  // In lower case it is a device only under the upper-case logical rule.
  EXPECT_EQ(expand("lpt1:", ".ISM"), ".ism");
  env_.set("VRXCASE", "U");
  EXPECT_EQ(expand("lpt1:", ".ISM"), "LPT1:");
  // A defined logical name wins over the device.
  env_.set("PRN", "/dev/null-ish");
  EXPECT_EQ(expand("PRN:x", ".ISM"), "/dev/null-ish/X.ISM");
}

TEST_F(NameTest, SearchListTriesEveryElementButTheLast) {
  test::ScratchDir first, second;
  env_.set("LIST", first.path().string() + "," + second.path().string());
  const std::string in_first = first.file("cust.ism");
  const std::string in_second = second.file("cust.ism");
  // Nowhere yet: the last element is taken.
  EXPECT_EQ(expand("LIST:cust", ".ISM", kNameDefault, true), in_second);
  // Without the search flag only the first element is used.
  EXPECT_EQ(expand("LIST:cust", ".ISM", kNameDefault, false), in_first);
  first.write("cust.ism", "x");
  EXPECT_EQ(expand("LIST:cust", ".ISM", kNameDefault, true), in_first);
  // Elements with a remote part are not tried.
  env_.set("LIST", first.path().string() + "@far," + second.path().string());
  EXPECT_EQ(expand("LIST:cust", ".ISM", kNameDefault, true), in_second);
  // Three elements: the middle one exists.
  test::ScratchDir third;
  second.write("cust.ism", "y");
  env_.set("LIST", third.path().string() + "," + second.path().string() + "," + "/nowhere");
  EXPECT_EQ(expand("LIST:cust", ".ISM", kNameDefault, true), in_second);
}

TEST_F(NameTest, RemoteParts) {
  EXPECT_EQ(expand("cust@host", "/data/.ISM"), "cust.ism@host");
  EXPECT_EQ(expand("  cust@host", ".ISM"), "cust.ism@host");
  // No logical names and no separator change before the at sign.
  env_.set("DATA", "/srv/data");
  EXPECT_EQ(expand("DATA:cust@host", ".ISM"), "DATA:cust.ISM@host");
  EXPECT_EQ(expand("a\\cust@host", ".ISM"), "a\\cust.ism@host");
  // A remote part in a logical name's value.
  env_.set("FAR", "dir@host");
  EXPECT_EQ(expand("FAR:cust", "/data/.ISM"), "dir/cust.ism@host");
}

TEST_F(NameTest, SelfReferringLogicalNamesAreBounded) {
  env_.set("LOOP", "LOOP:");
  EXPECT_EQ(expand_status("LOOP:x", ".ISM", kMaxExpandedName), kStatusBadFileSpec);
  env_.set("PING", "PONG:a");
  env_.set("PONG", "PING:b");
  EXPECT_EQ(expand_status("PING:x", ".ISM", kMaxExpandedName), kStatusBadFileSpec);
  // A chain exactly as deep as the bound still expands.
  for (int i = 1; i < kMaxLogicalNameDepth; ++i) {
    env_.set("L" + std::to_string(i), "L" + std::to_string(i + 1) + ":");
  }
  env_.set("L" + std::to_string(kMaxLogicalNameDepth), "/end");
  EXPECT_EQ(expand("L1:cust", ".ISM"), "/end/cust.ism");
  env_.set("L" + std::to_string(kMaxLogicalNameDepth), "L99:");
  env_.set("L99", "/end");
  EXPECT_EQ(expand_status("L1:cust", ".ISM", kMaxExpandedName), kStatusBadFileSpec);
}

// ---------------------------------------------------------------------------
// Names that do not fit are refused, never cut.
// ---------------------------------------------------------------------------

TEST_F(NameTest, ResultsLongerThanTheLimitAreRefused) {
  const size_t limit = 530;
  // Exactly at the limit with the extension, and one over.
  EXPECT_EQ(expand_status(std::string(limit - 4, 'a'), ".ISM", limit), 0);
  EXPECT_EQ(expand_status(std::string(limit - 3, 'a'), ".ISM", limit), kStatusNameTooLong);
  // The name alone is too long.
  EXPECT_EQ(expand_status(std::string(limit + 1, 'a') + ".x", ".ISM", limit), kStatusNameTooLong);
  // The default directory pushes it over.
  EXPECT_EQ(expand_status(std::string(limit - 10, 'a') + ".x", "/data/dir/.ISM", limit),
            kStatusNameTooLong);
  // A logical name's value pushes it over.
  env_.set("LONG", "/" + std::string(600, 'd'));
  EXPECT_EQ(expand_status("LONG:x", ".ISM", limit), kStatusNameTooLong);
  EXPECT_EQ(expand_status("LONG:x", ".ISM", kMaxExpandedName), 0);
  // A search candidate that would not fit.
  env_.set("LONG", "/" + std::string(600, 'd') + ",/short");
  EXPECT_EQ(expand_status("LONG:x", ".ISM", limit, true), kStatusNameTooLong);
  // The remote part counts too.
  EXPECT_EQ(expand_status("x@" + std::string(limit, 'h'), ".ISM", limit), kStatusNameTooLong);
  // Paths beyond the old 529 characters work up to the path limit.
  EXPECT_EQ(expand_status("/" + std::string(kMaxExpandedName - 5, 'p'), ".ISM", kMaxExpandedName),
            0);
  EXPECT_EQ(expand_status("/" + std::string(kMaxExpandedName - 4, 'p'), ".ISM", kMaxExpandedName),
            kStatusNameTooLong);
}

TEST_F(NameTest, InPlaceExpansionStaysInsideTheBuffer) {
  std::vector<char> buffer(kMinNameBuffer + 8, '#');
  std::strcpy(buffer.data(), "cust");
  bool blank = true;
  EXPECT_EQ(
      expand_name(buffer.data(), kMinNameBuffer, "/data/.ISM", kNameDefault, false, &blank, false),
      14u);
  EXPECT_STREQ(buffer.data(), "/data/cust.ism");
  EXPECT_FALSE(blank);

  // 530 characters fit a 531-byte buffer; 531 do not, and the buffer is left alone.
  const std::string fits(kMinNameBuffer - 1 - 4, 'f');
  std::memcpy(buffer.data(), fits.c_str(), fits.size() + 1);
  EXPECT_EQ(expand_name(buffer.data(), kMinNameBuffer, ".ISM", kNameDefault, false, nullptr, false),
            kMinNameBuffer - 1);
  EXPECT_EQ(buffer[kMinNameBuffer], '#');
  const std::string over(kMinNameBuffer - 1 - 3, 'o');
  std::memcpy(buffer.data(), over.c_str(), over.size() + 1);
  EXPECT_EQ(status_of([&] {
              expand_name(buffer.data(), kMinNameBuffer, ".ISM", kNameDefault, false, nullptr,
                          false);
            }),
            kStatusNameTooLong);
  EXPECT_EQ(std::string(buffer.data()), over);
  EXPECT_EQ(buffer[kMinNameBuffer], '#');

  // A name without its terminator inside the buffer.
  std::memset(buffer.data(), 'n', buffer.size());
  EXPECT_THROW(expand_name(buffer.data(), kMinNameBuffer, ".ISM", 1, false, nullptr, false),
               StatusError);
}

TEST_F(NameTest, CopyingExpansion) {
  EXPECT_EQ(expand_name_copy("cust", "/data/.ISM", kNameDefault, false), "/data/cust.ism");
  EXPECT_EQ(status_of([] {
              expand_name_copy(std::string(kMaxExpandedName + 1, 'x'), ".ISM", kNameDefault, false);
            }),
            kStatusNameTooLong);
  env_.set("LOOP", "LOOP:");
  EXPECT_EQ(status_of([] { expand_name_copy("LOOP:x", ".ISM", kNameDefault, true); }),
            kStatusBadFileSpec);
}

// ---------------------------------------------------------------------------
// Temporary directory and unique names.
// ---------------------------------------------------------------------------

TEST_F(NameTest, TemporaryDirectory) {
  std::string dir;
  EXPECT_FALSE(temporary_directory(&dir));
  test::ScratchDir tmp, temp;
  env_.set("TEMP", temp.path().string());
  ASSERT_TRUE(temporary_directory(&dir));
  EXPECT_EQ(dir, temp.path().string() + "/");
  env_.set("TMP", tmp.path().string() + "/");
  ASSERT_TRUE(temporary_directory(&dir));
  EXPECT_EQ(dir, tmp.path().string() + "/");  // no second separator
  // A TMP that is missing or a plain file falls back to TEMP.
  env_.set("TMP", tmp.path().string() + "/missing");
  ASSERT_TRUE(temporary_directory(&dir));
  EXPECT_EQ(dir, temp.path().string() + "/");
  env_.set("TMP", tmp.write("plain", "x"));
  ASSERT_TRUE(temporary_directory(&dir));
  EXPECT_EQ(dir, temp.path().string() + "/");
  env_.set("TEMP", "/no/such/dir");
  EXPECT_FALSE(temporary_directory(&dir));
}

TEST_F(NameTest, UniqueNameCountsLikeAnOdometer) {
  std::vector<std::string> tried;
  std::string path = "/w/tXXX";
  // The first 28 candidates exist.
  EXPECT_TRUE(unique_name(&path, [&](const std::string& candidate) {
    tried.push_back(candidate);
    return tried.size() <= 28 ? 0 : ENOENT;
  }));
  ASSERT_EQ(tried.size(), 29u);
  EXPECT_EQ(tried[0], "/w/t000");
  EXPECT_EQ(tried[1], "/w/ta00");
  EXPECT_EQ(tried[2], "/w/tb00");
  EXPECT_EQ(tried[26], "/w/tz00");
  EXPECT_EQ(tried[27], "/w/taa0");
  EXPECT_EQ(tried[28], "/w/tba0");
  EXPECT_EQ(path, "/w/tba0");
}

TEST_F(NameTest, UniqueNameAlphabetFollowsTheFileNameRule) {
  env_.set("VRXCASE", "L,U");
  std::string path = "tXX";
  int calls = 0;
  EXPECT_TRUE(unique_name(&path, [&](const std::string&) { return ++calls <= 1 ? 0 : ENOENT; }));
  EXPECT_EQ(path, "tA0");
}

TEST_F(NameTest, UniqueNameGivesUp) {
  // One position: "0" and the 26 letters, then the last candidate once more.
  std::string path = "tX";
  std::vector<std::string> tried;
  EXPECT_FALSE(unique_name(&path, [&](const std::string& c) {
    tried.push_back(c);
    return 0;
  }));
  ASSERT_EQ(tried.size(), 28u);
  EXPECT_EQ(tried[26], "tz");
  EXPECT_EQ(tried[27], "tz");
  // More than 50 access-denied answers.
  int calls = 0;
  path = "tXXX";
  EXPECT_FALSE(unique_name(&path, [&](const std::string&) {
    ++calls;
    return EACCES;
  }));
  EXPECT_EQ(calls, 51);
  // 50 are tolerated.
  calls = 0;
  path = "tXXX";
  EXPECT_TRUE(
      unique_name(&path, [&](const std::string&) { return ++calls <= 50 ? EACCES : ENOENT; }));
  // Any other failure ends the request at once.
  calls = 0;
  path = "tXXX";
  EXPECT_FALSE(unique_name(&path, [&](const std::string&) {
    ++calls;
    return EINVAL;
  }));
  EXPECT_EQ(calls, 1);
}

TEST_F(NameTest, UniqueNameOnDisk) {
  test::ScratchDir dir;
  dir.write("wk000", "");
  dir.write("wka00", "");
  std::string path = dir.file("wkXXX");
  ASSERT_TRUE(unique_name(&path));
  EXPECT_EQ(path, dir.file("wkb00"));
  // Without X: the name itself when it is free, otherwise nothing.
  path = dir.file("free");
  EXPECT_TRUE(unique_name(&path));
  EXPECT_EQ(path, dir.file("free"));
  path = dir.file("wk000");
  EXPECT_FALSE(unique_name(&path));
  // A directory that does not exist is not "free".
  path = dir.file("none/wkXX");
  EXPECT_FALSE(unique_name(&path));
  path = "";
  EXPECT_FALSE(unique_name(&path));
}

// ---------------------------------------------------------------------------
// File status, network test, replacement by rename.
// ---------------------------------------------------------------------------

TEST_F(NameTest, FileStatusOfFilesAndDirectories) {
  test::ScratchDir dir;
  FileStat st;
  ASSERT_EQ(file_status(dir.write("data.dat", "12345").c_str(), &st), 0);
  EXPECT_EQ(st.mode, 0x81B6u);  // regular, read and write for owner, group, other
  EXPECT_EQ(st.size, 5u);
  EXPECT_EQ(st.links, 1);
  EXPECT_EQ(st.device, 0);
  const int64_t now = platform::now_seconds();
  EXPECT_LE(std::abs(st.modified - now), 60);
  EXPECT_GT(st.accessed, 0);
  EXPECT_GT(st.created, 0);

  ASSERT_EQ(file_status(dir.path().string().c_str(), &st), 0);
  EXPECT_EQ(st.mode, 0x41FFu);
  ASSERT_EQ(file_status("/", &st), 0);
  EXPECT_EQ(st.mode & 0xF000u, kModeDirectory);
  ASSERT_EQ(file_status("\\", &st), 0);
  EXPECT_EQ(st.mode & 0xF000u, kModeDirectory);

  for (const char* leaf : {"run.EXE", "x.cmd", "y.Bat", "z.com"}) {
    ASSERT_EQ(file_status(dir.write(leaf, "").c_str(), &st), 0) << leaf;
    EXPECT_EQ(st.mode, 0x81FFu) << leaf;
  }
  ASSERT_EQ(file_status(dir.write("exe", "").c_str(), &st), 0);
  EXPECT_EQ(st.mode, 0x81B6u);
}

TEST_F(NameTest, FileStatusSizeIsTheLow32Bits) {
  test::ScratchDir dir;
  const std::string big = dir.write("big", "");
  std::error_code ec;
  std::filesystem::resize_file(big, (uint64_t{1} << 32) + 7, ec);  // sparse
  if (ec) GTEST_SKIP() << "no sparse files here";
  FileStat st;
  ASSERT_EQ(file_status(big.c_str(), &st), 0);
  EXPECT_EQ(st.size, 7u);
}

TEST_F(NameTest, FileStatusFailures) {
  test::ScratchDir dir;
  FileStat st;
  auto fails_with = [&](const char* path) {
    st.mode = 7;
    st.size = 9;
    st.modified = 11;
    errno = 0;
    EXPECT_EQ(file_status(path, &st), -1) << (path ? path : "null");
    EXPECT_EQ(st.mode, 0u);
    EXPECT_EQ(st.size, 0u);
    EXPECT_EQ(st.modified, 0);
    return errno;
  };
  EXPECT_EQ(fails_with(""), EINVAL);
  EXPECT_EQ(fails_with(nullptr), EINVAL);
  EXPECT_EQ(fails_with("C:"), EINVAL);
  EXPECT_EQ(fails_with(dir.file("missing").c_str()), ENOENT);
  // A missing directory is "path not found", which is neither of the two.
  EXPECT_EQ(fails_with(dir.file("nodir/missing").c_str()), EINVAL);
}

TEST_F(NameTest, NetworkDriveTest) {
  test::ScratchDir dir;
  EXPECT_FALSE(on_network_drive(dir.write("f", "").c_str()));
  EXPECT_FALSE(on_network_drive(dir.file("missing/deeper").c_str()));
  EXPECT_FALSE(on_network_drive("//server/share/file"));
  EXPECT_FALSE(on_network_drive(""));
  EXPECT_FALSE(on_network_drive(nullptr));
}

TEST_F(NameTest, ReplaceByRename) {
  test::ScratchDir dir;
  const std::string a = dir.write("a", "new contents");
  const std::string b = dir.write("b", "old");
  EXPECT_EQ(replace_by_rename(a.c_str(), b.c_str()), 0);
  EXPECT_FALSE(dir.exists("a"));
  EXPECT_EQ(dir.read("b"), "new contents");
  // A target that does not exist yet.
  EXPECT_EQ(replace_by_rename(b.c_str(), dir.file("c").c_str()), 0);
  EXPECT_EQ(dir.read("c"), "new contents");
  // Equal names: nothing to do.
  EXPECT_EQ(replace_by_rename(dir.file("c").c_str(), dir.file("c").c_str()), 0);
  EXPECT_EQ(dir.read("c"), "new contents");
  // The existing file must exist.
  EXPECT_EQ(replace_by_rename(dir.file("gone").c_str(), dir.file("c").c_str()), 1);
  EXPECT_EQ(dir.read("c"), "new contents");
  // A target in a directory that does not exist.
  EXPECT_EQ(replace_by_rename(dir.file("c").c_str(), dir.file("no/d").c_str()), 1);
  EXPECT_TRUE(dir.exists("c"));
  // A target that cannot be deleted (a non-empty directory).
  std::filesystem::create_directories(dir.path() / "full" / "inner");
  EXPECT_EQ(replace_by_rename(dir.file("c").c_str(), dir.file("full").c_str()), 1);
  EXPECT_TRUE(dir.exists("c"));
  EXPECT_EQ(replace_by_rename(nullptr, "x"), 1);
}

// ---------------------------------------------------------------------------
// Record hash.
// ---------------------------------------------------------------------------

// Bit by bit, most significant first.
uint32_t bitwise_hash(const uint8_t* p, size_t n) {
  uint32_t h = 0;
  for (size_t i = 0; i < n; ++i) {
    h ^= static_cast<uint32_t>(p[i]) << 24;
    for (int bit = 0; bit < 8; ++bit) h = (h & 0x80000000u) ? (h << 1) ^ 0x04C11DB7u : h << 1;
  }
  return h;
}

TEST(RecordHash, KnownValues) {
  EXPECT_EQ(record_hash("abc", 3), 0x2C17398Cu);
  EXPECT_EQ(record_hash("", 0), 0u);
  EXPECT_EQ(record_hash(nullptr, 0), 0u);
  // With an initial value of 0, leading NUL bytes do not change the hash.
  const uint8_t zeros[16] = {};
  EXPECT_EQ(record_hash(zeros, sizeof zeros), 0u);
}

TEST(RecordHash, AgreesWithTheBitwiseDefinitionAtEveryLengthAndAlignment) {
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
