#include "ismgr/fileio/block_cache.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ismgr/fileio/file_io.h"

namespace ismgr {

uint64_t new_block_epoch() {
  static std::atomic<uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

namespace {

constexpr uint32_t kMaxBlockSize = 16u << 20;
// Largest write-behind buffer (size plus one record space).
constexpr uint64_t kMaxDataBuffer = 256u << 20;
constexpr uint32_t kDataRounding = 1024;

// The statistics switch: -1 until the first creation reads "CACHE_STAT".
int g_statistics = -1;

// Decimal value of an environment variable as the C library reads it: leading
// blanks and a sign, then digits; 0 when unset or not a number.
long env_number(const char* name) {
  const char* value = platform::get_env(name);
  if (value == nullptr) return 0;
  return std::strtol(value, nullptr, 10);
}

bool env_begins_with(const char* name, char upper) {
  const char* value = platform::get_env(name);
  return value != nullptr && (value[0] == upper || value[0] == upper - 'A' + 'a');
}

// Moves the file pointer with the file's offset width; the result must not
// pass the width's limit.
bool seek_width(platform::Handle handle, int64_t distance, int method, uint32_t width,
                int64_t* result) {
  int64_t position = file_seek_width(handle, distance, method, static_cast<int>(width));
  if (position < 0 || position > BlockCache::position_limit(width)) return false;
  *result = position;
  return true;
}

// One seek and one transfer of exactly `count` bytes.
bool read_whole(platform::Handle handle, void* buffer, uint32_t count, int64_t position,
                uint32_t width) {
  int64_t at = 0;
  if (!seek_width(handle, position, platform::kSeekBegin, width, &at) || at != position) {
    return false;
  }
  return file_read(handle, buffer, count) == int64_t{count};
}

bool write_whole(platform::Handle handle, const void* buffer, uint32_t count, int64_t position,
                 uint32_t width) {
  int64_t at = 0;
  if (!seek_width(handle, position, platform::kSeekBegin, width, &at) || at != position) {
    return false;
  }
  return file_write(handle, buffer, count) == int64_t{count};
}

}  // namespace

CacheSettings read_cache_settings() {
  CacheSettings settings;
  long fixed = env_number("NUMBUFS");
  // A negative or absurd count would leave a cache without a single buffer.
  settings.fixed_maximum = fixed > 0 && fixed <= 0x7FFFFFFF ? static_cast<uint32_t>(fixed) : 0;
  settings.index_caching = !env_begins_with("CACHE_INDEX", 'N');
  settings.data_caching = env_begins_with("CACHE_DATA", 'Y');
  return settings;
}

const CacheSettings& cache_settings() {
  static const CacheSettings settings = read_cache_settings();
  return settings;
}

uint32_t cache_computed_maximum(bool input_only, const uint8_t* key_depths, uint32_t key_count) {
  uint64_t result = 0;
  if (key_depths == nullptr) key_count = 0;
  if (input_only) {
    uint8_t deepest = 0;
    for (uint32_t i = 0; i < key_count; ++i) deepest = std::max(deepest, key_depths[i]);
    result = uint64_t{deepest} + 1;
  } else {
    for (uint32_t i = 0; i < key_count; ++i) result += key_depths[i];
    result += uint64_t{2} * key_count;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(result, 0x7FFFFFFF));
}

int64_t BlockCache::position_limit(uint32_t width) {
  switch (width) {
    case 0:
      return 0x7FFFFFFF;
    case 40:
      return (int64_t{1} << 40) - 1;
    case 48:
      return (int64_t{1} << 48) - 1;
    default:
      return INT64_MAX;
  }
}

bool BlockCache::statistics_on() {
  return g_statistics > 0;
}

void BlockCache::reset_statistics_switch_for_test() {
  g_statistics = -1;
}

std::unique_ptr<BlockCache> BlockCache::create(platform::Handle handle, uint32_t fixed_maximum,
                                               uint32_t computed_maximum, bool size_from_system,
                                               uint32_t block_size, uint32_t width) {
  if (g_statistics < 0) g_statistics = platform::get_env("CACHE_STAT") != nullptr ? 1 : 0;
  if (block_size == 0 || block_size > kMaxBlockSize) return nullptr;
  std::unique_ptr<BlockCache> cache(new (std::nothrow) BlockCache());
  if (!cache) return nullptr;
  cache->handle_ = handle;
  cache->width_ = width;
  cache->block_size_ = block_size;
  cache->computed_maximum_ = computed_maximum;
  cache->fixed_maximum_ = fixed_maximum;
  cache->size_from_system_ = size_from_system;
  if (!size_from_system) {
    if (!seek_width(handle, 0, platform::kSeekEnd, width, &cache->known_end_)) return nullptr;
    cache->highest_written_end_ = 0;
  }
  if (statistics_on() && fixed_maximum != 0) {
    std::printf("Using maximum fixed %u cache buffers\n", fixed_maximum);
    std::fflush(stdout);
  }
  return cache;
}

BlockCache::~BlockCache() = default;

uint32_t BlockCache::buffer_limit() const {
  uint32_t limit = fixed_maximum_ != 0 ? fixed_maximum_ : computed_maximum_;
  return limit == 0 ? 1 : limit;
}

bool BlockCache::block_in_limit(int64_t position) const {
  return position >= 0 && position <= position_limit(width_) - block_size_;
}

// ---------------------------------------------------------------------------
// The list and the hash.
// ---------------------------------------------------------------------------

size_t BlockCache::bucket_of(int64_t position) const {
  return static_cast<size_t>((static_cast<uint64_t>(position) * 0x9E3779B97F4A7C15ULL) >>
                             (64 - bucket_bits_));
}

BlockCache::Block* BlockCache::find(int64_t position) const {
  if (!buckets_) return nullptr;
  for (Block* b = buckets_[bucket_of(position)]; b != nullptr; b = b->hash_next) {
    if (b->position == position) return b;
  }
  return nullptr;
}

void BlockCache::push_front(Block* block) {
  block->prev = nullptr;
  block->next = head_;
  if (head_ != nullptr) head_->prev = block;
  head_ = block;
  if (tail_ == nullptr) tail_ = block;
}

void BlockCache::unlink(Block* block) {
  if (block->prev != nullptr) {
    block->prev->next = block->next;
  } else {
    head_ = block->next;
  }
  if (block->next != nullptr) {
    block->next->prev = block->prev;
  } else {
    tail_ = block->prev;
  }
  block->prev = block->next = nullptr;
}

void BlockCache::move_to_front(Block* block) {
  if (head_ == block) return;
  unlink(block);
  push_front(block);
}

// Makes a free buffer the valid, most recently used block at `position`.
void BlockCache::insert(Block* block, int64_t position) {
  block->flags = kValid;
  block->position = position;
  size_t bucket = bucket_of(position);
  block->hash_next = buckets_[bucket];
  buckets_[bucket] = block;
  push_front(block);
  last_used_ = block;
}

// Marks a valid block invalid and returns its buffer to the free buffers.
void BlockCache::forget(Block* block) {
  Block** link = &buckets_[bucket_of(block->position)];
  while (*link != nullptr && *link != block) link = &(*link)->hash_next;
  if (*link == block) *link = block->hash_next;
  block->hash_next = nullptr;
  unlink(block);
  block->flags = 0;
  if (last_used_ == block) last_used_ = nullptr;
  free_.push_back(block);  // never reallocates: reserved for every buffer
}

bool BlockCache::grow_buckets(uint32_t buffers) {
  uint32_t bits = bucket_bits_ == 0 ? 4 : bucket_bits_;
  while ((uint64_t{1} << bits) < uint64_t{buffers} * 2) ++bits;
  if (bits == bucket_bits_) return true;
  std::unique_ptr<Block*[]> buckets(new (std::nothrow) Block*[size_t{1} << bits]());
  if (!buckets) return false;
  buckets_ = std::move(buckets);
  bucket_bits_ = bits;
  for (Block* b = head_; b != nullptr; b = b->next) {
    size_t bucket = bucket_of(b->position);
    b->hash_next = buckets_[bucket];
    buckets_[bucket] = b;
  }
  return true;
}

// Allocates one more block buffer with room in every table; null when memory
// is short.
BlockCache::Block* BlockCache::new_buffer() {
  try {
    size_t count = buffers_.size() + 1;
    if (!grow_buckets(static_cast<uint32_t>(count))) return nullptr;
    free_.reserve(count);
    scratch_.reserve(count);
    auto block = std::make_unique<Block>();
    block->bytes.reset(new (std::nothrow) uint8_t[block_size_]);
    if (!block->bytes) return nullptr;
    buffers_.push_back(std::move(block));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  ++stats_.buffers_in_use;
  return buffers_.back().get();
}

bool BlockCache::write_back(Block* block) {
  ++stats_.block_writes;
  if (!write_whole(handle_, block->bytes.get(), block_size_, block->position, width_)) {
    return false;
  }
  block->flags &= ~kDirty;
  known_end_ = std::max(known_end_, block->position + block_size_);
  return true;
}

// A free buffer for a new block: an invalid one, a new one while below the
// limit, or else the least recently used block not at position 0, written
// back first when dirty. Null when a write-back failed or no buffer exists.
BlockCache::Block* BlockCache::take_buffer() {
  if (!free_.empty()) {
    Block* block = free_.back();
    free_.pop_back();
    return block;
  }
  if (stats_.buffers_in_use < buffer_limit()) {
    if (Block* block = new_buffer()) return block;
  }
  if (tail_ == nullptr) return nullptr;
  ++stats_.purges;
  Block* victim = tail_;
  if (stats_.buffers_in_use > 1) {
    while (victim != nullptr && victim->position == 0) victim = victim->prev;
    if (victim == nullptr) victim = tail_;
  }
  if ((victim->flags & kDirty) != 0 && !write_back(victim)) return nullptr;
  forget(victim);
  free_.pop_back();
  return victim;
}

BlockCache::Block* BlockCache::get_block(int64_t position, Purpose purpose) {
  if (last_used_ != nullptr && last_used_->position == position) {
    ++stats_.hits;
    return last_used_;
  }
  if (Block* block = find(position)) {
    ++stats_.hits;
    move_to_front(block);
    last_used_ = block;
    return block;
  }
  if (purpose == Purpose::kLookOnly) return nullptr;
  Block* block = take_buffer();
  if (block == nullptr) return nullptr;
  epoch_ = new_block_epoch();
  insert(block, position);
  if (purpose == Purpose::kRead) {
    ++stats_.block_reads;
    if (!read_whole(handle_, block->bytes.get(), block_size_, position, width_)) {
      // A failed or short read leaves nothing worth keeping: the next request
      // must read the block again.
      forget(block);
      return nullptr;
    }
  } else {
    std::memset(block->bytes.get(), 0, block_size_);
  }
  return block;
}

// ---------------------------------------------------------------------------
// Operations.
// ---------------------------------------------------------------------------

int64_t BlockCache::read_block(platform::Handle handle, void* destination, uint32_t length,
                               int64_t position) {
  if (!usable(handle) || length > block_size_ || !block_in_limit(position)) return -1;
  if (length > 0 && destination == nullptr) return -1;
  Block* block = get_block(position, Purpose::kRead);
  if (block == nullptr) return -1;
  if (length > 0) std::memcpy(destination, block->bytes.get(), length);
  return length;
}

int64_t BlockCache::write_block(platform::Handle handle, const void* bytes, uint32_t length,
                                int64_t position) {
  if (!usable(handle) || length > block_size_ || !block_in_limit(position)) return -1;
  if (length > 0 && bytes == nullptr) return -1;
  Block* block = get_block(position, Purpose::kCreate);
  if (block == nullptr) return -1;
  epoch_ = new_block_epoch();
  if (length > 0) std::memcpy(block->bytes.get(), bytes, length);
  block->flags |= kDirty;
  const int64_t end = position + block_size_;
  if (end > known_end_ && !write_back(block)) {
    forget(block);
    return -1;
  }
  highest_written_end_ = std::max(highest_written_end_, end);
  return length;
}

int64_t BlockCache::seek(platform::Handle handle, int64_t distance, int method) {
  if (!usable(handle)) return -1;
  const int64_t limit = position_limit(width_);
  int64_t result = 0;
  if (method == platform::kSeekBegin) {
    if (size_from_system_) {
      if (!seek_width(handle_, distance, platform::kSeekBegin, width_, &result)) return -1;
    } else {
      if (distance < 0 || distance > limit) return -1;
      result = distance;
    }
  } else if (method == platform::kSeekCurrent) {
    int64_t base = last_used_ != nullptr ? last_used_->position : 0;
    if (__builtin_add_overflow(base, distance, &result)) return -1;
  } else if (size_from_system_) {
    if (!seek_width(handle_, distance, platform::kSeekEnd, width_, &result)) return -1;
  } else {
    result = std::max(known_end_, highest_written_end_);
    if (result > limit) return -1;
  }
  if (result > 0) get_block(result, Purpose::kLookOnly);
  return result;
}

int BlockCache::is_cached(platform::Handle handle, int64_t position) const {
  if (!usable(handle)) return 0;
  return find(position) != nullptr ? 1 : 0;
}

int64_t BlockCache::reread_header(platform::Handle handle, void* buffer, uint32_t length,
                                  int64_t position) {
  if (!shared_file_) return length;
  if (length > 0 && buffer == nullptr) return -1;
  ++stats_.block_reads;
  return read_whole(handle, buffer, length, position, width_) ? static_cast<int64_t>(length) : -1;
}

int64_t BlockCache::write_header(platform::Handle handle, const void* bytes, uint32_t length,
                                 int64_t position, bool force) {
  if (!size_from_system_ && !force) return length;
  if (length > 0 && bytes == nullptr) return -1;
  ++stats_.block_writes;
  return write_whole(handle, bytes, length, position, width_) ? static_cast<int64_t>(length) : -1;
}

int BlockCache::flush(bool invalidate) {
  if (closed_) return -1;
  scratch_.clear();
  for (Block* b = head_; b != nullptr; b = b->next) {
    if ((b->flags & kDirty) != 0) scratch_.push_back(b);  // room reserved
  }
  std::sort(scratch_.begin(), scratch_.end(),
            [](const Block* a, const Block* b) { return a->position < b->position; });
  for (Block* b : scratch_) {
    if (!write_back(b)) return -1;
  }
  if (invalidate) {
    while (head_ != nullptr) forget(head_);
    if (size_from_system_) {
      known_end_ = 0;
    } else {
      int64_t end = 0;
      if (!seek_width(handle_, 0, platform::kSeekEnd, width_, &end)) return -1;
      known_end_ = end;
    }
    highest_written_end_ = 0;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Data write-behind.
// ---------------------------------------------------------------------------

bool BlockCache::attach_data_buffer(platform::Handle data_handle, uint32_t buffers,
                                    uint32_t record_space, int64_t data_end) {
  if (closed_ || data_ || buffers == 0 || record_space == 0 || data_end < 0) return false;
  uint64_t size = uint64_t{buffers} * record_space;
  size = (size + kDataRounding - 1) / kDataRounding * kDataRounding;
  uint64_t capacity = size + record_space;
  if (capacity > kMaxDataBuffer) return false;
  data_.reset(new (std::nothrow) uint8_t[capacity]);
  if (!data_) return false;
  data_size_ = static_cast<uint32_t>(size);
  data_capacity_ = static_cast<uint32_t>(capacity);
  data_fill_ = 0;
  data_handle_ = data_handle;
  data_position_ = data_end;
  return true;
}

bool BlockCache::write_data(const uint8_t* bytes, uint32_t count) {
  ++stats_.data_writes;
  return write_whole(data_handle_, bytes, count, data_position_, width_);
}

int64_t BlockCache::append_data(platform::Handle data_handle, const void* bytes, uint32_t length) {
  if (closed_ || !data_ || data_handle != data_handle_) return -1;
  if (length > 0 && bytes == nullptr) return -1;
  const uint8_t* in = static_cast<const uint8_t*>(bytes);
  if (length > data_capacity_ - data_fill_) {
    // Longer than a record space: write what is gathered, then the bytes
    // themselves, each where it belongs.
    if (data_fill_ > 0) {
      if (!write_data(data_.get(), data_fill_)) return -1;
      data_position_ += data_fill_;
      data_fill_ = 0;
    }
    if (!write_data(in, length)) return -1;
    data_position_ += length;
    return length;
  }
  const uint32_t before = data_fill_;
  if (length > 0) std::memcpy(data_.get() + data_fill_, in, length);
  data_fill_ += length;
  if (data_fill_ >= data_size_) {
    if (!write_data(data_.get(), data_size_)) {
      data_fill_ = before;  // the bytes are not taken; the buffer is as it was
      return -1;
    }
    data_position_ += data_size_;
    std::memmove(data_.get(), data_.get() + data_size_, data_fill_ - data_size_);
    data_fill_ -= data_size_;
  }
  return length;
}

// ---------------------------------------------------------------------------
// Close and statistics.
// ---------------------------------------------------------------------------

int BlockCache::close(platform::Handle handle) {
  if (!usable(handle)) return -1;
  int result = flush(true);
  if (data_) {
    if (write_data(data_.get(), data_fill_)) {
      data_position_ += data_fill_;
      data_fill_ = 0;
    } else {
      result = -1;
    }
  }
  if (statistics_on()) {
    std::printf("Cache statistics: %u bufs used, %u bufs purged, %u hits\n", stats_.buffers_in_use,
                stats_.purges, stats_.hits);
    std::printf("Physical I/O: %u writes, %u reads\n", stats_.block_writes, stats_.block_reads);
    if (data_) std::printf("Data cache: %u writes\n", stats_.data_writes);
    std::fflush(stdout);
  }
  closed_ = true;
  head_ = tail_ = last_used_ = nullptr;
  buckets_.reset();
  bucket_bits_ = 0;
  free_.clear();
  scratch_.clear();
  buffers_.clear();
  data_.reset();
  return result;
}

CacheStatistics BlockCache::statistics() const {
  return stats_;
}

}  // namespace ismgr
