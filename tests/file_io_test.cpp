#include "ismgr/fileio/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ismgr/platform/platform.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

using test::ScratchDir;

// Installs hooks for one test (pauses are counted, not slept) and restores
// the platform's own and the suite's "RETRYTIME" afterwards.
class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override { install(); }
  void TearDown() override {
    set_file_io_hooks_for_testing(FileIoHooks{});
    platform::put_env("RETRYTIME=0");
    reset_file_retry_count_for_testing();
  }
  void install() {
    hooks_.sleep = [this](uint32_t ms) {
      sleeps_.push_back(ms);
      if (on_sleep_) on_sleep_();
    };
    set_file_io_hooks_for_testing(hooks_);
  }
  void set_retry_time(const char* value) {
    platform::put_env((std::string("RETRYTIME=") + value).c_str());
    reset_file_retry_count_for_testing();
  }
  FileIoHooks hooks_;
  std::vector<uint32_t> sleeps_;
  std::function<void()> on_sleep_;
  ScratchDir dir_;
};

TEST_F(FileIoTest, OpenFlagsAndShareCodes) {
  std::string name = dir_.write("a.dat", "contents");
  errno = 4321;  // append is refused, errno untouched
  EXPECT_EQ(file_open(name.c_str(), kOpenWriteOnly | kOpenAppend, kShareDenyNone, 0666),
            kInvalidFileHandle);
  EXPECT_EQ(errno, 4321);
  // Truncate empties an existing file and creates none.
  EXPECT_EQ(file_open(dir_.file("none").c_str(), kOpenReadWrite | kOpenTruncate, 0, 0666),
            kInvalidFileHandle);
  EXPECT_FALSE(dir_.exists("none"));
  file_close(file_open(name.c_str(), kOpenReadWrite | kOpenTruncate, kShareDenyNone, 0666));
  EXPECT_EQ(dir_.read("a.dat"), "");
  const int exclusive = kOpenReadWrite | kOpenCreate | kOpenExclusive;
  EXPECT_EQ(file_open(name.c_str(), exclusive, kShareDenyNone, 0666), kInvalidFileHandle);
  EXPECT_EQ(errno, EEXIST);
  file_close(file_open(dir_.file("t").c_str(), exclusive | kOpenTemporary, 0, 0666));
  EXPECT_FALSE(dir_.exists("t"));  // a temporary file goes when closed
  // The share codes: deny read keeps readers out; 0 denies nothing.
  FileHandle deny_read = file_open(name.c_str(), kOpenWriteOnly, kShareDenyRead, 0666);
  EXPECT_EQ(file_open(name.c_str(), 0, kShareDenyNone, 0666), kInvalidFileHandle);
  EXPECT_EQ(errno, EACCES);
  FileHandle writer = file_open(name.c_str(), kOpenWriteOnly, 0, 0666);
  EXPECT_NE(writer, kInvalidFileHandle);
  file_close(writer), file_close(deny_read);
}

// "In use" failures are retried "RETRYTIME" times, 100 ms apart.
TEST_F(FileIoTest, RetriesAgainstAFileInUse) {
  const std::pair<const char*, int> rows[] = {
      {"7", 7}, {"not a number", 0}, {"99999999999999", INT32_MAX}, {"", 50}};
  for (const auto& [value, count] : rows) {
    set_retry_time(value);
    EXPECT_EQ(file_retry_count(), count) << value;
    platform::put_env("RETRYTIME=9");
    EXPECT_EQ(file_retry_count(), count) << value;  // read once
  }
  std::string name = dir_.write("held.dat", "x"), other = dir_.file("renamed.dat");
  FileHandle holder = file_open(name.c_str(), kOpenReadWrite, kShareDenyReadWrite, 0666);
  set_retry_time("0");  // the first failure is final
  EXPECT_EQ(file_open(name.c_str(), kOpenRetryInUse, kShareDenyNone, 0666), kInvalidFileHandle);
  set_retry_time("3");
  EXPECT_EQ(file_open(name.c_str(), 0, kShareDenyNone, 0666), kInvalidFileHandle);  // not asked
  EXPECT_EQ(file_open(name.c_str(), kOpenReadWrite | kOpenCreate | kOpenRetryInUse, 0, 0666),
            kInvalidFileHandle);  // a create is never retried
  EXPECT_TRUE(sleeps_.empty());
  for (int what = 0; what < 3; ++what) {
    EXPECT_EQ(what == 0   ? file_open(name.c_str(), kOpenRetryInUse, 0, 0666)
              : what == 1 ? file_delete(name.c_str())
                          : file_rename(name.c_str(), other.c_str()),
              -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(sleeps_, (std::vector<uint32_t>{100, 100})) << what;  // three attempts
    sleeps_.clear();
  }
  EXPECT_TRUE(dir_.exists("held.dat"));     // (the holder lets no one read it on Windows)
  on_sleep_ = [&] { file_close(holder); };  // released during the first pause
  EXPECT_EQ(file_rename(name.c_str(), other.c_str()), 0);
  EXPECT_EQ(sleeps_.size(), 1u);
  // Failures that are not "in use" are not retried.
  EXPECT_EQ(file_rename(other.c_str(), dir_.write("b", "2").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(file_delete(dir_.file("none").c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(sleeps_.size(), 1u);
}

// A split transfer moves the same bytes as one transfer, in pieces that never cross a
// multiple of 64 KiB (up to 64 KiB: one piece); only the low 32 bits of a narrow offset count.
TEST_F(FileIoTest, SplitTransfersEqualOneTransfer) {
  std::vector<uint32_t> pieces;
  hooks_.read = [&](FileHandle h, void* buf, uint32_t n, uint32_t* done) {
    pieces.push_back(n);
    return platform::read(h, buf, n, done);
  };
  hooks_.write = [&](FileHandle h, const void* buf, uint32_t n, uint32_t* done) {
    pieces.push_back(n);
    return platform::write(h, buf, n, done);
  };
  install();
  FileHandle h = file_open(dir_.file("big").c_str(), kOpenReadWrite | kOpenCreate, 0, 0666);
  std::mt19937 rng(4);
  for (int round = 0; round < 40; ++round) {
    const uint32_t count = 1 + rng() % 200000;
    const int64_t offset = rng() % 300000, high = round % 2 ? int64_t{1} << 32 : 0;
    std::vector<unsigned char> out(count), in(count), single(count);
    for (auto& c : out) c = static_cast<unsigned char>(rng());
    pieces.clear();
    ASSERT_EQ(file_write_at(h, out.data(), count, offset + high, false), count);
    uint64_t at = offset;
    for (uint32_t piece : pieces) {  // up to 64 KiB in one piece
      ASSERT_TRUE(count <= 65536 ? piece == count : at / 65536 == (at + piece - 1) / 65536) << at;
      at += piece;
    }
    ASSERT_EQ(at, uint64_t(offset + count));
    ASSERT_EQ(file_read_at(h, in.data(), count, offset + high, false), count);
    ASSERT_EQ(file_read_at_single(h, single.data(), count, offset, true), count);
    ASSERT_EQ(in, out);
    ASSERT_EQ(single, out);
  }
  file_close(h);
  EXPECT_EQ(transfer_piece((uint64_t{1} << 40) + 1, 0xFFFFFFFFu), 65535u);
}

TEST_F(FileIoTest, SeeksFlushAndProbe) {
  std::string name = dir_.file("s.dat");
  FileHandle h = file_open(name.c_str(), kOpenReadWrite | kOpenCreate, kShareDenyNone, 0666);
  ASSERT_EQ(file_write(h, "0123456789", 10), 10);
  EXPECT_EQ(file_seek(h, -1, 0), 0xFFFFFFFFll);  // the low 32 bits, unsigned
  EXPECT_EQ(file_seek(h, (int64_t{5} << 32) + 3, 0), 3);
  EXPECT_EQ(file_seek(h, 0, 9), 10);  // any other method: from the end
  EXPECT_EQ(file_seek_plain(h, -4, platform::kSeekEnd), 6);
  errno = 77;
  EXPECT_EQ(file_seek_plain(h, -11, platform::kSeekEnd), -1);
  EXPECT_EQ(errno, 77);
  const int64_t rows[][3] = {{0xFFFFFFFFFFll, 40, 0xFFFFFFFFFFll},
                             {0x10000000000ll, 40, -1},
                             {0x1000000000000ll, 48, -1},
                             {0x20000000000ll, 64, 0x20000000000ll}};
  for (const auto& r : rows) EXPECT_EQ(file_seek_width(h, r[0], 0, r[1]), r[2]) << r[0];
  EXPECT_EQ(file_seek_width(h, -20, 2, 64), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(file_flush(12345, h), 0);  // failures are ignored
  EXPECT_EQ(large_file_probe(h, name.c_str()), 1);
  EXPECT_EQ(file_seek(h, 0, 1), 0);  // back at the start
#ifndef _WIN32
  EXPECT_EQ(large_file_probe(h, "/proc/self/status"), 0);  // procfs keeps no 40-bit offsets
#endif
  file_close(h);
  EXPECT_EQ(file_close(h), 1);
}

// The errno a caller sees for each OS error a user-visible status depends on,
// and the OS error each errno of the system becomes.
TEST(FileIoErrors, ErrnoAndOsErrorTables) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows gives its own error numbers; no errno is mapped";
#else
  const int rows[][3] = {// errno, the OS error it becomes, the errno that gives
                         {ENOENT, 2, ENOENT},   {ENOTDIR, 3, ENOENT},  {ENAMETOOLONG, 206, ENOENT},
                         {EBADF, 6, ENOENT},    {EPIPE, 109, ENOENT},  {EMFILE, 4, EMFILE},
                         {ENFILE, 4, EMFILE},   {EACCES, 5, EACCES},   {EPERM, 5, EACCES},
                         {EISDIR, 5, EACCES},   {EROFS, 19, EACCES},   {ETXTBSY, 32, EACCES},
                         {EAGAIN, 33, EACCES},  {ENOMEM, 8, ENOMEM},   {EEXIST, 80, EEXIST},
                         {ENOSPC, 112, ENOSPC}, {EDQUOT, 112, ENOSPC}, {EFBIG, 665, ENOSPC},
                         {EINVAL, 87, EINVAL}};
  for (const auto& r : rows) {
    platform::set_last_error_from_errno(r[0], "relative-name");
    EXPECT_EQ(platform::last_error(), uint32_t(r[1])) << "errno " << r[0];
    EXPECT_EQ(errno_for_os_error(r[1]), r[2]) << "OS error " << r[1];
  }
  EXPECT_EQ(errno_for_os_error(183), EEXIST);
  EXPECT_EQ(errno_for_os_error(0), ENOENT);
  platform::set_last_error(platform::kErrDiskFull);
  errno = 5555;
  EXPECT_EQ(map_os_error(12), 12);  // acts on negative results only
  EXPECT_EQ(errno, 5555);
  EXPECT_EQ(map_os_error(-1), -1);
  EXPECT_EQ(errno, ENOSPC);
#endif
}

}  // namespace
}  // namespace ismgr
