#include "ismgr/platform/platform.h"

#include <gtest/gtest.h>

#include "ismgr/platform/terminal.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>

#include "support/child_process.h"
#include "support/scratch_dir.h"

namespace ismgr::platform {
namespace {

using test::ChildProcess;
using test::Link;
using test::ScratchDir;
constexpr unsigned kShareAll = kShareRead | kShareWrite;

Handle open_with(const std::string& name, Access access, unsigned share = kShareAll,
                 Disposition disposition = Disposition::kOpenExisting) {
  OpenOptions o;
  o.access = access;
  o.share = share;
  o.disposition = disposition;
  return open_file(name.c_str(), o);
}

TEST(ShareModes, WithinOneProcess) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "data");
  const std::tuple<Access, unsigned, Access, unsigned, bool> cases[] = {
      {Access::kReadWrite, kShareAll, Access::kReadWrite, kShareAll, true},
      // Existing denial of write keeps writers out, readers in.
      {Access::kRead, kShareRead, Access::kWrite, kShareAll, false},
      {Access::kRead, kShareRead, Access::kRead, kShareAll, true},
      // Existing denial of read keeps readers out, writers in.
      {Access::kWrite, kShareWrite, Access::kRead, kShareAll, false},
      {Access::kWrite, kShareWrite, Access::kWrite, kShareAll, true},
      // The new open's denials against existing accesses.
      {Access::kRead, kShareAll, Access::kRead, kShareWrite, false},
      {Access::kRead, kShareAll, Access::kRead, kShareRead, true},
      {Access::kWrite, kShareAll, Access::kRead, kShareRead, false},
      {Access::kRead, kShareRead, Access::kRead, kShareWrite, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [first_access, first_share, second_access, second_share, second_opens] = cases[i];
    Handle a = open_with(name, first_access, first_share);
    Handle b = open_with(name, second_access, second_share);
    EXPECT_EQ(b != kInvalidHandle, second_opens) << "case " << i;
    EXPECT_TRUE(second_opens || last_error() == kErrSharingViolation) << "case " << i;
    if (b != kInvalidHandle) close_file(b);
    ASSERT_TRUE(close_file(a)) << "case " << i;
  }
  // A refused create-always leaves the held file intact; an open file is not
  // moved; closing leaves no claim.
  Handle a = open_with(name, Access::kRead, kShareRead);
  EXPECT_EQ(open_with(name, Access::kReadWrite, kShareAll, Disposition::kCreateAlways),
            kInvalidHandle);
  EXPECT_FALSE(move_file(name.c_str(), dir.file("g.dat").c_str()));
  EXPECT_EQ(last_error(), kErrSharingViolation);
  EXPECT_EQ(dir.read("f.dat"), "data");
  close_file(a);
  EXPECT_TRUE(move_file(name.c_str(), dir.file("g.dat").c_str()));
}

TEST(ShareModes, AcrossProcesses) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "data");
  {
    ChildProcess child([&](Link& link) {  // holds a reader that denies write
      link.send(open_with(name, Access::kRead, kShareRead) != kInvalidHandle ? 'o' : 'x');
      link.receive();
      return 0;
    });
    ASSERT_EQ(child.link().receive(), 'o');
    EXPECT_EQ(open_with(name, Access::kWrite), kInvalidHandle);
    EXPECT_EQ(last_error(), kErrSharingViolation);
    EXPECT_EQ(open_with(name, Access::kRead, kShareWrite), kInvalidHandle);
    Handle r = open_with(name, Access::kRead, kShareRead);
    EXPECT_NE(r, kInvalidHandle);
    close_file(r);
    EXPECT_FALSE(delete_file(name.c_str()));
    EXPECT_EQ(child.wait(), 0);
  }
  // The child has gone and with it its claims.
  Handle w = open_with(name, Access::kWrite, kShareNone);
  EXPECT_NE(w, kInvalidHandle);
  close_file(w);
}

// Random locks and unlocks by three handles (one read-only, one reopened now
// and then) against a set of ranges per handle.
TEST(Locks, BehaveLikeASetOfRanges) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "");
  const uint64_t base = uint64_t{1} << 40;
  Handle h[3] = {open_with(name, Access::kReadWrite), open_with(name, Access::kReadWrite),
                 open_with(name, Access::kRead)};
  std::map<std::pair<uint64_t, uint64_t>, int> held;  // {offset, length} -> owner
  std::mt19937 rng(12);
  for (int step = 0; step < 2000; ++step) {
    const int who = rng() % 3;
    const uint64_t offset = base + rng() % 24, length = 1 + rng() % 4;
    const int op = rng() % 8;
    if (op == 7) {
      close_file(h[who]);
      for (auto it = held.begin(); it != held.end();) {
        it = it->second == who ? held.erase(it) : std::next(it);
      }
      h[who] = open_with(name, who == 2 ? Access::kRead : Access::kReadWrite);
      ASSERT_NE(h[who], kInvalidHandle);
    } else if (op >= 4 && !held.empty() && rng() % 2) {  // unlock a held range
      auto it = std::next(held.begin(), rng() % held.size());
      const bool mine = it->second == who;
      const auto range = it->first;
      if (mine) held.erase(it);
      ASSERT_EQ(unlock_range(h[who], range.first, range.second), mine) << step;
      if (!mine) {
        ASSERT_EQ(last_error(), kErrNotLocked) << step;
      }
    } else if (op >= 4) {
      const bool exact = held.count({offset, length}) && held[{offset, length}] == who;
      if (exact) held.erase({offset, length});
      ASSERT_EQ(unlock_range(h[who], offset, length), exact) << step;
    } else {
      bool free = true;
      for (const auto& [range, owner] : held) {
        free = free && (offset + length <= range.first || range.first + range.second <= offset);
      }
      if (free) held[{offset, length}] = who;
      ASSERT_EQ(lock_range(h[who], offset, length, true), free) << step;
      if (!free) {
        ASSERT_EQ(last_error(), kErrLockViolation) << step;
      }
    }
  }
  EXPECT_FALSE(lock_range(h[0], kMaxLockEnd, 1, true));
  EXPECT_EQ(last_error(), kErrInvalidParameter);
  EXPECT_FALSE(lock_range(h[0], UINT64_MAX, 2, true));
  EXPECT_EQ(last_error(), kErrInvalidParameter);
  EXPECT_TRUE(lock_range(h[0], kMaxLockEnd - 1, 1, true));
  // A zero-length lock holds nothing but unlocks once.
  EXPECT_TRUE(lock_range(h[0], 100, 0, true));
  EXPECT_TRUE(unlock_range(h[0], 100, 0));
  EXPECT_FALSE(unlock_range(h[0], 100, 0));
  for (Handle x : h) close_file(x);
  EXPECT_FALSE(lock_range(h[0], 0, 1, true));
  EXPECT_EQ(last_error(), kErrInvalidHandle);
}

TEST(Locks, AcrossProcessesAndWaiting) {
  ScratchDir dir;
  std::string name = dir.write("f.dat", "");
  const uint64_t at = 0x10000000000ull;
  ChildProcess child([&](Link& link) {
    Handle h = open_with(name, Access::kReadWrite);
    if (h == kInvalidHandle || !lock_range(h, at, 1, true)) return 1;
    link.send('L');
    link.receive();
    sleep_ms(50);  // the test is waiting for the lock by now
    unlock_range(h, at, 1);
    link.receive();
    return 0;
  });
  ASSERT_EQ(child.link().receive(), 'L');
  Handle h = open_with(name, Access::kRead);
  EXPECT_FALSE(lock_range(h, at, 1, true));
  EXPECT_EQ(last_error(), kErrLockViolation);
  EXPECT_TRUE(lock_range(h, at + 1, 1, true));
  child.link().send('u');
  EXPECT_TRUE(lock_range(h, at, 1, false));  // waits for the release
  EXPECT_EQ(child.wait(), 0);
  close_file(h);
}

TEST(Files, ErrorsAndMoves) {
  ScratchDir dir;
  std::string plain = dir.write("plain", "x");
  const std::pair<std::string, uint32_t> rows[] = {
      {dir.file("absent.dat"), kErrFileNotFound},
      {dir.file("nodir/absent.dat"), kErrPathNotFound},
      {plain + "/x", kErrPathNotFound},
      {dir.path().string(), kErrAccessDenied}};  // a directory is no file to open
  for (const auto& [file, error] : rows) {
    EXPECT_EQ(open_file(file.c_str(), OpenOptions()), kInvalidHandle) << file;
    EXPECT_EQ(last_error(), error) << file;
  }
  set_last_error_from_errno(ENOENT, (dir.path().string() + "\\nodir\\x").c_str());
  EXPECT_EQ(last_error(), kErrPathNotFound);
  EXPECT_FALSE(move_file(plain.c_str(), dir.write("other", "y").c_str()));  // never replaces
  EXPECT_EQ(last_error(), kErrAlreadyExists);
  EXPECT_EQ(dir.read("other"), "y");
}

// A view serves the file's own bytes wherever the stretches fall (across the
// mapped windows, forwards and back), and a file cut under it never ends the
// process: what was cut away reads as zeros and the view says so, or (where
// the view copies) is refused.
TEST(Files, ViewsMatchTheFileAndSurviveItsCut) {
  ScratchDir dir;
  std::mt19937 random(7);
  std::string bytes((5 << 20) + 123, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  const std::string name = dir.write("big.dat", bytes);
  Handle h = open_with(name, Access::kRead);
  ASSERT_NE(h, kInvalidHandle);
  {
    FileView view(h, bytes.size());
    for (int i = 0; i < 300; ++i) {
      const size_t length = random() % (256 << 10);
      const size_t offset = random() % (bytes.size() - length + 1);
      const uint8_t* p = view.view(offset, length);
      ASSERT_NE(p, nullptr);
      ASSERT_EQ(std::memcmp(p, bytes.data() + offset, length), 0) << offset << " " << length;
    }
    EXPECT_EQ(view.view(bytes.size() - 10, 11), nullptr);
    const uint8_t* cut = view.view(3 << 20, 4096);
    ASSERT_NE(cut, nullptr);
    Handle w = open_with(name, Access::kReadWrite);
    ASSERT_TRUE(seek(w, 1 << 20, kSeekBegin, nullptr) && set_end_of_file(w));
    close_file(w);
    std::string seen(reinterpret_cast<const char*>(cut), 4096);  // must not fault
    if (view.shrunk()) {
      EXPECT_EQ(seen, std::string(4096, '\0'));
    } else {
      EXPECT_EQ(view.view(3 << 20, 4096), nullptr);
    }
    const uint8_t* kept = view.view(4096, 4096);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(std::memcmp(kept, bytes.data() + 4096, 4096), 0);
  }
  close_file(h);
}

#ifndef _WIN32
// A FIFO named as a file: every open returns at once (a blocked one is freed
// by a writer of the test's own, and fails the test), reads find it empty,
// and no creation writes into it.
TEST(Files, FifoNeverWaits) {
  ScratchDir dir;
  const std::string fifo = dir.file("pipe.ism");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Row {
    Access access;
    Disposition disposition;
    bool opens;
  };
  const Row rows[] = {{Access::kRead, Disposition::kOpenExisting, true},
                      {Access::kReadWrite, Disposition::kOpenExisting, true},
                      {Access::kReadWrite, Disposition::kCreateAlways, false},
                      {Access::kWrite, Disposition::kCreateAlways, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.access) * 10 + static_cast<int>(row.disposition));
    uint8_t first[64];
    uint32_t got = 99;
    auto open = std::async(std::launch::async, [&] {
      OpenOptions o;
      o.access = row.access;
      o.disposition = row.disposition;
      o.first_read = first;
      o.first_read_count = sizeof first;
      o.first_read_done = &got;
      return open_file(fifo.c_str(), o);
    });
    if (open.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      const int writer = ::open(fifo.c_str(), O_RDWR);
      open.wait();
      ::close(writer);
      FAIL() << "the open waited for a writer";
    }
    const Handle h = open.get();
    EXPECT_EQ(h != kInvalidHandle, row.opens);
    if (h == kInvalidHandle) continue;
    EXPECT_EQ(got, 0u);
    uint32_t done = 99;
    read(h, first, sizeof first, &done);
    EXPECT_EQ(done, 0u);
    close_file(h);
  }
}

// A program started without standard output and error gets read-only
// stand-ins: the file it opens next does not become stream 1 or 2 (and so
// never receives their text), and writes to them still fail.
TEST(Files, ClosedStandardStreamsNeverBecomeFiles) {
  ScratchDir dir;
  const std::string name = dir.write("f.dat", "data");
  ChildProcess child([&](Link&) {
    ::close(1);
    ::close(2);
    guard_standard_streams();
    const Handle h = open_with(name, Access::kReadWrite);
    return h > 2 && ::write(1, "x", 1) < 0 && ::write(2, "x", 1) < 0 ? 0 : 1;
  });
  EXPECT_EQ(child.wait(), 0);
  EXPECT_EQ(dir.read("f.dat"), "data");
}
#endif

}  // namespace
}  // namespace ismgr::platform
