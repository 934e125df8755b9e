// The index block cache of one open ISAM file.
//
// The cache holds fixed-size blocks of the index file keyed by their file
// position. A block is read from disk only when it is not held; a written
// block stays dirty in memory until its buffer is needed for another block,
// the cache is flushed or closed, and dirty blocks are written back in
// ascending file order. A block written beyond the known end of the file goes
// to disk at once, so that the file grows in order.
//
// Beside the blocks a cache may own one write-behind buffer for the data
// file, which gathers appended data records and writes them in large pieces.
//
// Every operation but the two header operations is given a file handle and
// does nothing and fails when it is not the cache's own (the data file
// handle for append). Failed physical reads and writes make the operation
// fail with -1; the caller turns that into an I/O status. A failure never
// leaves the cache holding bytes that did not come from the disk or from
// the caller.
//
// A cache is used by one thread only and takes no locks.
#ifndef ISMGR_FILEIO_BLOCK_CACHE_H_
#define ISMGR_FILEIO_BLOCK_CACHE_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "ismgr/platform/platform.h"

namespace ismgr {

// Process-wide cache settings, read from the environment once, at the first
// call: "NUMBUFS" (decimal) is the fixed number of index buffers, 0 when unset
// or not a positive number; "CACHE_INDEX" beginning with N or n switches
// index caching off; "CACHE_DATA" beginning with Y or y switches the data
// write-behind on. The number of data buffers is not kept here: the open
// reads it afresh (data_cache_buffers).
struct CacheSettings {
  uint32_t fixed_maximum = 0;
  bool index_caching = true;
  bool data_caching = false;
};
const CacheSettings& cache_settings();
// Reads the settings from the environment as the first call does.
CacheSettings read_cache_settings();

// The number of index buffers a cache may use when no fixed number is set:
// for an input-only open the largest index depth of the keys plus 1, for
// other opens the sum of the depths plus twice the number of keys.
uint32_t cache_computed_maximum(bool input_only, const uint8_t* key_depths, uint32_t key_count);

// A number never handed out before in this process (never 0). A source of
// blocks takes a new one whenever the bytes of any block it hands out may
// have changed, so that (epoch, position) names the bytes of one block; a
// reader may keep what it learned about a block for as long as the epoch
// stands.
uint64_t new_block_epoch();

// Counters of a cache. The physical counts include the header operations.
struct CacheStatistics {
  uint32_t buffers_in_use = 0;
  uint32_t data_writes = 0;
  uint32_t block_writes = 0;
  uint32_t block_reads = 0;
  uint32_t purges = 0;
  uint32_t hits = 0;
};

class BlockCache {
 public:
  // Highest end of a block for each offset width (0, 40 or 48); other widths
  // allow any non-negative 63-bit position.
  static int64_t position_limit(uint32_t width);

  // Creates the cache of the index file `handle`. `fixed_maximum` (0: none)
  // or else `computed_maximum` bounds the number of block buffers.
  // `size_from_system` set means the cache does not keep the end of file
  // itself (shared opens): seeks from the start and end go to the system and
  // header writes go to disk at once. `width` is the offset width of the file
  // (0 for 32-bit files, 40 or 48). When statistics are on ("CACHE_STAT" was
  // set at the first creation) and a fixed maximum is given, prints
  // "Using maximum fixed %d cache buffers\n" to standard output.
  // Returns null when memory is short or `block_size` is 0 or above 16 MiB.
  static std::unique_ptr<BlockCache> create(platform::Handle handle, uint32_t fixed_maximum,
                                            uint32_t computed_maximum, bool size_from_system,
                                            uint32_t block_size, uint32_t width);

  // Frees the memory without writing anything: call close() to write back.
  ~BlockCache();
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;

  // When 0, re-reading the header is answered without reading. The ISAM open
  // sets it for opens that share the file with other processes.
  void set_shared_file(bool shared) { shared_file_ = shared; }
  bool shared_file() const { return shared_file_; }
  bool size_from_system() const { return size_from_system_; }
  uint32_t block_size() const { return block_size_; }
  // The cache's epoch (see new_block_epoch): renewed whenever a block buffer
  // is filled from the disk or written to.
  const uint64_t* epoch() const { return &epoch_; }
  platform::Handle handle() const { return handle_; }

  // Gives the cache a write-behind buffer for the data file: `buffers` times
  // `record_space` rounded up to a multiple of 1024 bytes, plus room for one
  // more record; its first byte belongs at `data_end`. False (and no buffer)
  // when memory is short, the size is unreasonable or a buffer is attached.
  bool attach_data_buffer(platform::Handle data_handle, uint32_t buffers, uint32_t record_space,
                          int64_t data_end);
  // Appends bytes to the data buffer, writing the buffer's full size once it
  // is reached. Returns `length`, or -1 when a write fell short (the bytes are
  // then not taken) or there is no buffer.
  int64_t append_data(platform::Handle data_handle, const void* bytes, uint32_t length);

  // Copies the first `length` bytes (at most the block size) of the block at
  // `position` into `destination`, reading it from disk when it is not held.
  int64_t read_block(platform::Handle handle, void* destination, uint32_t length, int64_t position);
  // Puts `length` bytes (at most the block size) at the start of the block at
  // `position`; the rest of a block not held is zero. The block is dirty
  // until written back; beyond the known end of file it is written at once.
  int64_t write_block(platform::Handle handle, const void* bytes, uint32_t length,
                      int64_t position);
  // Method 0 from the start, 1 from the last used block, 2 (or any other)
  // the end. Without size from the system, the end is the larger of the known
  // end and the highest written end, and the distance is not added. A held
  // block at the result becomes the last used block.
  int64_t seek(platform::Handle handle, int64_t distance, int method);
  // 1 when a valid block at `position` is held, else 0.
  int is_cached(platform::Handle handle, int64_t position) const;

  // Reads the file header through `handle`: when the file is not shared the
  // caller's copy is current and nothing is read. Returns `length` or -1.
  int64_t reread_header(platform::Handle handle, void* buffer, uint32_t length, int64_t position);
  // Writes the file header through `handle`. When the cache keeps the end of
  // file itself (exclusive opens) the write is skipped unless `force` is set;
  // the close of the file forces its last header write so that it always
  // reaches the disk. Returns `length` or -1.
  int64_t write_header(platform::Handle handle, const void* bytes, uint32_t length,
                       int64_t position, bool force = false);

  // Writes every dirty block back in ascending position; with `invalidate`
  // then forgets every block and re-reads the end of file. 0, or -1 when a
  // write-back failed (the blocks not written stay dirty).
  int flush(bool invalidate);
  // Flushes and forgets, writes the rest of the data buffer, prints the
  // statistics when they are on and frees the buffers. 0, or -1 when a write
  // failed or `handle` is not the cache's own (then nothing is done). Every
  // later operation fails.
  int close(platform::Handle handle);

  CacheStatistics statistics() const;
  // Whether statistics were switched on by "CACHE_STAT" at the first creation.
  static bool statistics_on();
  // Forgets the statistics switch, so that the next creation reads
  // "CACHE_STAT" again.
  static void reset_statistics_switch_for_test();

 private:
  struct Block {
    uint32_t flags = 0;  // kValid, kDirty
    Block* prev = nullptr;
    Block* next = nullptr;
    Block* hash_next = nullptr;  // chain of the position's hash bucket
    int64_t position = 0;
    std::unique_ptr<uint8_t[]> bytes;
  };
  enum : uint32_t { kValid = 0x1, kDirty = 0x2 };
  enum class Purpose { kRead, kCreate, kLookOnly };

  BlockCache() = default;

  Block* get_block(int64_t position, Purpose purpose);
  Block* find(int64_t position) const;
  Block* take_buffer();
  Block* new_buffer();
  bool grow_buckets(uint32_t buffers);
  bool write_back(Block* block);
  void insert(Block* block, int64_t position);
  void forget(Block* block);
  void move_to_front(Block* block);
  void push_front(Block* block);
  void unlink(Block* block);
  size_t bucket_of(int64_t position) const;
  uint32_t buffer_limit() const;
  bool block_in_limit(int64_t position) const;
  bool write_data(const uint8_t* bytes, uint32_t count);
  bool usable(platform::Handle handle) const { return !closed_ && handle == handle_; }

  platform::Handle handle_ = platform::kInvalidHandle;
  uint32_t width_ = 0;
  uint32_t block_size_ = 0;
  uint32_t computed_maximum_ = 0;
  uint32_t fixed_maximum_ = 0;
  bool shared_file_ = false;
  bool size_from_system_ = false;
  bool closed_ = false;

  // Data write-behind buffer: [0, threshold_) is written as one piece; the
  // allocation holds one more record space beyond it.
  std::unique_ptr<uint8_t[]> data_;
  uint32_t data_fill_ = 0;
  uint32_t data_size_ = 0;      // the threshold
  uint32_t data_capacity_ = 0;  // size plus one record space
  platform::Handle data_handle_ = platform::kInvalidHandle;
  int64_t data_position_ = 0;

  int64_t known_end_ = 0;
  int64_t highest_written_end_ = 0;
  CacheStatistics stats_;
  uint64_t epoch_ = new_block_epoch();

  // Valid blocks, most recently used first, and hashed by position; the last
  // used block is tried before the hash. Invalid buffers wait on free_ for
  // reuse. free_ and scratch_ have room for every buffer, so that no
  // operation allocates once its buffer exists.
  Block* head_ = nullptr;
  Block* tail_ = nullptr;
  Block* last_used_ = nullptr;
  std::unique_ptr<Block*[]> buckets_;
  uint32_t bucket_bits_ = 0;
  std::vector<Block*> free_;
  std::vector<Block*> scratch_;
  std::vector<std::unique_ptr<Block>> buffers_;
};

}  // namespace ismgr

#endif  // ISMGR_FILEIO_BLOCK_CACHE_H_
