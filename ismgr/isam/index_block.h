// Index blocks: the on-disk layout of leaf and separator blocks, and the
// keyed descent from a key's root to the leaf position of a search key.
//
// Each key has its own tree: separator blocks above, leaves at the bottom,
// chained both ways. Encoded keys compare as unsigned bytes, left to right.
//
// Leaf block (first byte 0xFF):
//   0      u8      0xFF leaf mark
//   1      u8      entry count (narrow blocks, 1024 bytes or less)
//   2      u16     entry count (wide blocks)
//   4      4|5     previous leaf pointer (5 bytes, 4..8, with 48-bit addressing)
//   8      4       next leaf pointer (without 48-bit addressing)
//   9      5       next leaf pointer (with 48-bit addressing)
//   12|14          entries of fixed size: record address (RFA width, +2 with
//                  sized record headers), 1 byte for the change-tracking key,
//                  then the encoded key of key_size bytes
//
// Separator block (first byte anything but 0xFF):
//   narrow: 1 u8 count n, 2 u16 used length, 4 child pointer P0
//   wide:   2 u16 count n, 4 u16 used length, 6 child pointer P0
//   then n entries: u8 length L (counting itself), L-1 bytes of key prefix,
//   child pointer Pi. A key below K1 goes to P0; at or above Ki and below
//   Ki+1 to Pi.
//
// Pointers are 4 bytes, or 5 (low 32 bits, then a high byte) in tbyte files
// with 48-bit addressing; 0 means none. They count bytes, or units of 256
// bytes in tbyte files.
#ifndef ISMGR_ISAM_INDEX_BLOCK_H_
#define ISMGR_ISAM_INDEX_BLOCK_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "ismgr/fileio/block_cache.h"

namespace ismgr {

constexpr uint8_t kLeafMark = 0xFF;
constexpr int kMaxTreeDepth = 16;
constexpr int kIndexRetries = 8;
constexpr int kIndexDetailCode = 1052;

// The shape of one key's index blocks, derived from the file's header and the
// key's descriptor.
struct IndexGeometry {
  uint32_t block_size = 1024;   // page_units x 256
  bool tbyte = false;           // file_flags 0x40
  bool addr48 = false;          // file_flags2 0x20 (with tbyte)
  bool sized_headers = false;   // file_flags 0x20: record addresses 2 bytes longer
  bool tracking_key = false;    // the change-tracking key: one more byte per entry
  uint32_t key_size = 0;        // encoded key bytes in a leaf entry
  uint32_t qualifier_size = 0;  // duplicate qualifier at the key's end: 0, 3 or 4

  bool wide() const { return block_size > 1024; }
  uint32_t pointer_width() const { return tbyte && addr48 ? 5 : 4; }
  uint32_t rfa_width() const { return tbyte ? (addr48 ? 6 : 5) : 4; }
  uint32_t entry_address_width() const { return rfa_width() + (sized_headers ? 2 : 0); }
  uint32_t leaf_entry_size() const {
    return entry_address_width() + (tracking_key ? 1 : 0) + key_size;
  }
  uint32_t leaf_entries_offset() const { return addr48 ? 14 : 12; }
  // Byte offset in the index file of a block address.
  uint64_t block_offset(uint64_t address) const { return tbyte ? address * 256 : address; }
  // Leaf entries a block can hold.
  uint32_t leaf_capacity() const;
};

// Reads a block pointer (4 or 5 bytes) at `p`.
uint64_t read_block_pointer(const IndexGeometry& g, const uint8_t* p);
void write_block_pointer(const IndexGeometry& g, uint64_t value, uint8_t* p);
// Reads a leaf entry's record address (the RFA, without the 2 bytes of a
// sized record header).
uint64_t read_rfa(const IndexGeometry& g, const uint8_t* p);
void write_rfa(const IndexGeometry& g, uint64_t rfa, uint8_t* p);

// A decoded view of a leaf block. Holds pointers into the block.
struct LeafView {
  uint32_t count = 0;
  uint64_t previous = 0;
  uint64_t next = 0;
  const uint8_t* entries = nullptr;
  uint32_t entry_size = 0;

  const uint8_t* entry(uint32_t i) const { return entries + static_cast<size_t>(i) * entry_size; }
};

// Decodes a leaf. False when the block is not a leaf or its count does not
// fit the block.
bool decode_leaf(const IndexGeometry& g, const uint8_t* block, LeafView* leaf);

// A decoded separator block header.
struct SeparatorView {
  uint32_t count = 0;
  uint32_t used = 0;         // used length from the block start
  uint32_t first_entry = 0;  // offset of the first entry (after P0)
  uint32_t p0_offset = 0;    // offset of P0
};
bool decode_separator_header(const IndexGeometry& g, const uint8_t* block, SeparatorView* sep);

// Where the block bytes come from. `read` returns the `block_size` bytes of
// the block at `address` (valid until the next read: a cache hands out its
// own buffer without a copy), or null on an I/O failure, which ends the
// descent with `io_status`. `epoch`, when given, is read after every read:
// the source's current epoch (see new_block_epoch in block_cache.h); with it the descent may
// keep what it learned about a block for as long as the epoch stands.
struct BlockSource {
  std::function<const uint8_t*(uint64_t address)> read;
  int io_status = 22;
  const uint64_t* epoch = nullptr;
};

// What the descent does between its retries: release and retake the file's
// header lock, then wait (1000 ms by default). Tests inject a no-op wait.
// `detail` receives the final message of an inconsistent tree (code 1052).
struct RetryPolicy {
  std::function<void()> relock;
  std::function<void(uint32_t ms)> wait;
  std::function<void(int code, const char* text)> detail;
  uint32_t wait_ms = 1000;
  int retries = kIndexRetries;
};

// One level of the path a descent took.
struct DescentLevel {
  uint64_t block = 0;     // the block's address
  uint32_t position = 0;  // separator entries passed (0: P0 taken) or leaf entry
  uint64_t left = 0;      // the pointer before the one taken (0: none)
  uint64_t right = 0;     // the pointer after the one taken (0: none)
};

// The levels of a descent, held in place (a descent allocates nothing).
class DescentPath {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const DescentLevel& operator[](size_t i) const { return levels_[i]; }
  DescentLevel& operator[](size_t i) { return levels_[i]; }
  const DescentLevel& back() const { return levels_[size_ - 1]; }
  const DescentLevel* begin() const { return levels_.data(); }
  const DescentLevel* end() const { return levels_.data() + size_; }
  void clear() { size_ = 0; }
  // A descent never goes deeper than kMaxTreeDepth levels.
  void push_back(const DescentLevel& level) { levels_[size_++] = level; }

 private:
  std::array<DescentLevel, kMaxTreeDepth> levels_;
  size_t size_ = 0;
};

struct DescentResult {
  uint64_t leaf = 0;      // address of the leaf reached
  uint32_t position = 0;  // entry position in the leaf
  uint64_t rfa = 0;       // record address of that entry; 0 past the last
  int compare = 1;        // 0 when the key was found
  bool past_end = false;  // the position is past the leaf's last entry
  bool next_leaf_exists = false;
  int retries_used = 0;
  DescentPath path;  // root first, leaf last
};

struct DescentRequest {
  uint64_t root = 0;
  int depth = 1;                 // levels of the key's tree, 1..16
  const uint8_t* key = nullptr;  // encoded search key
  uint32_t key_length = 0;       // bytes of `key` compared (<= key_size)
  // Block search capacity: the number of separators the binary search may
  // index; 0 searches linearly.
  uint32_t search_capacity = 0;
  // When set, among entries equal to the key (without the qualifier) the one
  // with this record address is sought.
  bool want_rfa = false;
  uint64_t rfa = 0;
};

// What the descent keeps between calls, one per thread: the offset table of
// the binary search, and the layout of separator blocks seen lately. Nearly
// every separator block holds entries of one length; finding that out reads
// every entry, so it is kept, by block address and the source's epoch, and
// holds until the source takes a new epoch.
struct DescentWork {
  struct Layout {
    uint64_t epoch = 0;  // 0: empty
    uint64_t address = 0;
    uint32_t count = 0;   // entries
    uint32_t stride = 0;  // bytes from one entry to the next
  };
  std::vector<uint32_t> offsets;
  std::array<Layout, 64> layouts;
};

// Descends from the root to the leaf position of the search key. An
// inconsistent tree is retried after `policy` (another process may be
// changing it); after the last retry the message goes to the detail hook
// (code 1052) and the descent fails with status 6. `work` is kept by the
// caller between calls.
DescentResult descend(const IndexGeometry& g, const BlockSource& source,
                      const DescentRequest& request, const RetryPolicy& policy, DescentWork* work);
// As above with only the offset table kept: nothing is learned between calls.
DescentResult descend(const IndexGeometry& g, const BlockSource& source,
                      const DescentRequest& request, const RetryPolicy& policy,
                      std::vector<uint32_t>* work);

// Moves to the next (or previous) leaf of `from`, whose bytes are in
// `from_block`. Returns 0 at the end (beginning) of the index, else the new
// leaf's address, with its bytes in *block. A leaf that does not point back
// at `from` fails with status 6 after its detail message.
uint64_t next_leaf(const IndexGeometry& g, const BlockSource& source, const RetryPolicy& policy,
                   uint64_t from, const uint8_t* from_block, const uint8_t** block);
uint64_t previous_leaf(const IndexGeometry& g, const BlockSource& source, const RetryPolicy& policy,
                       uint64_t from, const uint8_t* from_block, const uint8_t** block);

}  // namespace ismgr

#endif  // ISMGR_ISAM_INDEX_BLOCK_H_
