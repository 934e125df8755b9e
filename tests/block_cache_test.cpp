#include "ismgr/fileio/block_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <list>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "support/scratch_dir.h"

namespace ismgr {
namespace {

namespace p = platform;
using Bytes = std::vector<uint8_t>;
constexpr uint32_t kBlock = 1024;

Bytes pattern(uint8_t value, size_t size = kBlock) {
  return Bytes(size, value);
}

// A scratch index file of whole blocks, block i filled with the byte i + 1.
class BlockCacheTest : public ::testing::Test {
 protected:
  void TearDown() override {
    cache_.reset();
    for (p::Handle h : handles_) p::close_file(h);
  }
  p::Handle open(const std::string& path, p::Access access = p::Access::kReadWrite) {
    p::OpenOptions options;
    options.access = access;
    handles_.push_back(p::open_file(path.c_str(), options));
    EXPECT_NE(handles_.back(), p::kInvalidHandle) << path;
    return handles_.back();
  }
  // Appends `bytes` to the file at `path` behind the handles' backs.
  void append(const Bytes& bytes, const std::string& path) {
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  Bytes disk(const std::string& path) {
    const std::string text = test::read_file(path);
    return Bytes(text.begin(), text.end());
  }
  Bytes read(int64_t position) {
    Bytes bytes(kBlock);
    if (cache_->read_block(handle_, bytes.data(), kBlock, position) != kBlock) bytes.clear();
    return bytes;
  }
  void make_cache(int blocks, uint32_t fixed, uint32_t computed = 8, bool from_system = false) {
    cache_.reset();
    dir_.write("index.ism", "");
    for (int i = 0; i < blocks; ++i) append(pattern(uint8_t(i + 1)), path_);
    handle_ = open(path_);
    cache_ = BlockCache::create(handle_, fixed, computed, from_system, kBlock, 0);
    ASSERT_TRUE(cache_);
  }

  test::ScratchDir dir_;
  std::string path_ = dir_.file("index.ism");
  std::vector<p::Handle> handles_;
  p::Handle handle_ = p::kInvalidHandle;
  std::unique_ptr<BlockCache> cache_;
};

// What the cache should hold: the file's bytes as its user sees them, the
// held blocks most recently used first (position 0 is never the victim while
// more than one buffer exists), the dirty ones, and the counters.
struct CacheModel {
  Bytes bytes;
  std::list<int64_t> held;
  std::vector<int64_t> dirty;
  uint32_t limit = 0, allocated = 0;
  int64_t end = 0;
  CacheStatistics s;

  bool is_dirty(int64_t at) const { return std::count(dirty.begin(), dirty.end(), at) > 0; }
  void clean(int64_t at) { dirty.erase(std::remove(dirty.begin(), dirty.end(), at), dirty.end()); }
  // Brings `at` to the front; true when it was held.
  bool use(int64_t at) {
    auto it = std::find(held.begin(), held.end(), at);
    if (it != held.end()) {
      held.erase(it);
      held.push_front(at);
      ++s.hits;
      return true;
    }
    if (held.size() == allocated && allocated < limit) ++allocated;
    if (held.size() == allocated) {
      ++s.purges;
      auto victim = std::prev(held.end());
      while (allocated > 1 && *victim == 0 && victim != held.begin()) --victim;
      if (allocated > 1 && *victim == 0) victim = std::prev(held.end());
      if (is_dirty(*victim)) ++s.block_writes, clean(*victim);
      held.erase(victim);
    }
    held.push_front(at);
    return false;
  }
};

auto counters(const CacheStatistics& s) {
  return std::tuple(s.hits, s.purges, s.block_reads, s.block_writes, s.buffers_in_use);
}

// Random reads, writes (whole and partial), flushes and end seeks on caches
// of one to five buffers, each result and the whole state checked against
// the model after every step, the file's bytes after every flush and close.
TEST_F(BlockCacheTest, BehavesLikeAByteCopyOfTheFile) {
  for (uint32_t limit : {1u, 2u, 3u, 5u}) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE("limit " + std::to_string(limit) + " seed " + std::to_string(seed));
      make_cache(4, seed == 2 ? 0 : limit, limit);  // a fixed or a computed maximum
      CacheModel m;
      m.limit = limit;
      for (int i = 0; i < 4; ++i) m.bytes.insert(m.bytes.end(), kBlock, uint8_t(i + 1));
      m.end = m.bytes.size();
      std::mt19937 rng(seed);
      for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        const int blocks = static_cast<int>(m.bytes.size() / kBlock);
        const int op = rng() % 10;
        if (op < 4 && blocks > 0) {  // read a block inside the file
          const int64_t at = int64_t{kBlock} * (rng() % blocks);
          if (!m.use(at)) ++m.s.block_reads;
          ASSERT_EQ(read(at), Bytes(m.bytes.begin() + at, m.bytes.begin() + at + kBlock));
        } else if (op < 8) {  // write, sometimes beyond the end or only a head
          const int64_t at = int64_t{kBlock} * (rng() % (blocks + 2));
          const uint32_t length = rng() % 3 == 0 ? 1 + rng() % 100 : kBlock;
          const Bytes data = pattern(uint8_t(rng()), length);
          const bool was_held = m.use(at);
          if (m.bytes.size() < size_t(at + kBlock)) m.bytes.resize(at + kBlock, 0);
          std::copy(data.begin(), data.end(), m.bytes.begin() + at);
          if (!was_held) std::fill(m.bytes.begin() + at + length, m.bytes.begin() + at + kBlock, 0);
          if (at + kBlock > m.end) {
            ++m.s.block_writes;  // beyond the known end: written at once
            m.end = at + kBlock;
            m.clean(at);
          } else if (!m.is_dirty(at)) {
            m.dirty.push_back(at);
          }
          ASSERT_EQ(cache_->write_block(handle_, data.data(), length, at), length);
        } else if (op == 8) {
          const bool invalidate = rng() % 2;
          m.s.block_writes += m.dirty.size();
          m.dirty.clear();
          if (invalidate) m.held.clear();
          ASSERT_EQ(cache_->flush(invalidate), 0);
          ASSERT_EQ(disk(path_), m.bytes);
        } else {
          ASSERT_EQ(cache_->seek(handle_, 0, 2), int64_t(m.bytes.size()));
        }
        m.s.buffers_in_use = m.allocated;
        ASSERT_EQ(counters(cache_->statistics()), counters(m.s));
        for (int64_t at = 0; at < int64_t(m.bytes.size()) + kBlock; at += kBlock) {
          const bool held = std::count(m.held.begin(), m.held.end(), at) > 0;
          ASSERT_EQ(cache_->is_cached(handle_, at), held ? 1 : 0) << "block at " << at;
        }
      }
      ASSERT_EQ(cache_->close(handle_), 0);
      EXPECT_EQ(disk(path_), m.bytes);
      EXPECT_EQ(read(0), Bytes());  // closed
      EXPECT_EQ(cache_->flush(false), -1);
      EXPECT_EQ(cache_->close(handle_), -1);
    }
  }
}

TEST(CacheSettings, ReadFromTheEnvironmentAndComputedMaximum) {
  // NUMBUFS, CACHE_INDEX, CACHE_DATA, NUMDBUFS (1 to 10 taken, anything else 1, unset 4)
  const struct {
    const char* values[4];
    std::tuple<uint32_t, bool, bool, uint32_t> settings;
  } cases[] = {
      {{nullptr, nullptr, nullptr, nullptr}, {0, true, false, 4}},
      {{"abc", "no", "yes", "11"}, {0, false, true, 1}},
      {{"-4", "N", "n", "0"}, {0, false, false, 1}},
      {{"12x", "", "Y", "10"}, {12, true, true, 10}},
  };
  const char* names[] = {"NUMBUFS", "CACHE_INDEX", "CACHE_DATA", "NUMDBUFS"};
  for (const auto& c : cases) {
    for (int i = 0; i < 4; ++i) {
      c.values[i] ? setenv(names[i], c.values[i], 1) : unsetenv(names[i]);
    }
    CacheSettings s = read_cache_settings();
    EXPECT_EQ(std::tuple(s.fixed_maximum, s.index_caching, s.data_caching, data_cache_buffers()),
              c.settings)
        << (c.values[0] ? c.values[0] : "unset");
  }
  for (const char* name : names) unsetenv(name);
  const uint8_t depths[] = {2, 5, 3};
  EXPECT_EQ(cache_computed_maximum(true, depths, 3), 6u);
  EXPECT_EQ(cache_computed_maximum(false, depths, 3), 16u);
  EXPECT_EQ(cache_computed_maximum(true, depths, 0), 1u);
}

// A failed read or write leaves nothing cached.
TEST_F(BlockCacheTest, FailedTransfersAreNotKept) {
  make_cache(1, 4, 4);
  append(pattern(0x55, 512), path_);  // half a block
  cache_ = BlockCache::create(handle_, 4, 4, false, kBlock, 0);
  EXPECT_EQ(read(1024), Bytes());
  EXPECT_EQ(cache_->is_cached(handle_, 1024), 0);
  append(pattern(0x66, 512), path_);  // the file grows: read from disk again
  Bytes bytes = pattern(0x55, 512);
  bytes.resize(kBlock, 0x66);
  EXPECT_EQ(read(1024), bytes);
  EXPECT_EQ(cache_->statistics().block_reads, 2u);
  // A write beyond the end that fails leaves the block out and the end alone.
  auto read_only = BlockCache::create(open(path_, p::Access::kRead), 4, 4, false, kBlock, 0);
  EXPECT_EQ(read_only->write_block(handles_.back(), bytes.data(), kBlock, 8192), -1);
  EXPECT_EQ(read_only->is_cached(handles_.back(), 8192), 0);
  EXPECT_EQ(read_only->seek(handles_.back(), 0, 2), 2 * kBlock);
  EXPECT_EQ(cache_->read_block(handles_.back(), bytes.data(), kBlock, 0), -1);  // not its own
}

TEST_F(BlockCacheTest, SizeFromTheSystemSeeksAndLimits) {
  make_cache(3, 0, 8, true);
  EXPECT_EQ(cache_->seek(handle_, 100, 2), 3 * kBlock + 100);
  // The known end starts at 0: any write goes to disk at once ...
  Bytes bytes = pattern(0x51);
  ASSERT_EQ(cache_->write_block(handle_, bytes.data(), kBlock, 1024), kBlock);
  ASSERT_EQ(cache_->write_block(handle_, bytes.data(), kBlock, 0), kBlock);
  bytes = pattern(1);  // ... then inside the end now known
  bytes.resize(2 * kBlock, 0x51);
  bytes.resize(3 * kBlock, 3);
  EXPECT_EQ(disk(path_), bytes);
  make_cache(3, 0);  // without size from the system: the start in 31 bits
  EXPECT_EQ(cache_->seek(handle_, 500, 2), 3 * kBlock);
  EXPECT_EQ(cache_->seek(handle_, 0x7FFFFFFF, 0), 0x7FFFFFFF);
  EXPECT_EQ(cache_->seek(handle_, 0x80000000LL, 0), -1);
  EXPECT_EQ(cache_->seek(handle_, -1, 0), -1);
  EXPECT_EQ(BlockCache::position_limit(0), 0x7FFFFFFF);
  EXPECT_EQ(BlockCache::position_limit(40), (int64_t{1} << 40) - 1);
  EXPECT_EQ(cache_->write_block(handle_, bytes.data(), kBlock, 0x7FFFFFFF - kBlock + 1), -1);
}

}  // namespace
}  // namespace ismgr
