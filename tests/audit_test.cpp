#include "ismgr/runtime/audit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"

namespace ismgr {
namespace {

namespace fs = std::filesystem;

const char* const kAuditEnv[] = {"ISMGR_AUDIT",          "ISMGR_AUDIT_SRV",  "ISMGR_AUDIT_MODE",
                                 "ISMGR_AUDIT_FULL",     "ISMGR2_FULL",      "ISMGR_AUDIT_FLUSH",
                                 "ISMGR_AUDIT_ROUTINE",  "ISMGR_AUDIT_LOCK", "ISMGR_AUDIT_INTERNAL",
                                 "ISMGR_AUDIT_FILENAME", "CORVETHRT64",      "CORVETHRT32"};

platform::LocalTime fixed_clock() {
  platform::LocalTime t{};
  t.hour = 1;
  t.minute = 2;
  t.second = 3;
  t.millisecond = 4;
  return t;
}

const void* handle(uintptr_t h) {
  return reinterpret_cast<const void*>(h);
}

class AuditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kAuditEnv) unsetenv(name);
    setenv("CORVETH_NOLOCALE", "1", 1);
    reset_process_for_test();
    set_audit_clock_for_test(fixed_clock);
    dir_ = fs::temp_directory_path() /
           ("ismgr_audit_" + std::to_string(platform::process_id()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_ = (dir_ / "audit.log").string();
  }
  void TearDown() override {
    reset_process_for_test();
    set_audit_clock_for_test(nullptr);
    for (const char* name : kAuditEnv) unsetenv(name);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts logging to log_ with the given extra variables set.
  void start(std::initializer_list<std::pair<const char*, const char*>> vars = {}) {
    setenv("ISMGR_AUDIT", log_.c_str(), 1);
    for (const auto& v : vars) setenv(v.first, v.second, 1);
    ASSERT_NE(ismgr_init(), nullptr);
    ASSERT_TRUE(audit_active());
  }
  // Ends the thread's context (closing the stream) and returns the lines
  // written after the start-up lines.
  std::vector<std::string> finish() {
    ismgr_shutdown(existing_context());
    std::ifstream in(log_);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  fs::path dir_;
  std::string log_;
};

using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Set-up
// ---------------------------------------------------------------------------
TEST_F(AuditTest, NormalFormFrame) {
  start();
  EXPECT_EQ(audit_level(), 0);
  EXPECT_FALSE(audit_lock_enabled());
  EXPECT_EQ(finish(), (Lines{"Logging started.. Level = 0", "01:02:03.004 ismgr_init",
                             "01:02:03.004 ismgr_shutdown"}));
}

TEST_F(AuditTest, LevelsAndFlagsFromTheEnvironment) {
  start({{"ISMGR_AUDIT_MODE", ""}, {"ISMGR_AUDIT_LOCK", "0"}, {"ISMGR_AUDIT_ROUTINE", "x"}});
  EXPECT_EQ(audit_level(), 1);
  EXPECT_TRUE(audit_lock_enabled());
  EXPECT_EQ(audit_flags(), kAuditFlagLock | kAuditFlagRoutine);
  EXPECT_EQ(finish().front(), "Logging started.. Level = 1");

  reset_process_for_test();
  for (const char* name : kAuditEnv) unsetenv(name);
  start({{"ISMGR2_FULL", "1"}});
  EXPECT_EQ(audit_level(), 2);
  finish();

  // Internal with value 0 raises the level to 1 but keeps the normal form.
  reset_process_for_test();
  for (const char* name : kAuditEnv) unsetenv(name);
  start({{"ISMGR_AUDIT_INTERNAL", "0"}});
  EXPECT_EQ(audit_level(), 1);
  EXPECT_EQ(audit_flags(), 0u);
  EXPECT_EQ(finish().front(), "Logging started.. Level = 1");
}

TEST_F(AuditTest, NoLogNameDisablesForGood) {
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_FALSE(audit_active());
  EXPECT_FALSE(audit_configured());
  ismgr_shutdown(existing_context());
  // A later context finds the variable but logging stays disabled.
  setenv("ISMGR_AUDIT", log_.c_str(), 1);
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_FALSE(audit_active());
  EXPECT_FALSE(fs::exists(log_));
}

TEST_F(AuditTest, UnopenableLogWritesNothing) {
  setenv("ISMGR_AUDIT", (dir_ / "missing" / "audit.log").c_str(), 1);
  ASSERT_NE(ismgr_init(), nullptr);
  EXPECT_FALSE(audit_active());
  audit_text("nothing");  // no stream: no crash, no effect
}

TEST_F(AuditTest, PerThreadFileFromPrefix) {
  std::string prefix = (dir_ / "srv").string();
  setenv("ISMGR_AUDIT_SRV", prefix.c_str(), 1);
  ASSERT_NE(ismgr_init(), nullptr);
  ASSERT_TRUE(audit_active());
  ismgr_shutdown(existing_context());
  std::string name = prefix + "_" + std::to_string(platform::thread_id()) + "_1234";
  std::ifstream in(name);
  ASSERT_TRUE(in.good()) << name;
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "Logging started.. Level = 0\n01:02:03.004 ismgr_init\n01:02:03.004 ismgr_shutdown\n");
}

TEST_F(AuditTest, FlushMakesEachLineVisibleAtOnce) {
  start({{"ISMGR_AUDIT_FLUSH", ""}});
  audit_text("first");
  std::ifstream in(log_);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("01:02:03.004 first\n"), std::string::npos);
  finish();
}

// ---------------------------------------------------------------------------
// Lines of the normal form
// ---------------------------------------------------------------------------
TEST_F(AuditTest, OpenLines) {
  start();
  AuditValues v;
  v.mode = 0x1000042;
  v.has_file_handles = true;
  v.index_handle = 3;
  v.data_handle = 4;
  audit_log(kAuditOpen, 0, handle(0x1234abcd), "cust.ism", v);
  audit_log(kAuditOpen, 20, nullptr, "bad.ism", v);  // failed: no handles shown
  v.has_file_handles = false;
  v.mode = 0x101;  // update, sequential
  audit_log(kAuditOpen, 0, handle(0x10), "seq.ddf", v);
  Lines lines = finish();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[2], "01:02:03.004 (3:4) = open(1234abcd, I:I, 'cust.ism')");
  EXPECT_EQ(lines[3], "01:02:03.004 open(0, I:I, 'bad.ism') im_errno= 20 ");
  EXPECT_EQ(lines[4], "01:02:03.004 open(10, U:S, 'seq.ddf')");
}

TEST_F(AuditTest, RecordOperationLinesAtLevelOne) {
  start({{"ISMGR_AUDIT_MODE", "1"}});
  AuditValues v;
  v.mode = 0x8;
  audit_log(kAuditRead, 0, handle(0xab), nullptr, v);
  v.mode = 0x800;  // IM_MEQ: no implicit text
  v.key = 2;
  v.position = 12345678901ull;
  v.qualifier = 7;
  audit_log(kAuditRead, 0, handle(0xab), nullptr, v);
  v.mode = 0x400000;  // IM_BOF counts for read but not for find
  audit_log(kAuditFind, 0, handle(0xab), nullptr, v);
  v.mode = 0;
  audit_log(kAuditStore, 0, handle(0xab), "record", v);
  audit_log(kAuditClose, 0, handle(0xab), nullptr, v);
  v.mode = 0x200007;
  audit_log(kAuditClose, 0, handle(0xab), nullptr, v);
  Lines lines = finish();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2],
            "01:02:03.004 read(ab, '', rfa= <undef>, 8, Krf/recno= 0) Modes= IM_NEXT  implicit "
            "IM_MEQ ");
  EXPECT_EQ(lines[3],
            "01:02:03.004 read(ab, '', rfa= 12345678901-7, 800, Krf/recno= 2) Modes= IM_MEQ ");
  EXPECT_EQ(lines[4],
            "01:02:03.004 find(ab, rfa= 12345678901-7, 400000, Krf/recno= 2) Modes= IM_BOF  "
            "implicit IM_MEQ ");
  // The record text is shown only at level 2.
  EXPECT_EQ(lines[5], "01:02:03.004 store(ab, '', rfa= 12345678901-7, 0)");
  EXPECT_EQ(lines[6], "01:02:03.004 close(ab 0)");
  EXPECT_EQ(lines[7],
            "01:02:03.004 close(ab 200007) Modes= IM_NOFCBRELEASE |IM_FORK |IM_PURGE |IM_SPRCED ");
}

TEST_F(AuditTest, EveryOtherOptionText) {
  start();
  AuditValues v;
  v.position = 42;
  v.qualifier = 1;
  v.key = 3;
  const void* h = handle(0xfe);
  audit_log(kAuditDelete, 0, h, nullptr, v);
  audit_log(kAuditReads, 0, h, nullptr, v);
  audit_log(kAuditFinds, 0, h, nullptr, v);
  audit_log(kAuditWrite, 0, h, nullptr, v);
  audit_log(kAuditUnlock, 0, h, nullptr, v);
  audit_log(kAuditCreated, 0, h, "new.ism", v);
  audit_log(kAuditRenamed, 0, h, "a.ism", v);
  audit_log(kAuditRemoved, 0, h, "b.ism", v);
  audit_log(kAuditUpdate, 0, h, nullptr, v);
  audit_log(kAuditForms, 0, h, nullptr, v);
  audit_log(kAuditWrites, 0, h, nullptr, v);
  audit_log(kAuditAccept, 0, h, nullptr, v);
  audit_log(kAuditFlush, 0, h, nullptr, v);
  audit_log(kAuditPutstr, 0, h, nullptr, v);
  audit_log(kAuditLpque, 0, h, "queue", v);
  audit_log(kAuditFree, 0, h, nullptr, v);
  audit_log(kAuditReleasedLock, 0, h, nullptr, v);
  audit_log(kAuditGetrfa, 0, h, nullptr, v);
  audit_log(kAuditPosrfa, 0, h, nullptr, v);
  audit_log(kAuditSetkrf, 9, h, nullptr, v);
  audit_log(99, 0, h, nullptr, v);
  Lines got = finish();
  Lines want = {"delete(fe, rfa= 42-1)",
                "reads(fe, '', rfa= 42-1, 0)",
                "finds(fe, rfa= 42-1, 0)",
                "write(fe, '', rfa= 42-1, 0)",
                "unlock(fe, rfa= 42-1)",
                "created new.ism ",
                "renamed a.ism sts= 3",
                "removed b.ism sts= 3",
                "update(fe, '', rfa= 42-1, 0)",
                "ismgr_forms(fe)",
                "writes(fe, '', rfa= 42-1, 0)",
                "ismgr_accept(fe) ",
                "ismgr_flush(fe)",
                "ismgr_putstr(fe)",
                "ismgr_lpque queue",
                "free(fe)",
                "(next op) released lock at 42",
                "getrfa(fe, rfa= 42-1)",
                "posrfa(fe, rfa= 42-1)",
                "setkrf(fe, Krf= 3) im_errno= 9 ",
                "Unknown log option 99"};
  ASSERT_EQ(got.size(), want.size() + 3);
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i + 2], "01:02:03.004 " + want[i]);
}

TEST_F(AuditTest, ErrorValuesAndTheLastOsErrorIsKept) {
  start();
  platform::set_last_error(platform::kErrSharingViolation);
  audit_log(kAuditDelete, 5, handle(1), nullptr);
  EXPECT_EQ(platform::last_error(), static_cast<uint32_t>(platform::kErrSharingViolation));
  platform::set_last_error(0);
  audit_log(kAuditDelete, 5, handle(1), nullptr);
  audit_log(kAuditFlush, 5, handle(1), nullptr);  // no error values on this line
  platform::set_last_error(2);
  audit_log(kAuditSetkrf, 0, handle(1), nullptr);  // only im_errno, never lasterr
  EXPECT_EQ(platform::last_error(), 2u);
  platform::set_last_error(0);
  Lines lines = finish();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[2], "01:02:03.004 delete(1, rfa= <undef>) im_errno= 5  lasterr= 32 ");
  EXPECT_EQ(lines[3], "01:02:03.004 delete(1, rfa= <undef>) im_errno= 5 ");
  EXPECT_EQ(lines[4], "01:02:03.004 ismgr_flush(1)");
  EXPECT_EQ(lines[5], "01:02:03.004 setkrf(1, Krf= 0)");
}

TEST_F(AuditTest, RecordTextAtLevelTwo) {
  start({{"ISMGR_AUDIT_FULL", ""}});
  AuditValues v;
  v.mode = 0x800;
  std::string rec =
      "AB\x01"
      "C";
  rec.push_back('\0');
  rec += "after";
  v.record = rec.data();
  v.record_length = rec.size();
  audit_log(kAuditWrite, 0, handle(2), nullptr, v);
  std::string big(300, 'x');
  v.record = big.data();
  v.record_length = big.size();
  audit_log(kAuditStore, 0, handle(2), nullptr, v);
  Lines lines = finish();
  ASSERT_EQ(lines.size(), 5u);
  // The normal form stops at a zero byte.
  EXPECT_EQ(lines[2],
            "01:02:03.004 write(2, 'AB\x01"
            "C', rfa= <undef>, 800) Modes= IM_MEQ ");
  EXPECT_EQ(lines[3], "01:02:03.004 store(2, '" + std::string(200, 'x') +
                          "', rfa= <undef>, 800) Modes= IM_MEQ ");
}

// ---------------------------------------------------------------------------
// Internal form
// ---------------------------------------------------------------------------
TEST_F(AuditTest, InternalFormNumbersChannels) {
  start({{"ISMGR_AUDIT_INTERNAL", "1"}, {"ISMGR_AUDIT_FULL", ""}});
  AuditValues v;
  v.mode = 0x42;
  v.has_file_handles = true;
  v.position = 99;
  audit_log(kAuditOpen, 0, handle(0xa000), "one.ism", v);
  audit_log(kAuditOpen, 0, handle(0xb000), "two.ism", v);
  v.mode = 0x800;
  std::string rec =
      "a\tb\x80\xff"
      "c";
  rec.push_back('\0');
  v.record = rec.data();
  v.record_length = rec.size();
  audit_log(kAuditRead, 0, handle(0xb000), nullptr, v);
  audit_log(kAuditReleasedLock, 0, handle(0xb000), nullptr, v);  // nothing at all
  v.mode = 1;
  audit_log(kAuditClose, 0, handle(0xa000), nullptr, v);
  audit_log(kAuditDelete, 0, handle(0xa000), nullptr, v);  // number freed: handle shown
  v.mode = 0x42;
  audit_log(kAuditOpen, 0, handle(0xc000), "three.ism", v);  // reuses number 1
  EXPECT_EQ(audit_channel_number_for_test(handle(0xc000)), 1);
  EXPECT_EQ(audit_channel_number_for_test(handle(0xb000)), 2);
  Lines lines = finish();
  EXPECT_EQ(lines, (Lines{"ismgr_init",
                          "open(1, I:I, 'one.ism') Modes= ", "open(2, I:I, 'two.ism') Modes= ",
                          "read(2, 'a~b~~c~', rfa= <undef>, 800, Krf/recno= 0) Modes= IM_MEQ ",
                          "close(1) modes= 1 Modes= IM_PURGE ", "delete(a000, rfa= <undef>)",
                          "open(1, I:I, 'three.ism') Modes= ", "ismgr_shutdown"}));
}

TEST_F(AuditTest, InitClearsTheChannelTable) {
  start({{"ISMGR_AUDIT_INTERNAL", "5"}});
  audit_log(kAuditOpen, 0, handle(0x77), "x", AuditValues());
  EXPECT_EQ(audit_channel_number_for_test(handle(0x77)), 1);
  audit_log(kAuditInit, 0, nullptr, nullptr);
  EXPECT_EQ(audit_channel_number_for_test(handle(0x77)), 0);
  finish();
}

TEST_F(AuditTest, ChannelTableNeverOverflows) {
  start({{"ISMGR_AUDIT_INTERNAL", "1"}});
  for (uintptr_t i = 1; i <= 300; ++i) {
    audit_log(kAuditOpen, 0, handle(0x1000 + i), "f", AuditValues());
  }
  EXPECT_EQ(audit_channel_number_for_test(handle(0x1000 + 254)), 254);
  EXPECT_EQ(audit_channel_number_for_test(handle(0x1000 + 255)), 0);
  Lines lines = finish();
  ASSERT_EQ(lines.size(), 302u);
  EXPECT_EQ(lines[1], "open(1, ?, 'f')");
  EXPECT_EQ(lines[254], "open(fe, ?, 'f')");
  // With every number taken the handle itself is shown.
  EXPECT_EQ(lines[255], "open(10ff, ?, 'f')");
  EXPECT_EQ(lines[300], "open(112c, ?, 'f')");
}

// ---------------------------------------------------------------------------
// File-name filter
// ---------------------------------------------------------------------------
TEST_F(AuditTest, FileNameFilterWatchesMatchingOpens) {
  start({{"ISMGR_AUDIT_FILENAME", "cust"}});
  AuditValues v;
  audit_log(kAuditOpen, 0, handle(0x1), "/d/other.ism", v);
  audit_log(kAuditOpen, 20, handle(0x2), "/d/cust_bad.ism", v);  // failed open: skipped
  audit_log(kAuditOpen, 0, handle(0x3), "/d/cust.ism", v);
  audit_log(kAuditRead, 0, handle(0x1), nullptr, v);
  audit_log(kAuditRead, 0, handle(0x3), nullptr, v);
  audit_text("free text has no handle");
  audit_log(kAuditOpen, 0, handle(0x4), "/d/customers.ism", v);  // second watched
  audit_log(kAuditOpen, 0, handle(0x5), "/d/cust3.ism", v);      // both taken: skipped
  audit_log(kAuditClose, 0, handle(0x3), nullptr, v);
  audit_log(kAuditClose, 0, handle(0x4), nullptr, v);
  audit_log(kAuditRead, 0, handle(0x3), nullptr, v);        // no longer watched
  audit_log(kAuditOpen, 0, handle(0x6), "/d/cust.ism", v);  // watched again
  audit_log(kAuditFree, 0, handle(0x6), nullptr, v);
  Lines lines = finish();
  Lines want = {"Logging started.. Level = 0",
                "01:02:03.004 ismgr_init",
                "01:02:03.004 open(3, ?, '/d/cust.ism')",
                "01:02:03.004 read(3, '', rfa= <undef>, 0, Krf/recno= 0) implicit IM_MEQ ",
                "01:02:03.004 open(4, ?, '/d/customers.ism')",
                "01:02:03.004 close(3 0)",
                "01:02:03.004 close(4 0)",
                "01:02:03.004 open(6, ?, '/d/cust.ism')",
                "01:02:03.004 free(6)",
                "01:02:03.004 ismgr_shutdown"};
  EXPECT_EQ(lines, want);
}

// ---------------------------------------------------------------------------
// Lines of other parts of the layer
// ---------------------------------------------------------------------------
int g_waits = 0;
std::string g_word_file;
void release_after_one_wait(uint32_t) {
  ++g_waits;
  std::fstream f(g_word_file, std::ios::in | std::ios::out | std::ios::binary);
  f.write("\0\0\0\0", 4);
}

TEST_F(AuditTest, BackupModeLines) {
  fs::create_directories(dir_ / "vrx");
  g_word_file = (dir_ / "vrx" / "corbackup.cfg").string();
  {
    std::ofstream out(g_word_file, std::ios::binary);
    out.write("\x09\0\0\0", 4);
  }
  setenv("CORVETHRT64", dir_.c_str(), 1);
  start();
  backup_mode_check(existing_context(), 0);
  {
    std::fstream f(g_word_file, std::ios::in | std::ios::out | std::ios::binary);
    f.write("\x01\0\0\0", 4);
  }
  g_waits = 0;
  set_timed_wait_for_test(release_after_one_wait);
  backup_mode_check(existing_context(), 0);
  set_timed_wait_for_test(nullptr);
  EXPECT_EQ(g_waits, 1);
  audit_raw(" NULL ismgr_control in FCB\n");
  Lines lines = finish();
  EXPECT_EQ(lines, (Lines{"Logging started.. Level = 0", "01:02:03.004 ismgr_init",
                          "01:02:03.004 Invalid backup mode",
                          "01:02:03.004 Backup mode is On, update operations are frozen",
                          " NULL ismgr_control in FCB", "01:02:03.004 ismgr_shutdown"}));
}

TEST_F(AuditTest, FormattedTextLine) {
  start({{"ISMGR_AUDIT_LOCK", ""}});
  platform::set_last_error(33);
  audit_printf("fd = %d, mode = %d, GetLastError() = %d, status = %d,", 7, 1, 33, 0);
  EXPECT_EQ(platform::last_error(), 33u);
  std::string long_text(1000, 'q');
  audit_printf("%s", long_text.c_str());
  Lines lines = finish();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "01:02:03.004 fd = 7, mode = 1, GetLastError() = 33, status = 0,");
  EXPECT_EQ(lines[3], "01:02:03.004 " + long_text);
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------
TEST(AuditText, RfaText) {
  EXPECT_EQ(audit_rfa_text(0, 5), "<undef>");
  EXPECT_EQ(audit_rfa_text(1, 0), "1-0");
  EXPECT_EQ(audit_rfa_text(UINT64_MAX, UINT32_MAX), "18446744073709551615-4294967295");
}

TEST(AuditText, OpenLetters) {
  EXPECT_EQ(audit_open_letters(0x1000042), "I:I");
  EXPECT_EQ(audit_open_letters(0x9), "A");  // append wins over update
  EXPECT_EQ(audit_open_letters(0x5), "U");
  EXPECT_EQ(audit_open_letters(0x6 | 0x80), "I:R");
  EXPECT_EQ(audit_open_letters(0x4 | 0x140), "O:S");  // sequential wins over ISAM
  EXPECT_EQ(audit_open_letters(0x4 | 0x200), "O:B");
  EXPECT_EQ(audit_open_letters(0x8000000), "?:P");
  EXPECT_EQ(audit_open_letters(0), "?");
}

TEST(AuditText, ModeNameTablesInTheirOrder) {
  EXPECT_EQ(audit_mode_names(AuditModeTable::kRecord, 0), "");
  EXPECT_EQ(audit_mode_names(AuditModeTable::kRecord, 0x4), " Modes= ");  // no named bit
  EXPECT_EQ(audit_mode_names(AuditModeTable::kRecord, 0xFFFFFFFF),
            " Modes= IM_FIRST |IM_LAST |IM_NEXT |IM_PREV |IM_TRUNC |IM_RFA |IM_GETRFA |IM_GTEQ "
            "|IM_MGT |IM_MEQ |IM_GTEQN |IM_FIXED |IM_WAITN |IM_MANLOCK |IM_WAIT |IM_NOWAIT "
            "|IM_GUID |IM_RGUID |IM_BOF |IM_EOF |IM_NOPROB |IM_NOLOCK |IM_LOCK |IM_NOFILL ");
  EXPECT_EQ(audit_mode_names(AuditModeTable::kOpen, 0xFFFFFFFF),
            " Modes= IM_WAIT |IM_NOWAIT |IM_BOF |IM_EOF |IM_NOLOCK |IM_LOCK |IM_EXRW |IM_EXW "
            "|IM_TEMP |IM_GETRSIZ |IM_SPRCED |IM_SEQUENTIAL |IM_CACHE |IM_NETCACHE |IM_NDELAY ");
  EXPECT_EQ(audit_mode_names(AuditModeTable::kOpen, 0x1000042), " Modes= IM_NOLOCK ");
  EXPECT_EQ(audit_mode_names(AuditModeTable::kClose, 0x10), " Modes= ");
}

}  // namespace
}  // namespace ismgr
