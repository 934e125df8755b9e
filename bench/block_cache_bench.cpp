// Block cache costs: hits on the last used block, hits found by position,
// misses that read from disk and purges that write dirty blocks back.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ismgr/fileio/block_cache.h"
#include "ismgr/platform/platform.h"

namespace {

namespace p = ismgr::platform;

constexpr uint32_t kBlock = 4096;
constexpr int kFileBlocks = 256;

// A scratch index file of kFileBlocks blocks, removed at the end.
class ScratchFile {
 public:
  ScratchFile() {
    path_ = (std::filesystem::temp_directory_path() /
             ("block_cache_bench_" + std::to_string(p::process_id()) + ".ism"))
                .string();
    p::OpenOptions options;
    options.access = p::Access::kReadWrite;
    options.disposition = p::Disposition::kCreateAlways;
    handle_ = p::open_file(path_.c_str(), options);
    std::vector<uint8_t> block(kBlock, 0x5A);
    for (int i = 0; i < kFileBlocks; ++i) {
      uint32_t done = 0;
      p::write(handle_, block.data(), kBlock, &done);
    }
  }
  ~ScratchFile() {
    p::close_file(handle_);
    p::delete_file(path_.c_str());
  }
  p::Handle handle() const { return handle_; }

 private:
  std::string path_;
  p::Handle handle_ = p::kInvalidHandle;
};

void BM_HitLastUsed(benchmark::State& state) {
  ScratchFile file;
  auto cache = ismgr::BlockCache::create(file.handle(), 64, 64, false, kBlock, 0);
  std::vector<uint8_t> out(kBlock);
  cache->read_block(file.handle(), out.data(), kBlock, 8 * kBlock);
  for (auto _ : state) {
    benchmark::DoNotOptimize(cache->read_block(file.handle(), out.data(), 64, 8 * kBlock));
  }
  cache->close(file.handle());
}
BENCHMARK(BM_HitLastUsed);

// Hits spread over `range(0)` held blocks, each found through the hash.
void BM_HitByPosition(benchmark::State& state) {
  ScratchFile file;
  const int blocks = static_cast<int>(state.range(0));
  auto cache = ismgr::BlockCache::create(file.handle(), blocks, blocks, false, kBlock, 0);
  std::vector<uint8_t> out(kBlock);
  for (int i = 0; i < blocks; ++i) {
    cache->read_block(file.handle(), out.data(), kBlock, int64_t{i} * kBlock);
  }
  int i = 0;
  for (auto _ : state) {
    i = (i + 7) % blocks;
    benchmark::DoNotOptimize(cache->read_block(file.handle(), out.data(), 64, int64_t{i} * kBlock));
  }
  cache->close(file.handle());
}
BENCHMARK(BM_HitByPosition)->Arg(16)->Arg(256);

// Every read misses: 16 buffers cycled over 256 blocks, clean victims.
void BM_MissWithPurge(benchmark::State& state) {
  ScratchFile file;
  auto cache = ismgr::BlockCache::create(file.handle(), 16, 16, false, kBlock, 0);
  std::vector<uint8_t> out(kBlock);
  int i = 0;
  for (auto _ : state) {
    i = (i + 1) % kFileBlocks;
    benchmark::DoNotOptimize(
        cache->read_block(file.handle(), out.data(), kBlock, int64_t{i} * kBlock));
  }
  cache->close(file.handle());
}
BENCHMARK(BM_MissWithPurge);

// Every write takes a new block and purges a dirty one (one write-back each).
void BM_DirtyPurge(benchmark::State& state) {
  ScratchFile file;
  auto cache = ismgr::BlockCache::create(file.handle(), 16, 16, false, kBlock, 0);
  std::vector<uint8_t> in(kBlock, 0x33);
  int i = 0;
  for (auto _ : state) {
    i = (i + 1) % kFileBlocks;
    benchmark::DoNotOptimize(
        cache->write_block(file.handle(), in.data(), kBlock, int64_t{i} * kBlock));
  }
  cache->close(file.handle());
}
BENCHMARK(BM_DirtyPurge);

// Flush of 64 dirty blocks written in descending order.
void BM_Flush64(benchmark::State& state) {
  ScratchFile file;
  auto cache = ismgr::BlockCache::create(file.handle(), 64, 64, false, kBlock, 0);
  std::vector<uint8_t> in(kBlock, 0x44);
  for (auto _ : state) {
    for (int i = 63; i >= 0; --i) {
      cache->write_block(file.handle(), in.data(), kBlock, int64_t{i} * kBlock);
    }
    benchmark::DoNotOptimize(cache->flush(false));
  }
  cache->close(file.handle());
}
BENCHMARK(BM_Flush64);

}  // namespace
