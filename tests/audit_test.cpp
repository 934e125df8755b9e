#include "ismgr/runtime/audit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "support/golden.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using Vars = std::initializer_list<std::pair<const char*, const char*>>;
const char* const kAuditEnv[] = {"ISMGR_AUDIT",         "ISMGR_AUDIT_MODE", "ISMGR_AUDIT_FULL",
                                 "ISMGR_AUDIT_ROUTINE", "ISMGR_AUDIT_LOCK", "ISMGR_AUDIT_INTERNAL"};

const void* handle(uintptr_t h) {
  return reinterpret_cast<const void*>(h);
}

class AuditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_audit_clock_for_test([] {
      platform::LocalTime t{};
      t.hour = 1, t.minute = 2, t.second = 3, t.millisecond = 4;
      return t;
    });
  }
  void TearDown() override {
    clear();
    set_audit_clock_for_test(nullptr);
  }
  static void clear() {
    for (const char* name : kAuditEnv) unsetenv(name);
    setenv("CORVETH_NOLOCALE", "1", 1);
    reset_process_for_test();
  }
  // Starts logging to log_ with `vars` set, runs `body`, ends the context and
  // returns the whole log.
  std::string run(Vars vars, const std::function<void()>& body) {
    clear();
    setenv("ISMGR_AUDIT", log_.c_str(), 1);
    for (const auto& v : vars) setenv(v.first, v.second, 1);
    EXPECT_TRUE(ismgr_init() && audit_active());
    platform::set_last_error(0);
    body();
    ismgr_shutdown(existing_context());
    return test::without_cr(dir_.read("audit.log"));  // CR LF line ends on Windows
  }
  test::ScratchDir dir_;
  std::string log_ = dir_.file("audit.log");
};

TEST_F(AuditTest, LevelZeroLines) {
  EXPECT_TRUE(test::matches_golden(
      "audit/level0.log", run({}, [] {
        EXPECT_EQ(audit_level(), 0);
        AuditValues v;
        v.mode = 0x1000042;
        v.has_file_handles = true;
        v.index_handle = 3, v.data_handle = 4;
        audit_log(kAuditOpen, 0, handle(0x1234abcd), "cust.ism", v);
        audit_log(kAuditOpen, 20, nullptr, "bad.ism", v);  // failed: no handles shown
        v.has_file_handles = false, v.mode = 0x101;        // update, sequential
        audit_log(kAuditOpen, 0, handle(0x10), "seq.ddf", v);
        v = AuditValues();
        v.position = 42, v.qualifier = 1, v.key = 3;
        const int options[] = {kAuditDelete,  kAuditReads,        kAuditFinds,
                               kAuditWrite,   kAuditUnlock,       kAuditCreated,
                               kAuditRenamed, kAuditRemoved,      kAuditUpdate,
                               kAuditForms,   kAuditWrites,       kAuditAccept,
                               kAuditFlush,   kAuditPutstr,       kAuditLpque,
                               kAuditFree,    kAuditReleasedLock, kAuditGetrfa,
                               kAuditPosrfa,  kAuditSetkrf,       99};
        const char* texts[] = {nullptr, nullptr, nullptr, nullptr, nullptr, "new.ism", "a.ism",
                               "b.ism", nullptr, nullptr, nullptr, nullptr, nullptr,   nullptr,
                               "queue", nullptr, nullptr, nullptr, nullptr, nullptr,   nullptr};
        for (size_t i = 0; i < std::size(options); ++i) {
          audit_log(options[i], options[i] == kAuditSetkrf ? 9 : 0, handle(0xfe), texts[i], v);
        }
        // The error values; the last OS error is shown and kept.
        platform::set_last_error(platform::kErrSharingViolation);
        audit_log(kAuditDelete, 5, handle(1), nullptr);
        EXPECT_EQ(platform::last_error(), static_cast<uint32_t>(platform::kErrSharingViolation));
        platform::set_last_error(0);
        audit_log(kAuditDelete, 5, handle(1), nullptr);
        audit_log(kAuditFlush, 5, handle(1), nullptr);  // no error values on this line
        platform::set_last_error(2);
        audit_log(kAuditSetkrf, 0, handle(1), nullptr);  // only im_errno, never lasterr
        platform::set_last_error(0);
      })));
}

TEST_F(AuditTest, LevelOneModeNamesAndFormattedText) {
  Vars vars = {{"ISMGR_AUDIT_MODE", "1"}, {"ISMGR_AUDIT_LOCK", "0"}, {"ISMGR_AUDIT_ROUTINE", "x"}};
  EXPECT_TRUE(test::matches_golden(
      "audit/level1.log", run(vars, [] {
        EXPECT_EQ(audit_flags(), kAuditFlagLock | kAuditFlagRoutine);
        AuditValues v;
        v.mode = 0x8;
        audit_log(kAuditRead, 0, handle(0xab), nullptr, v);
        v.mode = 0x800, v.key = 2;  // IM_MEQ: no implicit text
        v.position = 12345678901ull, v.qualifier = 7;
        audit_log(kAuditRead, 0, handle(0xab), nullptr, v);
        v.mode = 0x400000;  // IM_BOF counts for read but not for find
        audit_log(kAuditFind, 0, handle(0xab), nullptr, v);
        v.mode = 0;
        audit_log(kAuditStore, 0, handle(0xab), "record", v);  // record text only at level 2
        audit_log(kAuditClose, 0, handle(0xab), nullptr, v);
        v.mode = 0x200007;
        audit_log(kAuditClose, 0, handle(0xab), nullptr, v);
        platform::set_last_error(33);
        audit_printf("fd = %d, mode = %d, GetLastError() = %d, status = %d,", 7, 1, 33, 0);
        EXPECT_EQ(platform::last_error(), 33u);
        audit_printf("%s", std::string(1000, 'q').c_str());
      })));
}

TEST_F(AuditTest, InternalFormNumbersChannels) {
#ifdef _WIN32
  Vars vars = {{"ISMGR_AUDIT_INTERNAL", "1"}, {"ISMGR_AUDIT_FULL", "1"}};  // no empty values there
#else
  Vars vars = {{"ISMGR_AUDIT_INTERNAL", "1"}, {"ISMGR_AUDIT_FULL", ""}};  // set, however empty
#endif
  EXPECT_TRUE(test::matches_golden(
      "audit/internal.log", run(vars, [] {
        AuditValues v;
        v.mode = 0x42, v.has_file_handles = true, v.position = 99;
        audit_log(kAuditOpen, 0, handle(0xa000), "one.ism", v);
        audit_log(kAuditOpen, 0, handle(0xb000), "two.ism", v);
        v.mode = 0x800;
        const std::string rec("a\tb\x80\xff\x63\0", 7);
        v.record = rec.data();
        v.record_length = rec.size();
        audit_log(kAuditRead, 0, handle(0xb000), nullptr, v);
        audit_log(kAuditReleasedLock, 0, handle(0xb000), nullptr, v);  // nothing at all
        v.mode = 1;
        audit_log(kAuditClose, 0, handle(0xa000), nullptr, v);
        audit_log(kAuditDelete, 0, handle(0xa000), nullptr, v);  // number freed: handle shown
        v.mode = 0x42;
        audit_log(kAuditOpen, 0, handle(0xc000), "three.ism", v);  // reuses number 1
        EXPECT_EQ(audit_channel_number_for_test(handle(0xb000)), 2);
        audit_log(kAuditInit, 0, nullptr, nullptr);  // clears the table, prints nothing more
        EXPECT_EQ(audit_channel_number_for_test(handle(0xb000)), 0);
      })));
  // With every number taken the handle itself is shown.
  const std::string log = run({{"ISMGR_AUDIT_INTERNAL", "1"}}, [] {
    for (uintptr_t i = 1; i <= 300; ++i) audit_log(kAuditOpen, 0, handle(0x1000 + i), "f");
    EXPECT_EQ(audit_channel_number_for_test(handle(0x1000 + 254)), 254);
    EXPECT_EQ(audit_channel_number_for_test(handle(0x1000 + 255)), 0);
  });
  EXPECT_NE(log.find("\nopen(fe, ?, 'f')\nopen(10ff, ?, 'f')\n"), std::string::npos);
  EXPECT_NE(log.find("\nopen(112c, ?, 'f')\nismgr_shutdown\n"), std::string::npos);
}

}  // namespace
}  // namespace ismgr
