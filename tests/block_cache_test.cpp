#include "ismgr/fileio/block_cache.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "ismgr/platform/platform.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

namespace p = platform;

constexpr uint32_t kBlock = 1024;

std::vector<uint8_t> pattern(uint8_t value, size_t size = kBlock) {
  return std::vector<uint8_t>(size, value);
}

// A scratch index file of whole blocks, block i filled with the byte i + 1.
class BlockCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("index.ism");
    data_path_ = dir_.file("index.is1");
  }
  void TearDown() override {
    cache_.reset();
    for (p::Handle h : handles_) p::close_file(h);
  }

  p::Handle open(const std::string& path, p::Access access, bool create = false) {
    p::OpenOptions options;
    options.access = access;
    if (create) options.disposition = p::Disposition::kCreateAlways;
    p::Handle h = p::open_file(path.c_str(), options);
    EXPECT_NE(h, p::kInvalidHandle) << path;
    handles_.push_back(h);
    return h;
  }
  // Writes `blocks` blocks to the index file and returns a read-write handle.
  p::Handle make_file(int blocks) {
    p::Handle h = open(path_, p::Access::kReadWrite, true);
    for (int i = 0; i < blocks; ++i) disk_write(h, i * int64_t{kBlock}, pattern(uint8_t(i + 1)));
    return h;
  }
  static void disk_write(p::Handle h, int64_t position, const std::vector<uint8_t>& bytes) {
    uint32_t done = 0;
    ASSERT_TRUE(p::seek(h, position, p::kSeekBegin, nullptr));
    ASSERT_TRUE(p::write(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
    ASSERT_EQ(done, bytes.size());
  }
  // What another handle reads at `position` now (shorter at end of file).
  std::vector<uint8_t> on_disk(int64_t position, uint32_t size = kBlock,
                               const std::string* path = nullptr) {
    p::OpenOptions options;
    p::Handle h = p::open_file((path ? *path : path_).c_str(), options);
    std::vector<uint8_t> bytes(size);
    uint32_t done = 0;
    if (h == p::kInvalidHandle || !p::seek(h, position, p::kSeekBegin, nullptr) ||
        !p::read(h, bytes.data(), size, &done)) {
      done = 0;
    }
    if (h != p::kInvalidHandle) p::close_file(h);
    bytes.resize(done);
    return bytes;
  }
  int64_t disk_size() {
    p::FileStatus status;
    return p::file_status(path_.c_str(), &status) ? status.size : -1;
  }
  std::vector<uint8_t> read(int64_t position) {
    std::vector<uint8_t> bytes(kBlock);
    int64_t n = cache_->read_block(handle_, bytes.data(), kBlock, position);
    if (n != kBlock) bytes.clear();
    return bytes;
  }
  int64_t write(int64_t position, uint8_t value) {
    std::vector<uint8_t> bytes = pattern(value);
    return cache_->write_block(handle_, bytes.data(), kBlock, position);
  }
  void make_cache(int blocks, uint32_t fixed, uint32_t computed = 8, bool from_system = false,
                  uint32_t width = 0) {
    handle_ = make_file(blocks);
    cache_ = BlockCache::create(handle_, fixed, computed, from_system, kBlock, width);
    ASSERT_TRUE(cache_);
  }

  test::ScratchDir dir_;
  std::string path_, data_path_;
  std::vector<p::Handle> handles_;
  p::Handle handle_ = p::kInvalidHandle;
  std::unique_ptr<BlockCache> cache_;
};

// ---------------------------------------------------------------------------
// Settings from the environment.
// ---------------------------------------------------------------------------

TEST(CacheSettings, ReadFromTheEnvironment) {
  struct Case {
    const char *numbufs, *index, *data, *dbufs;
    uint32_t fixed;
    bool index_on, data_on;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, nullptr, 0, true, false},
      {"3", "yes", "Y", "10", 3, true, true},
      {"abc", "no", "yes", "11", 0, false, true},
      {"-4", "N", "n", "0", 0, false, false},
      {"12x", "", "", "-2", 12, true, false},
  };
  for (const Case& c : cases) {
    auto put = [](const char* name, const char* value) {
      if (value != nullptr) {
        setenv(name, value, 1);
      } else {
        unsetenv(name);
      }
    };
    put("NUMBUFS", c.numbufs);
    put("CACHE_INDEX", c.index);
    put("CACHE_DATA", c.data);
    put("NUMDBUFS", c.dbufs);
    CacheSettings s = read_cache_settings();
    EXPECT_EQ(s.fixed_maximum, c.fixed) << (c.numbufs ? c.numbufs : "unset");
    EXPECT_EQ(s.index_caching, c.index_on);
    EXPECT_EQ(s.data_caching, c.data_on);
  }
  for (const char* name : {"NUMBUFS", "CACHE_INDEX", "CACHE_DATA", "NUMDBUFS"}) unsetenv(name);
}

TEST(CacheSettings, ComputedMaximumByOpenMode) {
  const uint8_t depths[] = {2, 5, 3};
  EXPECT_EQ(cache_computed_maximum(true, depths, 3), 6u);
  EXPECT_EQ(cache_computed_maximum(false, depths, 3), 16u);
  EXPECT_EQ(cache_computed_maximum(true, depths, 0), 1u);
  EXPECT_EQ(cache_computed_maximum(false, nullptr, 4), 0u);
}

// ---------------------------------------------------------------------------
// Reading, hits and purges.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, ReadsComeFromDiskOnceThenHit) {
  make_cache(4, 0);
  EXPECT_EQ(read(2048), pattern(3));
  EXPECT_EQ(read(2048), pattern(3));
  EXPECT_EQ(read(0), pattern(1));
  EXPECT_EQ(read(2048), pattern(3));
  CacheStatistics s = cache_->statistics();
  EXPECT_EQ(s.block_reads, 2u);
  EXPECT_EQ(s.hits, 2u);
  EXPECT_EQ(s.buffers_in_use, 2u);
  // A shorter read takes the start of the block.
  uint8_t two[2] = {0, 0};
  EXPECT_EQ(cache_->read_block(handle_, two, 2, 1024), 2);
  EXPECT_EQ(two[0], 2);
}

TEST_F(BlockCacheTest, NumbufsThreePurgesLeastRecentlyUsedButKeepsPositionZero) {
  setenv("NUMBUFS", "3", 1);
  const uint32_t fixed = read_cache_settings().fixed_maximum;
  unsetenv("NUMBUFS");
  make_cache(6, fixed);
  read(0);
  read(1024);
  read(2048);
  EXPECT_EQ(cache_->statistics().purges, 0u);
  // Least recently used is the block at 0; it stays, 1024 goes.
  read(3072);
  EXPECT_EQ(cache_->statistics().purges, 1u);
  EXPECT_EQ(cache_->is_cached(handle_, 0), 1);
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 0);
  EXPECT_EQ(cache_->is_cached(handle_, 2048), 1);
  EXPECT_EQ(cache_->is_cached(handle_, 3072), 1);
  // A hit moves a block to the front: 2048 is used, so 3072 goes next.
  read(2048);
  read(4096);
  EXPECT_EQ(cache_->is_cached(handle_, 3072), 0);
  EXPECT_EQ(cache_->is_cached(handle_, 2048), 1);
  EXPECT_EQ(cache_->is_cached(handle_, 0), 1);
  EXPECT_EQ(cache_->statistics().buffers_in_use, 3u);
  EXPECT_EQ(cache_->statistics().block_reads, 5u);
  // The purged block is read again from disk.
  EXPECT_EQ(read(1024), pattern(2));
  EXPECT_EQ(cache_->statistics().block_reads, 6u);
}

TEST_F(BlockCacheTest, SingleBufferGivesUpEvenPositionZero) {
  make_cache(3, 1);
  EXPECT_EQ(read(0), pattern(1));
  EXPECT_EQ(read(1024), pattern(2));
  EXPECT_EQ(cache_->is_cached(handle_, 0), 0);
  EXPECT_EQ(cache_->statistics().buffers_in_use, 1u);
  EXPECT_EQ(cache_->statistics().purges, 1u);
}

TEST_F(BlockCacheTest, ComputedMaximumBoundsTheBuffersWhenNoneIsFixed) {
  make_cache(4, 0, 2);
  read(1024);
  read(2048);
  read(3072);
  EXPECT_EQ(cache_->statistics().buffers_in_use, 2u);
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 0);
}

TEST_F(BlockCacheTest, PurgedDirtyBlockIsWrittenBackFirst) {
  make_cache(4, 2);
  ASSERT_EQ(write(1024, 0xA1), kBlock);
  ASSERT_EQ(write(2048, 0xA2), kBlock);
  EXPECT_EQ(on_disk(1024), pattern(2));
  read(3072);  // 1024 is the victim
  EXPECT_EQ(on_disk(1024), pattern(0xA1));
  EXPECT_EQ(on_disk(2048), pattern(3));
  EXPECT_EQ(cache_->statistics().block_writes, 1u);
  EXPECT_EQ(read(1024), pattern(0xA1));
}

// ---------------------------------------------------------------------------
// Failed reads.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, ShortReadIsNotKeptAndIsReadAgain) {
  handle_ = make_file(1);
  disk_write(handle_, 1024, pattern(0x55, 512));  // half a block
  cache_ = BlockCache::create(handle_, 4, 4, false, kBlock, 0);
  ASSERT_TRUE(cache_);
  std::vector<uint8_t> bytes(kBlock, 0xEE);
  EXPECT_EQ(cache_->read_block(handle_, bytes.data(), kBlock, 1024), -1);
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 0);
  // The file grows; the block is read from disk, not taken from the buffer.
  disk_write(handle_, 1024, pattern(0x66));
  EXPECT_EQ(read(1024), pattern(0x66));
  EXPECT_EQ(cache_->statistics().block_reads, 2u);
  EXPECT_EQ(cache_->statistics().hits, 0u);
  EXPECT_EQ(cache_->statistics().buffers_in_use, 1u);
  // Nothing beyond the end of the file is a hit either.
  EXPECT_EQ(cache_->read_block(handle_, bytes.data(), kBlock, 8192), -1);
  EXPECT_EQ(cache_->read_block(handle_, bytes.data(), kBlock, 8192), -1);
  EXPECT_EQ(cache_->statistics().hits, 0u);
}

TEST_F(BlockCacheTest, FailingReadLeavesNothingCached) {
  make_file(2);
  p::Handle write_only = open(path_, p::Access::kWrite);
  cache_ = BlockCache::create(write_only, 4, 4, false, kBlock, 0);
  ASSERT_TRUE(cache_);
  std::vector<uint8_t> bytes(kBlock);
  EXPECT_EQ(cache_->read_block(write_only, bytes.data(), kBlock, 0), -1);
  EXPECT_EQ(cache_->read_block(write_only, bytes.data(), kBlock, 0), -1);
  EXPECT_EQ(cache_->is_cached(write_only, 0), 0);
  EXPECT_EQ(cache_->statistics().block_reads, 2u);
  EXPECT_EQ(cache_->statistics().hits, 0u);
}

// ---------------------------------------------------------------------------
// Writing, write-back and flush.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, WriteInsideFileStaysInMemoryUntilFlush) {
  make_cache(4, 0);
  ASSERT_EQ(write(1024, 0x77), kBlock);
  EXPECT_EQ(on_disk(1024), pattern(2));
  EXPECT_EQ(read(1024), pattern(0x77));
  EXPECT_EQ(cache_->statistics().block_reads, 0u);
  ASSERT_EQ(cache_->flush(false), 0);
  EXPECT_EQ(on_disk(1024), pattern(0x77));
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 1);
  // Clean blocks are not written again.
  ASSERT_EQ(cache_->flush(false), 0);
  EXPECT_EQ(cache_->statistics().block_writes, 1u);
}

TEST_F(BlockCacheTest, WriteBeyondKnownEndReachesDiskAtOnce) {
  make_cache(4, 0);
  ASSERT_EQ(write(4096, 0x88), kBlock);
  EXPECT_EQ(disk_size(), 5 * kBlock);
  EXPECT_EQ(on_disk(4096), pattern(0x88));
  // The known end moved: the same block written again stays in memory.
  ASSERT_EQ(write(4096, 0x99), kBlock);
  EXPECT_EQ(on_disk(4096), pattern(0x88));
  EXPECT_EQ(cache_->statistics().block_writes, 1u);
  // A partial write of a block not held zero-fills the rest.
  uint8_t head[4] = {1, 2, 3, 4};
  ASSERT_EQ(cache_->write_block(handle_, head, 4, 5120), 4);
  std::vector<uint8_t> expected = pattern(0);
  std::copy(head, head + 4, expected.begin());
  EXPECT_EQ(on_disk(5120), expected);
}

TEST_F(BlockCacheTest, FlushWritesInAscendingOrderAndStopsAtFailure) {
  make_cache(5, 0);
  // Neither the use order nor its reverse is ascending.
  ASSERT_EQ(write(2048, 0xC2), kBlock);
  ASSERT_EQ(write(4096, 0xC4), kBlock);
  ASSERT_EQ(write(1024, 0xC1), kBlock);
  // Empty the file and cap its size at 3072 bytes: only writes in ascending
  // order get 1024 and 2048 to disk before 4096 fails.
  ASSERT_TRUE(p::seek(handle_, 0, p::kSeekBegin, nullptr));
  ASSERT_TRUE(p::set_end_of_file(handle_));
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit capped = saved;
  capped.rlim_cur = 3 * kBlock;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &capped), 0);
  int result = cache_->flush(true);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(on_disk(1024), pattern(0xC1));
  EXPECT_EQ(on_disk(2048), pattern(0xC2));
  EXPECT_EQ(disk_size(), 3 * kBlock);
  // The failed block is still held and dirty; the failed flush forgot nothing.
  EXPECT_EQ(cache_->is_cached(handle_, 4096), 1);
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 1);
  ASSERT_EQ(cache_->flush(true), 0);
  EXPECT_EQ(on_disk(4096), pattern(0xC4));
  EXPECT_EQ(cache_->is_cached(handle_, 4096), 0);
  EXPECT_EQ(cache_->statistics().block_writes, 4u);
}

TEST_F(BlockCacheTest, FailedImmediateWriteLeavesTheBlockOut) {
  make_file(2);
  p::Handle read_only = open(path_, p::Access::kRead);
  cache_ = BlockCache::create(read_only, 4, 4, false, kBlock, 0);
  ASSERT_TRUE(cache_);
  std::vector<uint8_t> bytes = pattern(0x42);
  EXPECT_EQ(cache_->write_block(read_only, bytes.data(), kBlock, 4096), -1);
  EXPECT_EQ(cache_->is_cached(read_only, 4096), 0);
  // The highest written end did not move.
  EXPECT_EQ(cache_->seek(read_only, 0, 2), 2 * kBlock);
}

TEST_F(BlockCacheTest, FlushInvalidateRereadsTheEnd) {
  make_cache(2, 0);
  read(0);
  ASSERT_EQ(write(1024, 0x31), kBlock);
  disk_write(open(path_, p::Access::kReadWrite), 2048, pattern(0x33));  // another writer
  ASSERT_EQ(cache_->flush(true), 0);
  EXPECT_EQ(cache_->is_cached(handle_, 0), 0);
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 0);
  EXPECT_EQ(cache_->seek(handle_, 0, 2), 3 * kBlock);
  EXPECT_EQ(read(1024), pattern(0x31));
}

TEST_F(BlockCacheTest, SizeFromSystemInvalidateForgetsTheEnd) {
  make_cache(4, 0, 8, true);
  // The known end starts at 0: any write goes to disk at once.
  ASSERT_EQ(write(1024, 0x51), kBlock);
  EXPECT_EQ(on_disk(1024), pattern(0x51));
  ASSERT_EQ(write(0, 0x50), kBlock);  // inside the end now known
  EXPECT_EQ(on_disk(0), pattern(1));
  ASSERT_EQ(cache_->flush(true), 0);
  EXPECT_EQ(on_disk(0), pattern(0x50));
  ASSERT_EQ(write(0, 0x52), kBlock);  // the end is 0 again
  EXPECT_EQ(on_disk(0), pattern(0x52));
}

// ---------------------------------------------------------------------------
// Seek.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, SeekKeepsTheEndItselfWithoutSizeFromSystem) {
  make_cache(3, 0);
  EXPECT_EQ(cache_->seek(handle_, 500, 2), 3 * kBlock);  // distance ignored
  ASSERT_EQ(write(8192, 0x10), kBlock);
  EXPECT_EQ(cache_->seek(handle_, 0, 2), 9 * kBlock);
  EXPECT_EQ(cache_->seek(handle_, 1024, 0), 1024);
  EXPECT_EQ(cache_->seek(handle_, 0x7FFFFFFF, 0), 0x7FFFFFFF);
  EXPECT_EQ(cache_->seek(handle_, 0x80000000LL, 0), -1);
  EXPECT_EQ(cache_->seek(handle_, -1, 0), -1);
  // A held block found by a seek becomes the last used one.
  read(1024);
  read(2048);
  EXPECT_EQ(cache_->seek(handle_, 1024, 0), 1024);
  EXPECT_EQ(cache_->seek(handle_, 100, 1), 1124);
  // Nothing was read for the seeks.
  EXPECT_EQ(cache_->statistics().block_reads, 2u);
}

TEST_F(BlockCacheTest, SeekAsksTheSystemWithSizeFromSystem) {
  make_cache(3, 0, 8, true);
  EXPECT_EQ(cache_->seek(handle_, 100, 2), 3 * kBlock + 100);
  EXPECT_EQ(cache_->seek(handle_, 2048, 0), 2048);
  disk_write(open(path_, p::Access::kReadWrite), 4096, pattern(9));
  EXPECT_EQ(cache_->seek(handle_, 0, 2), 5 * kBlock);
}

TEST_F(BlockCacheTest, WidthLimitsBoundBlockPositions) {
  EXPECT_EQ(BlockCache::position_limit(0), 0x7FFFFFFF);
  EXPECT_EQ(BlockCache::position_limit(40), (int64_t{1} << 40) - 1);
  EXPECT_EQ(BlockCache::position_limit(48), (int64_t{1} << 48) - 1);
  make_cache(1, 0);
  std::vector<uint8_t> bytes(kBlock);
  EXPECT_EQ(cache_->write_block(handle_, bytes.data(), kBlock, 0x7FFFFFFF - kBlock + 1), -1);
  EXPECT_EQ(cache_->read_block(handle_, bytes.data(), kBlock, 0x80000000LL), -1);
  EXPECT_EQ(cache_->read_block(handle_, bytes.data(), kBlock, -1024), -1);
  EXPECT_EQ(cache_->statistics().block_reads, 0u);
  EXPECT_EQ(cache_->statistics().block_writes, 0u);
}

// ---------------------------------------------------------------------------
// Header operations.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, HeaderRereadOnlyForSharedFiles) {
  make_cache(2, 0);
  p::Handle other = open(path_, p::Access::kRead);
  std::vector<uint8_t> header(16, 0xEE);
  EXPECT_EQ(cache_->reread_header(other, header.data(), 16, 0), 16);
  EXPECT_EQ(header, pattern(0xEE, 16));
  cache_->set_shared_file(true);
  EXPECT_EQ(cache_->reread_header(other, header.data(), 16, 1020), 16);
  std::vector<uint8_t> expected = {1, 1, 1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
  EXPECT_EQ(header, expected);
  EXPECT_EQ(cache_->reread_header(other, header.data(), 16, 2040), -1);  // short
  EXPECT_EQ(cache_->statistics().block_reads, 2u);
}

TEST_F(BlockCacheTest, HeaderWriteSkippedForExclusiveOpensUnlessForced) {
  make_cache(2, 0);
  std::vector<uint8_t> header = pattern(0x7E, 8);
  EXPECT_EQ(cache_->write_header(handle_, header.data(), 8, 0), 8);
  EXPECT_EQ(on_disk(0, 8), pattern(1, 8));
  EXPECT_EQ(cache_->write_header(handle_, header.data(), 8, 0, true), 8);
  EXPECT_EQ(on_disk(0, 8), pattern(0x7E, 8));
  EXPECT_EQ(cache_->statistics().block_writes, 1u);

  // With size from the system every header write goes to disk, through the
  // handle it is given.
  p::Handle other = open(path_, p::Access::kReadWrite);
  auto shared = BlockCache::create(handle_, 0, 4, true, kBlock, 0);
  ASSERT_TRUE(shared);
  header = pattern(0x3C, 8);
  EXPECT_EQ(shared->write_header(other, header.data(), 8, 100), 8);
  EXPECT_EQ(on_disk(100, 8), pattern(0x3C, 8));
  p::Handle read_only = open(path_, p::Access::kRead);
  EXPECT_EQ(shared->write_header(read_only, header.data(), 8, 100), -1);
}

// ---------------------------------------------------------------------------
// Foreign handles and bad arguments.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, OtherHandleDoesNothingAndFails) {
  make_cache(4, 0);
  read(1024);
  ASSERT_EQ(write(2048, 0x61), kBlock);
  const CacheStatistics before = cache_->statistics();
  p::Handle other = open(path_, p::Access::kReadWrite);
  std::vector<uint8_t> bytes = pattern(0xF0);
  std::vector<uint8_t> sink(kBlock, 0xAB);
  EXPECT_EQ(cache_->read_block(other, sink.data(), kBlock, 1024), -1);
  EXPECT_EQ(sink, pattern(0xAB));
  EXPECT_EQ(cache_->write_block(other, bytes.data(), kBlock, 1024), -1);
  EXPECT_EQ(cache_->write_block(other, bytes.data(), kBlock, 8192), -1);
  EXPECT_EQ(cache_->seek(other, 0, 2), -1);
  EXPECT_EQ(cache_->is_cached(other, 1024), 0);
  EXPECT_EQ(cache_->close(other), -1);
  EXPECT_EQ(cache_->append_data(other, bytes.data(), 10), -1);

  const CacheStatistics after = cache_->statistics();
  EXPECT_EQ(after.hits, before.hits);
  EXPECT_EQ(after.block_reads, before.block_reads);
  EXPECT_EQ(after.block_writes, before.block_writes);
  EXPECT_EQ(disk_size(), 4 * kBlock);
  EXPECT_EQ(on_disk(2048), pattern(3));
  // The cache is intact: its own handle still works.
  EXPECT_EQ(read(1024), pattern(2));
  EXPECT_EQ(read(2048), pattern(0x61));
  EXPECT_EQ(cache_->close(handle_), 0);
  EXPECT_EQ(on_disk(2048), pattern(0x61));
}

TEST_F(BlockCacheTest, BadArgumentsAreRefused) {
  make_cache(2, 0);
  std::vector<uint8_t> big(2 * kBlock);
  EXPECT_EQ(cache_->read_block(handle_, big.data(), kBlock + 1, 0), -1);
  EXPECT_EQ(cache_->write_block(handle_, big.data(), kBlock + 1, 0), -1);
  EXPECT_EQ(cache_->read_block(handle_, nullptr, 10, 0), -1);
  EXPECT_EQ(cache_->write_block(handle_, nullptr, 10, 0), -1);
  EXPECT_EQ(cache_->statistics().buffers_in_use, 0u);
  EXPECT_FALSE(BlockCache::create(handle_, 0, 4, false, 0, 0));
  EXPECT_FALSE(BlockCache::create(handle_, 0, 4, false, 64u << 20, 0));
  EXPECT_FALSE(cache_->attach_data_buffer(handle_, 0, 100, 0));
  EXPECT_FALSE(cache_->attach_data_buffer(handle_, 10, 0x7FFFFFFF, 0));
  // A cache given no maximum at all still works with one buffer.
  auto tiny = BlockCache::create(handle_, 0, 0, false, kBlock, 0);
  ASSERT_TRUE(tiny);
  std::vector<uint8_t> bytes(kBlock);
  EXPECT_EQ(tiny->read_block(handle_, bytes.data(), kBlock, 1024), kBlock);
  EXPECT_EQ(tiny->read_block(handle_, bytes.data(), kBlock, 0), kBlock);
  EXPECT_EQ(bytes, pattern(1));
}

TEST_F(BlockCacheTest, CloseWritesBackAndLaterCallsFail) {
  make_cache(4, 0);
  ASSERT_EQ(write(1024, 0x21), kBlock);
  ASSERT_EQ(cache_->close(handle_), 0);
  EXPECT_EQ(on_disk(1024), pattern(0x21));
  std::vector<uint8_t> bytes(kBlock);
  EXPECT_EQ(cache_->read_block(handle_, bytes.data(), kBlock, 0), -1);
  EXPECT_EQ(cache_->write_block(handle_, bytes.data(), kBlock, 0), -1);
  EXPECT_EQ(cache_->flush(false), -1);
  EXPECT_EQ(cache_->close(handle_), -1);
}

// ---------------------------------------------------------------------------
// Data write-behind.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, DataBufferWritesFullPiecesAndTheRestAtClose) {
  make_cache(1, 0);
  p::Handle data = open(data_path_, p::Access::kReadWrite, true);
  disk_write(data, 0, pattern(0xDD, 512));
  ASSERT_TRUE(cache_->attach_data_buffer(data, 1, 100, 512));  // 1024-byte pieces
  std::vector<uint8_t> expected = pattern(0xDD, 512);
  for (int i = 0; i < 10; ++i) {
    std::vector<uint8_t> record = pattern(uint8_t(i), 100);
    ASSERT_EQ(cache_->append_data(data, record.data(), 100), 100);
    expected.insert(expected.end(), record.begin(), record.end());
  }
  EXPECT_EQ(on_disk(0, 4096, &data_path_).size(), 512u);
  std::vector<uint8_t> record = pattern(10, 100);
  ASSERT_EQ(cache_->append_data(data, record.data(), 100), 100);
  expected.insert(expected.end(), record.begin(), record.end());
  // The first 1024 bytes are out; 76 wait in the buffer.
  EXPECT_EQ(on_disk(0, 4096, &data_path_),
            std::vector<uint8_t>(expected.begin(), expected.begin() + 512 + 1024));
  EXPECT_EQ(cache_->statistics().data_writes, 1u);
  ASSERT_EQ(cache_->close(handle_), 0);
  EXPECT_EQ(on_disk(0, 4096, &data_path_), expected);
  EXPECT_EQ(cache_->statistics().data_writes, 2u);
}

TEST_F(BlockCacheTest, OversizeAppendKeepsTheOrder) {
  make_cache(1, 0);
  p::Handle data = open(data_path_, p::Access::kReadWrite, true);
  ASSERT_TRUE(cache_->attach_data_buffer(data, 1, 100, 0));
  std::vector<uint8_t> a = pattern(1, 50), b = pattern(2, 3000), c = pattern(3, 20);
  ASSERT_EQ(cache_->append_data(data, a.data(), 50), 50);
  ASSERT_EQ(cache_->append_data(data, b.data(), 3000), 3000);
  ASSERT_EQ(cache_->append_data(data, c.data(), 20), 20);
  ASSERT_EQ(cache_->close(handle_), 0);
  std::vector<uint8_t> expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  expected.insert(expected.end(), c.begin(), c.end());
  EXPECT_EQ(on_disk(0, 8192, &data_path_), expected);
}

TEST_F(BlockCacheTest, FailedDataWriteDoesNotTakeTheBytes) {
  make_cache(1, 0);
  p::Handle data_rw = open(data_path_, p::Access::kReadWrite, true);
  p::Handle data = open(data_path_, p::Access::kRead);
  ASSERT_TRUE(cache_->attach_data_buffer(data, 1, 600, 0));  // 1024-byte pieces
  std::vector<uint8_t> record = pattern(7, 600);
  ASSERT_EQ(cache_->append_data(data, record.data(), 600), 600);
  EXPECT_EQ(cache_->append_data(data, record.data(), 600), -1);
  EXPECT_EQ(cache_->append_data(data_rw, record.data(), 600), -1);  // not its data handle
  // Only the first record is still buffered: close writes those 600 bytes and
  // fails for the read-only handle, leaving the file empty.
  EXPECT_EQ(cache_->close(handle_), -1);
  EXPECT_TRUE(on_disk(0, 4096, &data_path_).empty());
}

// ---------------------------------------------------------------------------
// Statistics.
// ---------------------------------------------------------------------------

TEST_F(BlockCacheTest, StatisticsLinesOnStandardOutput) {
  BlockCache::reset_statistics_switch_for_test();
  setenv("CACHE_STAT", "", 1);
  handle_ = make_file(4);
  testing::internal::CaptureStdout();
  cache_ = BlockCache::create(handle_, 2, 8, false, kBlock, 0);
  unsetenv("CACHE_STAT");  // read once: the switch stays on
  ASSERT_TRUE(cache_);
  read(1024);
  read(1024);
  read(2048);
  read(3072);  // purges 1024
  ASSERT_EQ(write(2048, 0x12), kBlock);
  ASSERT_EQ(cache_->close(handle_), 0);
  auto second = BlockCache::create(handle_, 0, 3, false, kBlock, 0);
  ASSERT_TRUE(second);
  p::Handle data = open(data_path_, p::Access::kReadWrite, true);
  ASSERT_TRUE(second->attach_data_buffer(data, 1, 10, 0));
  ASSERT_EQ(second->close(handle_), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Using maximum fixed 2 cache buffers\n"
            "Cache statistics: 2 bufs used, 1 bufs purged, 2 hits\n"
            "Physical I/O: 1 writes, 3 reads\n"
            "Cache statistics: 0 bufs used, 0 bufs purged, 0 hits\n"
            "Physical I/O: 0 writes, 0 reads\n"
            "Data cache: 1 writes\n");
  BlockCache::reset_statistics_switch_for_test();
}

TEST_F(BlockCacheTest, NoStatisticsWithoutCacheStat) {
  BlockCache::reset_statistics_switch_for_test();
  unsetenv("CACHE_STAT");
  handle_ = make_file(2);
  testing::internal::CaptureStdout();
  cache_ = BlockCache::create(handle_, 2, 8, false, kBlock, 0);
  ASSERT_TRUE(cache_);
  read(0);
  ASSERT_EQ(cache_->close(handle_), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(BlockCache::statistics_on());
}

}  // namespace
}  // namespace ismgr
