#include "ismgr/platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace ismgr::platform {
namespace {

using test::ChildProcess;
using test::Link;
using test::ScratchDir;

Handle open_with(const std::string& name, Access access, unsigned share,
                 Disposition disposition = Disposition::kOpenExisting) {
  OpenOptions o;
  o.access = access;
  o.share = share;
  o.disposition = disposition;
  return open_file(name.c_str(), o);
}

constexpr unsigned kShareAll = kShareRead | kShareWrite;

// ---------------------------------------------------------------------------
// Share modes
// ---------------------------------------------------------------------------

struct ShareCase {
  Access first_access;
  unsigned first_share;
  Access second_access;
  unsigned second_share;
  bool second_opens;
};

TEST(ShareModes, WithinOneProcess) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "data");
  const ShareCase cases[] = {
      // Both share everything: anything goes.
      {Access::kReadWrite, kShareAll, Access::kReadWrite, kShareAll, true},
      // Existing denial of write keeps writers out, readers in.
      {Access::kRead, kShareRead, Access::kWrite, kShareAll, false},
      {Access::kRead, kShareRead, Access::kReadWrite, kShareAll, false},
      {Access::kRead, kShareRead, Access::kRead, kShareAll, true},
      // Existing denial of read keeps readers out, writers in.
      {Access::kWrite, kShareWrite, Access::kRead, kShareAll, false},
      {Access::kWrite, kShareWrite, Access::kWrite, kShareAll, true},
      // Deny read and write keeps everyone out.
      {Access::kRead, kShareNone, Access::kRead, kShareAll, false},
      {Access::kRead, kShareNone, Access::kWrite, kShareAll, false},
      // The new open's denials against existing accesses.
      {Access::kRead, kShareAll, Access::kRead, kShareWrite, false},
      {Access::kRead, kShareAll, Access::kRead, kShareRead, true},
      {Access::kWrite, kShareAll, Access::kRead, kShareRead, false},
      {Access::kWrite, kShareAll, Access::kRead, kShareNone, false},
      {Access::kReadWrite, kShareAll, Access::kRead, kShareRead, false},
      // Two readers that both deny write coexist.
      {Access::kRead, kShareRead, Access::kRead, kShareRead, true},
      // A reader denying write and a second one denying read do not.
      {Access::kRead, kShareRead, Access::kRead, kShareWrite, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const ShareCase& c = cases[i];
    Handle a = open_with(name, c.first_access, c.first_share);
    ASSERT_NE(a, kInvalidHandle) << i;
    set_last_error(0);
    Handle b = open_with(name, c.second_access, c.second_share);
    if (c.second_opens) {
      EXPECT_NE(b, kInvalidHandle) << "case " << i;
      if (b != kInvalidHandle) close_file(b);
    } else {
      EXPECT_EQ(b, kInvalidHandle) << "case " << i;
      EXPECT_EQ(last_error(), kErrSharingViolation) << "case " << i;
      if (b != kInvalidHandle) close_file(b);
    }
    ASSERT_TRUE(close_file(a));
  }
}

TEST(ShareModes, ClosingReleasesClaims) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "data");
  Handle a = open_with(name, Access::kRead, kShareNone);
  ASSERT_NE(a, kInvalidHandle);
  EXPECT_EQ(open_with(name, Access::kRead, kShareAll), kInvalidHandle);
  // A refused open leaves no claim behind either.
  ASSERT_TRUE(close_file(a));
  Handle b = open_with(name, Access::kReadWrite, kShareNone);
  ASSERT_NE(b, kInvalidHandle);
  ASSERT_TRUE(close_file(b));
  Handle c = open_with(name, Access::kReadWrite, kShareAll);
  EXPECT_NE(c, kInvalidHandle);
  close_file(c);
}

TEST(ShareModes, CreateAlwaysOfHeldFileLeavesItIntact) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "precious");
  Handle a = open_with(name, Access::kRead, kShareRead);
  ASSERT_NE(a, kInvalidHandle);
  EXPECT_EQ(open_with(name, Access::kReadWrite, kShareAll, Disposition::kCreateAlways),
            kInvalidHandle);
  EXPECT_EQ(last_error(), kErrSharingViolation);
  EXPECT_EQ(dir.read("f.dat"), "precious");
  close_file(a);
  Handle b = open_with(name, Access::kReadWrite, kShareAll, Disposition::kCreateAlways);
  ASSERT_NE(b, kInvalidHandle);
  int64_t size = -1;
  EXPECT_TRUE(file_size(b, &size));
  EXPECT_EQ(size, 0);
  close_file(b);
}

TEST(ShareModes, AcrossProcessesBothDirections) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "data");
  {
    // The child holds a reader that denies write.
    ChildProcess child([&](Link& link) {
      Handle h = open_with(name, Access::kRead, kShareRead);
      link.send(h != kInvalidHandle ? 'o' : 'x');
      link.receive();
      return 0;
    });
    ASSERT_EQ(child.link().receive(), 'o');
    EXPECT_EQ(open_with(name, Access::kWrite, kShareAll), kInvalidHandle);
    EXPECT_EQ(last_error(), kErrSharingViolation);
    EXPECT_EQ(open_with(name, Access::kRead, kShareWrite), kInvalidHandle);
    EXPECT_EQ(last_error(), kErrSharingViolation);
    Handle r = open_with(name, Access::kRead, kShareRead);
    EXPECT_NE(r, kInvalidHandle);
    close_file(r);
    EXPECT_FALSE(delete_file(name.c_str()));
    EXPECT_EQ(last_error(), kErrSharingViolation);
    EXPECT_EQ(child.wait(), 0);
  }
  // The child has gone and with it its claims.
  Handle w = open_with(name, Access::kWrite, kShareNone);
  ASSERT_NE(w, kInvalidHandle);
  // Now the test holds a writer; the child's open denying write must fail.
  ChildProcess child([&](Link&) {
    Handle h = open_with(name, Access::kRead, kShareRead);
    if (h != kInvalidHandle) return 1;
    return last_error() == kErrSharingViolation ? 0 : 2;
  });
  EXPECT_EQ(child.wait(), 0);
  close_file(w);
}

TEST(ShareModes, OpenFileCannotBeDeletedOrMoved) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "data");
  Handle h = open_with(name, Access::kRead, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_FALSE(delete_file(name.c_str()));
  EXPECT_EQ(last_error(), kErrSharingViolation);
  EXPECT_FALSE(move_file(name.c_str(), dir.file("g.dat").c_str()));
  EXPECT_EQ(last_error(), kErrSharingViolation);
  close_file(h);
  EXPECT_TRUE(move_file(name.c_str(), dir.file("g.dat").c_str()));
  EXPECT_TRUE(delete_file(dir.file("g.dat").c_str()));
  EXPECT_FALSE(dir.exists("g.dat"));
}

// ---------------------------------------------------------------------------
// Byte-range locks
// ---------------------------------------------------------------------------

TEST(Locks, TwoHandlesOfOneProcessExcludeEachOther) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "");
  Handle a = open_with(name, Access::kReadWrite, kShareAll);
  Handle b = open_with(name, Access::kReadWrite, kShareAll);
  ASSERT_NE(a, kInvalidHandle);
  ASSERT_NE(b, kInvalidHandle);
  const uint64_t base = uint64_t{1} << 40;
  ASSERT_TRUE(lock_range(a, base + 10, 5, true));
  EXPECT_FALSE(lock_range(b, base + 14, 1, true));
  EXPECT_EQ(last_error(), kErrLockViolation);
  EXPECT_FALSE(lock_range(b, base + 5, 6, true));
  EXPECT_TRUE(lock_range(b, base + 15, 1, true));  // adjacent, no overlap
  // The owner itself may not lock an overlapping range again.
  EXPECT_FALSE(lock_range(a, base + 12, 1, true));
  EXPECT_EQ(last_error(), kErrLockViolation);
  // Only the exact range unlocks.
  EXPECT_FALSE(unlock_range(a, base + 10, 4));
  EXPECT_EQ(last_error(), kErrNotLocked);
  EXPECT_FALSE(unlock_range(b, base + 10, 5));
  EXPECT_EQ(last_error(), kErrNotLocked);
  EXPECT_TRUE(unlock_range(a, base + 10, 5));
  EXPECT_FALSE(unlock_range(a, base + 10, 5));
  EXPECT_EQ(last_error(), kErrNotLocked);
  EXPECT_TRUE(lock_range(b, base + 14, 1, true));
  // Unlocking one of two adjacent ranges keeps the other.
  EXPECT_TRUE(unlock_range(b, base + 14, 1));
  EXPECT_FALSE(lock_range(a, base + 15, 1, true));
  close_file(b);
  // Closing releases every lock of the handle.
  EXPECT_TRUE(lock_range(a, base + 15, 1, true));
  close_file(a);
}

TEST(Locks, ReadOnlyHandleLocks) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "");
  Handle r = open_with(name, Access::kRead, kShareAll);
  Handle w = open_with(name, Access::kReadWrite, kShareAll);
  ASSERT_NE(r, kInvalidHandle);
  ASSERT_NE(w, kInvalidHandle);
  ASSERT_TRUE(lock_range(r, 0x80000000u, 1, true));
  EXPECT_FALSE(lock_range(w, 0x80000000u, 1, true));
  EXPECT_EQ(last_error(), kErrLockViolation);
  EXPECT_TRUE(unlock_range(r, 0x80000000u, 1));
  EXPECT_TRUE(lock_range(w, 0x80000000u, 1, true));
  EXPECT_FALSE(lock_range(r, 0x80000000u, 1, true));
  close_file(r);
  close_file(w);
}

TEST(Locks, BadRangesAndHandles) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "");
  Handle h = open_with(name, Access::kReadWrite, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_FALSE(lock_range(h, kMaxLockEnd, 1, true));
  EXPECT_EQ(last_error(), kErrInvalidParameter);
  EXPECT_FALSE(lock_range(h, UINT64_MAX, 2, true));
  EXPECT_EQ(last_error(), kErrInvalidParameter);
  EXPECT_TRUE(lock_range(h, kMaxLockEnd - 1, 1, true));
  // A zero-length lock holds nothing but unlocks once.
  EXPECT_TRUE(lock_range(h, 100, 0, true));
  EXPECT_TRUE(unlock_range(h, 100, 0));
  EXPECT_FALSE(unlock_range(h, 100, 0));
  close_file(h);
  EXPECT_FALSE(lock_range(h, 0, 1, true));
  EXPECT_EQ(last_error(), kErrInvalidHandle);
}

TEST(Locks, AcrossProcessesAndWaiting) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "");
  ChildProcess child([&](Link& link) {
    Handle h = open_with(name, Access::kReadWrite, kShareAll);
    if (h == kInvalidHandle || !lock_range(h, 0x10000000000ull, 1, true)) return 1;
    link.send('L');
    link.receive();
    sleep_ms(50);  // the test is waiting for the lock by now
    unlock_range(h, 0x10000000000ull, 1);
    link.receive();
    return 0;
  });
  ASSERT_EQ(child.link().receive(), 'L');
  Handle h = open_with(name, Access::kRead, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_FALSE(lock_range(h, 0x10000000000ull, 1, true));
  EXPECT_EQ(last_error(), kErrLockViolation);
  child.link().send('u');
  EXPECT_TRUE(lock_range(h, 0x10000000000ull, 1, false));  // waits for the release
  EXPECT_EQ(child.wait(), 0);
  close_file(h);
}

// A file this process may not write: the handle has no writable descriptor
// and its locks and share claims must still exclude others.
TEST(Locks, FileThatCannotBeWritten) {
  ScratchDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  std::string name = dir.write("ro.dat", "data");
  std::filesystem::permissions(name, std::filesystem::perms::owner_read |
                                         std::filesystem::perms::group_read |
                                         std::filesystem::perms::others_read);
  ChildProcess child([&](Link& link) {
    if (!ChildProcess::become_unprivileged()) return 10;
    if (open_with(name, Access::kReadWrite, kShareAll) != kInvalidHandle) return 11;
    Handle a = open_with(name, Access::kRead, kShareAll);
    Handle b = open_with(name, Access::kRead, kShareAll);
    if (a == kInvalidHandle || b == kInvalidHandle) return 12;
    if (!lock_range(a, 500, 2, true)) return 13;
    if (lock_range(b, 501, 1, true) || last_error() != kErrLockViolation) return 14;
    if (!lock_range(b, 502, 1, true)) return 15;
    link.send('L');
    link.receive();
    if (!unlock_range(a, 500, 2)) return 16;
    // Deny-write among readers that cannot write.
    Handle c = open_with(name, Access::kRead, kShareRead);
    if (c == kInvalidHandle) return 17;
    if (open_with(name, Access::kRead, kShareWrite) != kInvalidHandle) return 18;
    link.send('U');
    link.receive();
    return 0;
  });
  ASSERT_EQ(child.link().receive(), 'L');
  // Opened after the fork: a child shares the descriptors it inherits.
  Handle w = open_with(name, Access::kReadWrite, kShareAll);  // test may be privileged
  if (w != kInvalidHandle) {
    EXPECT_FALSE(lock_range(w, 501, 1, true));
    EXPECT_FALSE(lock_range(w, 502, 1, true));
    EXPECT_TRUE(lock_range(w, 503, 1, true));
    close_file(w);
  }
  child.link().send('u');
  ASSERT_EQ(child.link().receive(), 'U') << "child exit " << child.wait();
  // The child's reader denies write; the child's emulated lock at 500 is gone.
  Handle w2 = open_with(name, Access::kReadWrite, kShareAll);
  EXPECT_EQ(w2, kInvalidHandle);
  Handle r = open_with(name, Access::kRead, kShareRead);
  ASSERT_NE(r, kInvalidHandle);
  EXPECT_TRUE(lock_range(r, 500, 2, true));
  EXPECT_FALSE(lock_range(r, 502, 1, true));
  close_file(r);
  EXPECT_EQ(child.wait(), 0);
}

// ---------------------------------------------------------------------------
// OS errors
// ---------------------------------------------------------------------------

TEST(OsErrors, ErrnoTable) {
  const struct {
    int err;
    uint32_t os;
  } rows[] = {
      {ENOTDIR, 3},  {EEXIST, 80}, {ENOSPC, 112},       {EDQUOT, 112},
      {EACCES, 5},   {EPERM, 5},   {EISDIR, 5},         {EROFS, 19},
      {EMFILE, 4},   {ENFILE, 4},  {ENAMETOOLONG, 206}, {EBADF, 6},
      {ENOMEM, 8},   {EINVAL, 87}, {EFBIG, 665},        {EAGAIN, 33},
      {ETXTBSY, 32}, {EPIPE, 109}, {EXDEV, 17},         {ENOTEMPTY, 145},
      {0, 0},
  };
  for (const auto& row : rows) {
    set_last_error_from_errno(row.err);
    EXPECT_EQ(last_error(), row.os) << "errno " << row.err;
  }
}

TEST(OsErrors, MissingFileVersusMissingPath) {
  ScratchDir dir;
  std::string plain = dir.write("plain", "x");
  OpenOptions o;
  EXPECT_EQ(open_file(dir.file("absent.dat").c_str(), o), kInvalidHandle);
  EXPECT_EQ(last_error(), kErrFileNotFound);
  EXPECT_EQ(open_file(dir.file("nodir/absent.dat").c_str(), o), kInvalidHandle);
  EXPECT_EQ(last_error(), kErrPathNotFound);
  EXPECT_EQ(open_file((plain + "/x").c_str(), o), kInvalidHandle);
  EXPECT_EQ(last_error(), kErrPathNotFound);
  EXPECT_EQ(open_file("", o), kInvalidHandle);
  EXPECT_EQ(last_error(), kErrPathNotFound);
  set_last_error_from_errno(ENOENT, (dir.path().string() + "\\nodir\\x").c_str());
  EXPECT_EQ(last_error(), kErrPathNotFound);
  set_last_error_from_errno(ENOENT, "relative-name");
  EXPECT_EQ(last_error(), kErrFileNotFound);
  // A directory is not a file to open.
  EXPECT_EQ(open_file(dir.path().c_str(), o), kInvalidHandle);
  EXPECT_EQ(last_error(), kErrAccessDenied);
  FileStatus st;
  EXPECT_FALSE(file_status(dir.file("nodir/x").c_str(), &st));
  EXPECT_EQ(last_error(), kErrPathNotFound);
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

TEST(Files, CreateDispositions) {
  ScratchDir dir;
  std::string name = dir.file("new.dat");
  Handle h = open_with(name, Access::kReadWrite, kShareAll, Disposition::kCreateNew);
  ASSERT_NE(h, kInvalidHandle);
  uint32_t done = 0;
  ASSERT_TRUE(write(h, "hello", 5, &done));
  EXPECT_EQ(done, 5u);
  close_file(h);
  EXPECT_EQ(open_with(name, Access::kReadWrite, kShareAll, Disposition::kCreateNew),
            kInvalidHandle);
  EXPECT_EQ(last_error(), kErrFileExists);
  EXPECT_EQ(dir.read("new.dat"), "hello");
}

TEST(Files, BackslashIsASeparator) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.path() / "sub");
  dir.write("sub/f.dat", "abc");
  std::string windows_name = dir.path().string() + "\\sub\\f.dat";
  Handle h = open_with(windows_name, Access::kRead, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  char buf[8] = {};
  uint32_t done = 0;
  ASSERT_TRUE(read(h, buf, sizeof buf, &done));
  EXPECT_EQ(std::string(buf, done), "abc");
  ASSERT_TRUE(read(h, buf, sizeof buf, &done));
  EXPECT_EQ(done, 0u);
  close_file(h);
  FileStatus st;
  ASSERT_TRUE(file_status(windows_name.c_str(), &st));
  EXPECT_EQ(st.size, 3);
  EXPECT_FALSE(st.is_directory);
  EXPECT_TRUE(move_file(windows_name.c_str(), (dir.path().string() + "\\sub\\g.dat").c_str()));
  EXPECT_TRUE(delete_file((dir.path().string() + "\\sub\\g.dat").c_str()));
  EXPECT_FALSE(dir.exists("sub/g.dat"));
}

TEST(Files, SeekAndEndOfFile) {
  ScratchDir dir;
  Handle h =
      open_with(dir.file("s.dat"), Access::kReadWrite, kShareAll, Disposition::kCreateAlways);
  ASSERT_NE(h, kInvalidHandle);
  uint32_t done = 0;
  ASSERT_TRUE(write(h, "0123456789", 10, &done));
  int64_t pos = -1;
  EXPECT_FALSE(seek(h, -11, kSeekEnd, &pos));
  EXPECT_EQ(last_error(), kErrNegativeSeek);
  EXPECT_FALSE(seek(h, -1, kSeekBegin, &pos));
  EXPECT_EQ(last_error(), kErrNegativeSeek);
  EXPECT_FALSE(seek(h, INT64_MIN, kSeekCurrent, &pos));
  EXPECT_EQ(last_error(), kErrNegativeSeek);
  ASSERT_TRUE(seek(h, -3, kSeekEnd, &pos));
  EXPECT_EQ(pos, 7);
  ASSERT_TRUE(seek(h, -2, kSeekCurrent, &pos));
  EXPECT_EQ(pos, 5);
  ASSERT_TRUE(set_end_of_file(h));
  int64_t size = 0;
  ASSERT_TRUE(file_size(h, &size));
  EXPECT_EQ(size, 5);
  ASSERT_TRUE(seek(h, 8, kSeekBegin, nullptr));
  ASSERT_TRUE(set_end_of_file(h));  // extends
  ASSERT_TRUE(file_size(h, &size));
  EXPECT_EQ(size, 8);
  EXPECT_TRUE(flush(h));
  close_file(h);
  EXPECT_EQ(dir.read("s.dat"), std::string("01234\0\0\0", 8));
}

TEST(Files, AccessTimeSetModificationKept) {
  ScratchDir dir;
  std::string name = dir.write("t.dat", "x");
  auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
  std::filesystem::last_write_time(name, old);
  FileStatus before;
  ASSERT_TRUE(file_status(name.c_str(), &before));
  Handle h = open_with(name, Access::kReadWrite, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_TRUE(set_created_and_accessed_now(h));
  FileStatus after;
  ASSERT_TRUE(handle_status(h, &after));
  close_file(h);
  EXPECT_EQ(after.modified, before.modified);
  EXPECT_GE(after.accessed, now_seconds() - 5);
}

TEST(Files, MoveNeverReplaces) {
  ScratchDir dir;
  std::string a = dir.write("a", "first");
  std::string b = dir.write("b", "second");
  EXPECT_FALSE(move_file(a.c_str(), b.c_str()));
  EXPECT_EQ(last_error(), kErrAlreadyExists);
  EXPECT_EQ(dir.read("a"), "first");
  EXPECT_EQ(dir.read("b"), "second");
  EXPECT_FALSE(move_file(dir.file("none").c_str(), dir.file("c").c_str()));
  EXPECT_EQ(last_error(), kErrFileNotFound);
  EXPECT_FALSE(move_file(a.c_str(), dir.file("nodir/c").c_str()));
  EXPECT_EQ(last_error(), kErrPathNotFound);
  EXPECT_TRUE(move_file(a.c_str(), dir.file("c").c_str()));
  EXPECT_FALSE(dir.exists("a"));
  EXPECT_EQ(dir.read("c"), "first");
}

TEST(Files, DeleteOnClose) {
  ScratchDir dir;
  OpenOptions o;
  o.access = Access::kReadWrite;
  o.disposition = Disposition::kCreateNew;
  o.delete_on_close = true;
  Handle h = open_file(dir.file("tmp.dat").c_str(), o);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(dir.exists("tmp.dat"));
  close_file(h);
  EXPECT_FALSE(dir.exists("tmp.dat"));
  EXPECT_FALSE(delete_file(dir.file("tmp.dat").c_str()));
  EXPECT_EQ(last_error(), kErrFileNotFound);
}

TEST(Files, CurrentDirectory) {
  EXPECT_EQ(current_directory(), std::filesystem::current_path().string());
}

// ---------------------------------------------------------------------------
// Volumes, the mapped word, time
// ---------------------------------------------------------------------------

TEST(Volumes, LocalFileSystems) {
  ScratchDir dir;
  std::string missing = dir.file("not/yet/there.ism");
  EXPECT_FALSE(is_network_path(dir.path().c_str()));
  EXPECT_FALSE(is_network_path(missing.c_str()));
  EXPECT_TRUE(is_fixed_drive(missing.c_str()));
  EXPECT_TRUE(is_fixed_drive("relative-name"));
  // Two leading separators are an ordinary local path here.
  EXPECT_FALSE(is_network_path(("/" + dir.path().string()).c_str()));
  EXPECT_TRUE(volume_has_large_files("/dev/shm/anything"));  // tmpfs
  EXPECT_FALSE(volume_has_large_files("/proc/self/status"));
}

TEST(MappedWordTest, ShortFileIsRefused) {
  ScratchDir dir;
  std::string name = dir.write("w", std::string("\x01\x02\x03", 3));
  Handle h = open_with(name, Access::kRead, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  MappedWord word;
  EXPECT_FALSE(word.map(h));
  EXPECT_EQ(last_error(), kErrFileInvalid);
  EXPECT_FALSE(word.mapped());
  EXPECT_EQ(word.value(), 0u);
  close_file(h);
}

TEST(MappedWordTest, SeesLaterChanges) {
  ScratchDir dir;
  std::string name = dir.write("w", std::string("\x04\x00\x00\x00zz", 6));
  Handle h = open_with(name, Access::kRead, kShareAll);
  ASSERT_NE(h, kInvalidHandle);
  MappedWord word;
  ASSERT_TRUE(word.map(h));
  close_file(h);  // the view outlives the handle
  EXPECT_EQ(word.value(), 4u);
  Handle w = open_with(name, Access::kWrite, kShareAll);
  ASSERT_NE(w, kInvalidHandle);
  uint32_t done = 0;
  ASSERT_TRUE(write(w, "\x01\x00\x00\x80", 4, &done));
  EXPECT_EQ(word.value(), 0x80000001u);
  // A file shrunk under the view reads the missing bytes as zero.
  ASSERT_TRUE(seek(w, 2, kSeekBegin, nullptr));
  ASSERT_TRUE(set_end_of_file(w));
  EXPECT_EQ(word.value(), 1u);
  close_file(w);
  word.unmap();
  EXPECT_FALSE(word.mapped());
}

TEST(Time, CtimeTextIsZeroPadded) {
  EXPECT_EQ(ctime_text(0), "Thu Jan 01 00:00:00 1970\n");
  EXPECT_EQ(ctime_text(1000000000), "Sun Sep 09 01:46:40 2001\n");
}

}  // namespace
}  // namespace ismgr::platform
