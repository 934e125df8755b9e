#include "ismgr/fileio/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using test::ChildProcess;
using test::Link;
using test::ScratchDir;

// Installs hooks for one test and restores the platform's own afterwards;
// also restores "RETRYTIME" to what the suite runs with.
class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hooks_.sleep = [this](uint32_t ms) {
      sleeps_.push_back(ms);
      if (on_sleep_) on_sleep_();
    };
    set_file_io_hooks_for_testing(hooks_);
  }
  void TearDown() override {
    set_file_io_hooks_for_testing(FileIoHooks{});
    platform::put_env("RETRYTIME=0");
    reset_file_retry_count_for_testing();
  }
  void set_retry_time(const std::string& value) {
    platform::put_env(("RETRYTIME=" + value).c_str());
    reset_file_retry_count_for_testing();
  }
  void install() { set_file_io_hooks_for_testing(hooks_); }

  FileIoHooks hooks_;
  std::vector<uint32_t> sleeps_;
  std::function<void()> on_sleep_;
};

// A child that holds `name` open denying everything until told to let go.
int hold_exclusively(const std::string& name, Link& link) {
  FileHandle h = file_open(name.c_str(), kOpenReadWrite, kShareDenyReadWrite, 0666);
  link.send(h != kInvalidFileHandle ? 'o' : 'x');
  link.receive();
  file_close(h);
  link.send('c');
  link.receive();
  return 0;
}

// ---------------------------------------------------------------------------
// Open
// ---------------------------------------------------------------------------

TEST_F(FileIoTest, AppendIsRefusedWithErrnoUntouched) {
  ScratchDir dir;
  std::string name = dir.write("a.dat", "x");
  errno = 4321;
  EXPECT_EQ(file_open(name.c_str(), kOpenWriteOnly | kOpenAppend, kShareDenyNone, 0666),
            kInvalidFileHandle);
  EXPECT_EQ(errno, 4321);
}

TEST_F(FileIoTest, TruncateOpenEmptiesAnExistingFileAndCreatesNone) {
  ScratchDir dir;
  EXPECT_EQ(file_open(dir.file("missing.dat").c_str(), kOpenReadWrite | kOpenTruncate,
                      kShareDenyNone, 0666),
            kInvalidFileHandle);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(dir.exists("missing.dat"));
  std::string name = dir.write("t.dat", "contents");
  FileHandle h = file_open(name.c_str(), kOpenReadWrite | kOpenTruncate, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  EXPECT_EQ(file_seek(h, 0, 2), 0);
  EXPECT_EQ(file_close(h), 0);
  EXPECT_EQ(dir.read("t.dat"), "");
}

TEST_F(FileIoTest, CreateDispositionsAndTemporary) {
  ScratchDir dir;
  std::string name = dir.file("c.dat");
  FileHandle h =
      file_open(name.c_str(), kOpenReadWrite | kOpenCreate | kOpenExclusive, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  EXPECT_EQ(file_write(h, "abc", 3), 3);
  file_close(h);
  EXPECT_EQ(
      file_open(name.c_str(), kOpenReadWrite | kOpenCreate | kOpenExclusive, kShareDenyNone, 0666),
      kInvalidFileHandle);
  EXPECT_EQ(errno, EEXIST);
  // Create without exclusive empties.
  h = file_open(name.c_str(), kOpenWriteOnly | kOpenCreate, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  file_close(h);
  EXPECT_EQ(dir.read("c.dat"), "");
  // A temporary file goes away when closed.
  h = file_open(dir.file("tmp.dat").c_str(), kOpenReadWrite | kOpenCreate | kOpenTemporary,
                kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  EXPECT_TRUE(dir.exists("tmp.dat"));
  file_close(h);
  EXPECT_FALSE(dir.exists("tmp.dat"));
}

TEST_F(FileIoTest, ShareCodes) {
  ScratchDir dir;
  std::string name = dir.write("s.dat", "x");
  FileHandle deny_write = file_open(name.c_str(), 0, kShareDenyWrite, 0666);
  ASSERT_NE(deny_write, kInvalidFileHandle);
  EXPECT_EQ(file_open(name.c_str(), kOpenWriteOnly, kShareDenyNone, 0666), kInvalidFileHandle);
  EXPECT_EQ(errno, EACCES);
  FileHandle reader = file_open(name.c_str(), 0, 0x40, 0666);
  EXPECT_NE(reader, kInvalidFileHandle);
  file_close(reader);
  file_close(deny_write);
  FileHandle deny_read = file_open(name.c_str(), kOpenWriteOnly, kShareDenyRead, 0666);
  ASSERT_NE(deny_read, kInvalidFileHandle);
  EXPECT_EQ(file_open(name.c_str(), 0, kShareDenyNone, 0666), kInvalidFileHandle);
  FileHandle writer = file_open(name.c_str(), kOpenWriteOnly, 0, 0666);  // 0 denies nothing
  EXPECT_NE(writer, kInvalidFileHandle);
  file_close(writer);
  file_close(deny_read);
}

// ---------------------------------------------------------------------------
// Retries against a file another process holds
// ---------------------------------------------------------------------------

TEST_F(FileIoTest, RetryCountFromEnvironment) {
  set_retry_time("7");
  EXPECT_EQ(file_retry_count(), 7);
  platform::put_env("RETRYTIME=9");
  EXPECT_EQ(file_retry_count(), 7);  // read once
  set_retry_time("not a number");
  EXPECT_EQ(file_retry_count(), 0);
  set_retry_time("12abc");
  EXPECT_EQ(file_retry_count(), 12);
  set_retry_time("99999999999999");
  EXPECT_EQ(file_retry_count(), INT32_MAX);
  platform::put_env("RETRYTIME=");
  reset_file_retry_count_for_testing();
  EXPECT_EQ(file_retry_count(), 50);
}

TEST_F(FileIoTest, OpenRetriesOnlyWhenAskedAndGivesUp) {
  ScratchDir dir;
  std::string name = dir.write("held.dat", "x");
  set_retry_time("3");
  ChildProcess child([&](Link& link) { return hold_exclusively(name, link); });
  ASSERT_EQ(child.link().receive(), 'o');

  EXPECT_EQ(file_open(name.c_str(), 0, kShareDenyNone, 0666), kInvalidFileHandle);
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(sleeps_.empty());  // no retry flag: the first failure is final

  EXPECT_EQ(
      file_open(name.c_str(), kOpenReadWrite | kOpenCreate | kOpenRetryInUse, kShareDenyNone, 0666),
      kInvalidFileHandle);
  EXPECT_TRUE(sleeps_.empty());  // a create is never retried
  EXPECT_EQ(dir.read("held.dat"), "x");

  EXPECT_EQ(file_open(name.c_str(), kOpenRetryInUse, kShareDenyNone, 0666), kInvalidFileHandle);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(sleeps_, (std::vector<uint32_t>{100, 100}));  // three attempts

  // Released during the first pause: the second attempt succeeds.
  sleeps_.clear();
  on_sleep_ = [&] {
    if (sleeps_.size() == 1) {
      child.link().send('r');
      child.link().receive();
    }
  };
  FileHandle h = file_open(name.c_str(), kOpenRetryInUse, kShareDenyNone, 0666);
  EXPECT_NE(h, kInvalidFileHandle);
  EXPECT_EQ(sleeps_.size(), 1u);
  file_close(h);
  EXPECT_EQ(child.wait(), 0);
}

TEST_F(FileIoTest, RetryTimeZeroMakesFirstFailureFinal) {
  ScratchDir dir;
  std::string name = dir.write("held.dat", "x");
  set_retry_time("0");
  ChildProcess child([&](Link& link) { return hold_exclusively(name, link); });
  ASSERT_EQ(child.link().receive(), 'o');
  EXPECT_EQ(file_open(name.c_str(), kOpenRetryInUse, kShareDenyNone, 0666), kInvalidFileHandle);
  EXPECT_EQ(file_delete(name.c_str()), -1);
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_EQ(child.wait(), 0);
}

TEST_F(FileIoTest, DeleteAndRenameRetryWhileInUse) {
  ScratchDir dir;
  std::string name = dir.write("held.dat", "x");
  std::string other = dir.file("renamed.dat");
  set_retry_time("4");
  ChildProcess child([&](Link& link) { return hold_exclusively(name, link); });
  ASSERT_EQ(child.link().receive(), 'o');

  EXPECT_EQ(file_delete(name.c_str()), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(sleeps_.size(), 3u);
  EXPECT_TRUE(dir.exists("held.dat"));
  sleeps_.clear();
  EXPECT_EQ(file_rename(name.c_str(), other.c_str()), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(sleeps_.size(), 3u);

  sleeps_.clear();
  on_sleep_ = [&] {
    if (sleeps_.size() == 2) {
      child.link().send('r');
      child.link().receive();
    }
  };
  EXPECT_EQ(file_rename(name.c_str(), other.c_str()), 0);
  EXPECT_EQ(sleeps_.size(), 2u);
  EXPECT_TRUE(dir.exists("renamed.dat"));
  EXPECT_EQ(child.wait(), 0);
}

TEST_F(FileIoTest, DeleteAndRenameFailuresThatAreNotRetried) {
  ScratchDir dir;
  std::string a = dir.write("a", "1");
  std::string b = dir.write("b", "2");
  set_retry_time("5");
  EXPECT_EQ(file_rename(a.c_str(), b.c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(dir.read("b"), "2");
  EXPECT_EQ(file_delete(dir.file("none").c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(sleeps_.empty());
  EXPECT_EQ(file_delete(a.c_str()), 0);
  EXPECT_FALSE(dir.exists("a"));
}

// ---------------------------------------------------------------------------
// Transfers
// ---------------------------------------------------------------------------

TEST(TransferPieces, SplitAtMultiplesOf64K) {
  EXPECT_EQ(transfer_piece(65000, 70000), 536u);
  EXPECT_EQ(transfer_piece(65536, 69464), 65536u);
  EXPECT_EQ(transfer_piece(131072, 3928), 3928u);
  EXPECT_EQ(transfer_piece(0, 70000), 65536u);
  EXPECT_EQ(transfer_piece(65535, 10), 1u);
  EXPECT_EQ(transfer_piece((uint64_t{1} << 40) + 1, 0xFFFFFFFFu), 65535u);
}

class SplitTest : public FileIoTest {
 protected:
  void record_pieces() {
    hooks_.read = [this](FileHandle h, void* buf, uint32_t n, uint32_t* done) {
      pieces_.push_back(n);
      if (fail_piece_ == pieces_.size()) {
        platform::set_last_error(platform::kErrAccessDenied);
        return false;
      }
      return platform::read(h, buf, n, done);
    };
    hooks_.write = [this](FileHandle h, const void* buf, uint32_t n, uint32_t* done) {
      pieces_.push_back(n);
      return platform::write(h, buf, n, done);
    };
    install();
  }
  std::vector<uint32_t> pieces_;
  size_t fail_piece_ = 0;
};

TEST_F(SplitTest, PositionedTransfersAreSplitAndCorrect) {
  ScratchDir dir;
  FileHandle h =
      file_open(dir.file("big.dat").c_str(), kOpenReadWrite | kOpenCreate, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  record_pieces();
  std::vector<unsigned char> out(70000);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<unsigned char>(i * 7 + i / 251);
  EXPECT_EQ(file_write_at(h, out.data(), 70000, 65000, false), 70000);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{536, 65536, 3928}));

  pieces_.clear();
  std::vector<unsigned char> in(70000);
  // Without the wide flag only the low 32 bits of the offset count.
  EXPECT_EQ(file_read_at(h, in.data(), 70000, (int64_t{1} << 32) + 65000, false), 70000);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{536, 65536, 3928}));
  EXPECT_EQ(in, out);

  pieces_.clear();
  EXPECT_EQ(file_read_at(h, in.data(), 65537, 65536, true), 65537);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{65536, 1}));
  pieces_.clear();
  EXPECT_EQ(file_read_at(h, in.data(), 65536, 65000, true), 65536);  // no split
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{65536}));
  pieces_.clear();
  EXPECT_EQ(file_read_at_single(h, in.data(), 70000, 65000, true), 70000);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{70000}));
  EXPECT_EQ(in, out);
  file_close(h);
}

TEST_F(SplitTest, ShortOrFailedPieceEndsTheTransfer) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", std::string(66000, 'z'));
  FileHandle h = file_open(name.c_str(), 0, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  record_pieces();
  std::vector<char> in(70000);
  // End of file inside the second piece: the bytes read so far.
  EXPECT_EQ(file_read_at(h, in.data(), 70000, 65000, false), 1000);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{536, 65536}));
  // Wholly beyond the end: nothing.
  pieces_.clear();
  EXPECT_EQ(file_read_at(h, in.data(), 70000, 200000, false), 0);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{62144}));  // 200000 + 62144 = 4 * 65536
  // A failing piece fails the whole transfer.
  pieces_.clear();
  fail_piece_ = 2;
  EXPECT_EQ(file_read_at(h, in.data(), 70000, 0, false), -1);
  EXPECT_EQ(pieces_, (std::vector<uint32_t>{65536, 4464}));
  // A failed seek fails before any transfer.
  pieces_.clear();
  EXPECT_EQ(file_read_at(h, in.data(), 10, -5, true), -1);
  EXPECT_TRUE(pieces_.empty());
  file_close(h);
}

TEST_F(FileIoTest, ReadRetriesLockViolations) {
  int failures_left = 3;
  int calls = 0;
  hooks_.read = [&](FileHandle, void*, uint32_t n, uint32_t* done) {
    ++calls;
    if (failures_left-- > 0) {
      platform::set_last_error(platform::kErrLockViolation);
      return false;
    }
    *done = n;
    return true;
  };
  install();
  char buf[4];
  EXPECT_EQ(file_read(7, buf, 4), 4);
  EXPECT_EQ(sleeps_, (std::vector<uint32_t>{500, 500, 500}));

  failures_left = 1000;
  calls = 0;
  sleeps_.clear();
  EXPECT_EQ(file_read(7, buf, 4), -1);
  EXPECT_EQ(calls, 20);
  EXPECT_EQ(sleeps_.size(), 19u);
}

TEST_F(FileIoTest, ReadOfBrokenPipeIsEndOfFile) {
  uint32_t error = platform::kErrBrokenPipe;
  hooks_.read = [&](FileHandle, void*, uint32_t, uint32_t*) {
    platform::set_last_error(error);
    return false;
  };
  install();
  char buf[4];
  EXPECT_EQ(file_read(7, buf, 4), 0);
  error = platform::kErrAccessDenied;
  EXPECT_EQ(file_read(7, buf, 4), -1);
  EXPECT_TRUE(sleeps_.empty());
}

TEST_F(FileIoTest, WriteFailureErrno) {
  uint32_t error = platform::kErrDiskFull;
  int calls = 0;
  hooks_.write = [&](FileHandle, const void*, uint32_t, uint32_t*) {
    ++calls;
    platform::set_last_error(error);
    return false;
  };
  install();
  EXPECT_EQ(file_write(7, "x", 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  error = platform::kErrAccessDenied;
  errno = 99;
  EXPECT_EQ(file_write(7, "x", 1), -1);
  EXPECT_EQ(errno, 0);
  calls = 0;
  error = platform::kErrLockViolation;
  errno = 99;
  EXPECT_EQ(file_write(7, "x", 1), -1);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(calls, 20);
  EXPECT_EQ(sleeps_.size(), 19u);
}

// ---------------------------------------------------------------------------
// Seeks, flush, probe, error mapping
// ---------------------------------------------------------------------------

TEST_F(FileIoTest, SeekVariants) {
  ScratchDir dir;
  FileHandle h =
      file_open(dir.file("s.dat").c_str(), kOpenReadWrite | kOpenCreate, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  ASSERT_EQ(file_write(h, "0123456789", 10), 10);
  // The plain seek takes the low 32 bits as unsigned.
  EXPECT_EQ(file_seek(h, -1, 0), 0xFFFFFFFFll);
  EXPECT_EQ(file_seek(h, (int64_t{5} << 32) + 3, 0), 3);
  EXPECT_EQ(file_seek(h, 0, 9), 10);  // any other method: from the end
  EXPECT_EQ(file_seek_plain(h, -4, platform::kSeekEnd), 6);
  errno = 77;
  EXPECT_EQ(file_seek_plain(h, -11, platform::kSeekEnd), -1);
  EXPECT_EQ(errno, 77);
  EXPECT_EQ(file_seek_plain(h, 0, 5), -1);
  EXPECT_EQ(file_seek_width(h, -1, 0, 0), 0xFFFFFFFFll);
  EXPECT_EQ(file_seek_width(h, 0xFFFFFFFFFFll, 0, 40), 0xFFFFFFFFFFll);
  EXPECT_EQ(file_seek_width(h, 0x10000000000ll, 0, 40), -1);
  EXPECT_EQ(file_seek_width(h, 0x10000000000ll, 0, 48), 0x10000000000ll);
  EXPECT_EQ(file_seek_width(h, 0x1000000000000ll, 0, 48), -1);
  EXPECT_EQ(file_seek_width(h, 0x20000000000ll, 0, 64), 0x20000000000ll);
  EXPECT_EQ(file_seek_width(h, -20, 2, 64), -1);
  EXPECT_EQ(errno, EINVAL);  // negative seek
  EXPECT_EQ(file_flush(h, kInvalidFileHandle), 0);
  EXPECT_EQ(file_flush(kInvalidFileHandle, kInvalidFileHandle), 0);
  EXPECT_EQ(file_flush(12345, h), 0);  // failures are ignored
  file_close(h);
  EXPECT_EQ(file_close(h), 1);
}

TEST_F(FileIoTest, LargeFileProbe) {
  ScratchDir dir;
  std::string name = dir.file("p.dat");
  FileHandle h = file_open(name.c_str(), kOpenReadWrite | kOpenCreate, kShareDenyNone, 0666);
  ASSERT_NE(h, kInvalidFileHandle);
  ASSERT_EQ(file_write(h, "abc", 3), 3);
  // The scratch directory lives on the system's temporary file system, one
  // that keeps large files wherever this suite runs (ext4, xfs, tmpfs...).
  EXPECT_EQ(large_file_probe(h, name.c_str()), 1);
  EXPECT_EQ(file_seek(h, 0, 1), 0);  // back at the start
  EXPECT_EQ(large_file_probe(h, "/proc/self/status"), 0);
  file_close(h);
}

TEST(FileIoErrors, OsErrorTable) {
  const struct {
    uint32_t os;
    int err;
  } rows[] = {
      {1, EINVAL},  {12, EINVAL}, {87, EINVAL},  {131, EINVAL}, {186, EINVAL}, {1004, EINVAL},
      {4, EMFILE},  {36, EMFILE}, {113, EMFILE}, {5, EACCES},   {19, EACCES},  {32, EACCES},
      {33, EACCES}, {8, ENOMEM},  {80, EEXIST},  {183, EEXIST}, {112, ENOSPC}, {665, ENOSPC},
      {2, ENOENT},  {3, ENOENT},  {206, ENOENT}, {0, ENOENT},   {6, ENOENT},   {109, ENOENT},
  };
  for (const auto& row : rows) EXPECT_EQ(errno_for_os_error(row.os), row.err) << row.os;
}

TEST(FileIoErrors, MapOsErrorActsOnNegativeResultsOnly) {
  platform::set_last_error(platform::kErrDiskFull);
  errno = 5555;
  EXPECT_EQ(map_os_error(12), 12);
  EXPECT_EQ(errno, 5555);
  EXPECT_EQ(map_os_error(0), 0);
  EXPECT_EQ(errno, 5555);
  EXPECT_EQ(map_os_error(-1), -1);
  EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
}  // namespace ismgr
