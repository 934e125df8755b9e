#include "ismgr/isam/tree_check.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ismgr/isam/record_addresses.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

// The gap of unwanted blocks a read may span rather than be split in two.
constexpr uint64_t kMaxGapBlocks = 8;
// Owner mark of the free-list head in the block owner map.
constexpr uint16_t kFreeHeadOwner = 0xFFFF;

uint32_t get16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (uint32_t{p[1]} << 8);
}
uint32_t get32(const uint8_t* p) {
  return get16(p) | (get16(p + 2) << 16);
}

std::string hex(uint64_t v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, v);
  return text;
}

// Unsigned byte comparison of two keys of `n` bytes. Keys of 16 bytes or
// more are compared 16 bytes at a time where the processor has SSE2 (the
// last piece overlapping the one before it, whose bytes compared equal),
// else and below that 8 bytes at a time the same way; only keys under 8
// bytes go byte by byte.
[[gnu::always_inline]] inline int compare_keys(const uint8_t* a, const uint8_t* b, uint32_t n) {
#if defined(__SSE2__)
  if (n >= 16) {
    for (uint32_t i = 0;; i = std::min(i + 16, n - 16)) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
      const auto differ = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) ^ 0xFFFFu;
      if (differ != 0) {
        const uint32_t at = i + static_cast<uint32_t>(__builtin_ctz(differ));
        return a[at] < b[at] ? -1 : 1;
      }
      if (i + 16 >= n) return 0;
    }
  }
#endif
  if (n < 8) return std::memcmp(a, b, n);
  for (uint32_t i = 0;; i = std::min(i + 8, n - 8)) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    if (i + 8 >= n) return 0;
  }
}

// How far ahead of the entry being scanned its successors are fetched. A
// mapped file's bytes come from memory, not from a cache a copy has just
// filled, and the processor's own prefetching stops at each page: two
// kilobytes (some thirty entries of a business key) hide the latency. The
// address may lie past the block or the run; a prefetch never faults.
constexpr size_t kPrefetchAhead = 2048;

// What one pass over a leaf's entries finds.
struct LeafScan {
  uint32_t descending = 0;  // entries below the one before them
  uint32_t repeated = 0;    // entries equal to the one before them
  uint32_t beyond = 0;      // record addresses at or past the data file's end
  uint64_t first_beyond = 0;
};

// One pass over `count` entries of `size` bytes (all inside the block: the
// count was checked against it): each key against the one before it, and
// each record address to `sink`. The record address is its low 32 bits,
// then one high byte in tbyte files and a second one with 48-bit
// addressing; the number of high bytes is a template argument so that the
// loop has no inner loop.
template <int kHighBytes, typename Sink>
void scan_entries(const uint8_t* entries, uint32_t count, uint32_t size, uint32_t key_at,
                  uint32_t n, uint64_t data_size, LeafScan* scan, Sink sink) {
  uint32_t descending = 0, repeated = 0, beyond = 0;
  uint64_t first_beyond = 0;
  const uint8_t* e = entries;
  for (uint32_t i = 0; i < count; ++i, e += size) {
    __builtin_prefetch(e + kPrefetchAhead);
    if (i > 0) {
      const int c = compare_keys(e - size + key_at, e + key_at, n);
      descending += c > 0;
      repeated += c == 0;
    }
    uint64_t rfa = get32(e);
    if constexpr (kHighBytes >= 1) rfa |= uint64_t{e[4]} << 32;
    if constexpr (kHighBytes >= 2) rfa |= uint64_t{e[5]} << 40;
    if (rfa >= data_size && beyond++ == 0) first_beyond = rfa;
    sink(rfa);
  }
  scan->descending = descending;
  scan->repeated = repeated;
  scan->beyond = beyond;
  scan->first_beyond = first_beyond;
}

template <typename Sink>
void scan_entries(int high_bytes, const uint8_t* entries, uint32_t count, uint32_t size,
                  uint32_t key_at, uint32_t n, uint64_t data_size, LeafScan* scan, Sink sink) {
  switch (high_bytes) {
    case 0:
      return scan_entries<0>(entries, count, size, key_at, n, data_size, scan, sink);
    case 1:
      return scan_entries<1>(entries, count, size, key_at, n, data_size, scan, sink);
    default:
      return scan_entries<2>(entries, count, size, key_at, n, data_size, scan, sink);
  }
}

// Byte strings compared as the descent compares keys: unsigned, left to
// right; a string that is a prefix of the other is the smaller.
int compare_strings(const uint8_t* a, uint32_t an, const uint8_t* b, uint32_t bn) {
  const int c = std::memcmp(a, b, std::min(an, bn));
  if (c != 0) return c;
  return an < bn ? -1 : (an > bn ? 1 : 0);
}

// The separators that bound the blocks of one level, numbered in the order
// they are kept. Neighbouring separators share most of their bytes, so each
// one is kept as the length it shares with the one before it and the bytes
// that follow; every 16th one in full, so that any one is found again from
// the last full one before it. The leftmost and rightmost blocks of a level
// have no bound on one side: that is kept as an entry too.
class BoundStore {
 public:
  // Gives the memory back: the two stores take turns at holding the large
  // leaf level, and should not both keep room for it.
  void clear() {
    std::vector<uint8_t>().swap(bytes_);
    std::vector<uint32_t>().swap(restarts_);
    count_ = 0;
  }
  uint32_t add(const uint8_t* p, uint32_t n) {
    // Numbers and offsets are 32 bits: a level whose bounds outgrow them is
    // beyond any index this layer can address with its block counts.
    if (bytes_.size() > UINT32_MAX - 512 || count_ == UINT32_MAX - 1) {
      raise_status(kStatusNoMemory);
    }
    uint32_t shared = 0;
    if (count_ % kRestart == 0) {
      restarts_.push_back(static_cast<uint32_t>(bytes_.size()));
    } else if (p != nullptr) {
      const uint32_t most = std::min(n, last_length_);
      while (shared < most && p[shared] == last_[shared]) ++shared;
    }
    if (p == nullptr) {
      bytes_.push_back(kNone);
      bytes_.push_back(0);
      last_length_ = 0;  // the next one shares nothing
      return count_++;
    }
    bytes_.push_back(static_cast<uint8_t>(shared));
    bytes_.push_back(static_cast<uint8_t>(n - shared));
    bytes_.insert(bytes_.end(), p + shared, p + n);
    std::memcpy(last_ + shared, p + shared, n - shared);
    last_length_ = n;
    return count_++;
  }
  // No bound: a null `p`.
  uint32_t add_none() { return add(nullptr, 0); }
  static constexpr uint32_t kRestart = 16;
  // A separator's length byte counts itself: at most 254 bytes follow it.
  static constexpr uint32_t kLongest = 255;
  static constexpr uint8_t kNone = 0xFF;  // in place of the shared length

 private:
  friend class BoundReader;
  std::vector<uint8_t> bytes_;
  std::vector<uint32_t> restarts_;  // offset of every 16th separator
  uint32_t count_ = 0;
  uint8_t last_[kLongest] = {};
  uint32_t last_length_ = 0;
};

// Rebuilds separators from a BoundStore, going on from the last one it
// rebuilt when it can: blocks read in address order mostly ask for the
// separators in the order they were kept.
class BoundReader {
 public:
  void reset() { at_ = UINT32_MAX; }
  // Separator `k` (one the store gave out), null for no bound; valid until
  // the next call.
  const uint8_t* get(const BoundStore& store, uint32_t k, uint32_t* length) {
    const uint32_t group = k / BoundStore::kRestart;
    if (at_ == UINT32_MAX || k < at_ || at_ / BoundStore::kRestart != group) {
      offset_ = store.restarts_[group];
      at_ = group * BoundStore::kRestart;
      step(store);
    }
    while (at_ < k) {
      ++at_;
      step(store);
    }
    *length = length_;
    return none_ ? nullptr : text_;
  }

 private:
  // Decodes the entry at offset_ (what the store wrote; it is not from the file).
  void step(const BoundStore& store) {
    const uint8_t* e = store.bytes_.data() + offset_;
    const uint32_t shared = e[0], rest = e[1];
    none_ = shared == BoundStore::kNone;
    if (none_) {
      length_ = 0;
      offset_ += 2;
      return;
    }
    std::memcpy(text_ + shared, e + 2, rest);
    length_ = shared + rest;
    offset_ += 2 + rest;
  }
  uint32_t at_ = UINT32_MAX;  // the separator in text_
  uint32_t offset_ = 0;       // where the one after it starts
  uint32_t length_ = 0;
  bool none_ = false;
  uint8_t text_[BoundStore::kLongest] = {};
};

// A block of the level being walked, with the key range its parent gives it:
// separators `low` and `low + 1` of the level's bound store (a parent keeps
// its children's bounds one after the other). A level holds one per block,
// so it is kept small: the parent's address is looked up in the level
// above, and a block whose pointer failed its check has address 0 (a null
// pointer fails it).
struct Node {
  uint64_t address = 0;
  uint32_t low = 0;
  uint32_t parent = 0;  // the parent's position in its level
};

// A level's nodes in fixed chunks: growing it never copies it (a vector
// would hold the old and the new storage at once).
class NodeList {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  Node& operator[](size_t i) { return chunks_[i >> kShift][i & kMask]; }
  const Node& operator[](size_t i) const { return chunks_[i >> kShift][i & kMask]; }
  // Keeps one chunk: the two lists take turns at holding the large leaf
  // level, and should not both keep room for it.
  void clear() {
    size_ = 0;
    if (chunks_.size() > 1) chunks_.resize(1);
  }
  void push_back(const Node& node) {
    if ((size_ >> kShift) == chunks_.size()) chunks_.push_back(std::make_unique<Node[]>(kMask + 1));
    (*this)[size_++] = node;
  }
  void swap(NodeList& other) {
    chunks_.swap(other.chunks_);
    std::swap(size_, other.size_);
  }

 private:
  static constexpr size_t kShift = 12;
  static constexpr size_t kMask = (size_t{1} << kShift) - 1;
  std::vector<std::unique_ptr<Node[]>> chunks_;
  size_t size_ = 0;
};

// A leaf whose chain link disagrees with the tree: kept until the level is
// read, so that the problems go out in tree order.
struct ChainFault {
  uint32_t position = 0;  // the leaf's position in the level
  bool next = false;      // the next link (else the previous one)
  uint64_t link = 0;
  uint64_t want = 0;
};

// Tree order of chain faults: by leaf, the previous link first.
bool chain_before(const ChainFault& x, const ChainFault& y) {
  return x.position != y.position ? x.position < y.position : x.next < y.next;
}

// The read buffer: page-aligned, since the kernel's copy into an unaligned
// buffer costs several times as much; of exactly the size last asked for
// when it grew (a one-block buffer lets address checks see a read past it).
class ReadBuffer {
 public:
  uint8_t* get(size_t size) {
    if (size > size_) {
      data_.reset(static_cast<uint8_t*>(::operator new[](size, kAlign)));
      size_ = size;
    }
    return data_.get();
  }

 private:
  static constexpr std::align_val_t kAlign{4096};
  struct Free {
    void operator()(uint8_t* p) const { ::operator delete[](p, kAlign); }
  };
  std::unique_ptr<uint8_t[], Free> data_;
  size_t size_ = 0;
};

// The working storage of the walks, kept from one key to the next: its
// larger vectors would otherwise be mapped afresh (and every page of them
// faulted in) for each key. The level lists and bound stores give back all
// but a little when cleared, since they take turns at holding a leaf level.
struct WalkBuffers {
  ReadBuffer read;
  BoundStore bounds, next_bounds;
  NodeList level, children;
  std::vector<ChainFault> chain;
  std::vector<uint64_t> block_rfas;
  std::vector<uint32_t> order, start;
};

// The walk of one key's tree.
class KeyWalk {
 public:
  // The key's record addresses go to one of `collector` (the primary key's),
  // `grid` (matched against the primary key's) and `rfas`, or nowhere.
  KeyWalk(const TreeCheckInput& in, size_t key, std::vector<uint16_t>* owner,
          AddressCollector* collector, AddressSet* rfas, AddressGrid* grid, WalkBuffers* buffers,
          uint64_t* bytes_read)
      : in_(in),
        key_(key),
        k_(in.keys[key]),
        g_(k_.geometry),
        owner_(*owner),
        collector_(collector),
        rfas_(rfas),
        grid_(grid),
        buffer_(buffers->read),
        bytes_read_(*bytes_read),
        bounds_(buffers->bounds),
        next_bounds_(buffers->next_bounds),
        level_(buffers->level),
        children_(buffers->children),
        chain_(buffers->chain),
        block_rfas_(buffers->block_rfas),
        order_(buffers->order),
        start_(buffers->start) {}

  void run();

  std::vector<TreeProblem> problems;
  uint64_t problem_count = 0;
  KeyTreeStats stats;

 private:
  void problem(uint64_t block, TreeProblemKind kind, std::string text) {
    ++problem_count;
    if (problems.size() < kMaxListedProblems)
      problems.push_back({key_, block, kind, std::move(text)});
  }
  bool check_pointer(Node* node, int j);
  void read_level(int j);
  void leaf(const Node& node, uint32_t position, const uint8_t* b, int j);
  void check_chain(uint32_t position, uint64_t previous, uint64_t next);
  void chain_problems();
  void put_in_tree_order();
  void separator(const Node& node, uint32_t position, const uint8_t* b, int j);
  uint32_t inherit_bound(uint32_t bound, BoundReader* reader);

  const TreeCheckInput& in_;
  size_t key_;
  const TreeKeyInput& k_;
  const IndexGeometry& g_;
  std::vector<uint16_t>& owner_;
  AddressCollector* collector_;
  AddressSet* rfas_;
  AddressGrid* grid_;
  ReadBuffer& buffer_;
  uint64_t& bytes_read_;
  // Bounds of the level being read, and of the next one being built.
  BoundStore& bounds_;
  BoundStore& next_bounds_;
  // One for the lower bounds and one for the upper, each mostly asked for
  // the separator after the one before.
  BoundReader low_reader_, high_reader_;
  NodeList& level_;  // the level being read, in tree order
  // The next level as its parents are read, then in tree order; once that
  // is the level being read, the level above it (its nodes' parents).
  NodeList& children_;
  std::vector<ChainFault>& chain_;     // the first ones in tree order
  uint64_t chain_faults_ = 0;          // all of them
  std::vector<uint64_t>& block_rfas_;  // a leaf's record addresses, gathered
  // A level's usable blocks in address order; then each child's place in
  // tree order.
  std::vector<uint32_t>& order_;
  std::vector<uint32_t>& start_;  // first child of each parent in tree order
  int depth_ = 1;
  bool leaf_above_ = false;
  // Blocks of the level being read that stand at the wrong level.
  uint64_t misplaced_ = 0;
  uint64_t reported_ = 0;  // bytes read at the last progress report
  uint64_t first_misplaced_ = 0;
};

// Checks a pointer before anything is read through it, and claims its block.
bool KeyWalk::check_pointer(Node* node, int j) {
  const uint64_t address = node->address;
  const uint64_t parent = j == 0 ? 0 : children_[node->parent].address;
  // The text is made only for a problem: most pointers are sound.
  auto from = [parent] {
    return parent != 0 ? " from block " + hex(parent) : std::string(" (root)");
  };
  if (address == 0) {
    problem(parent, TreeProblemKind::kBounds, "null block pointer" + from());
    return false;
  }
  const uint64_t B = g_.block_size;
  const uint64_t offset = g_.tbyte ? address * 256 : address;
  if ((g_.tbyte && address > (uint64_t{1} << 48)) || offset < in_.blocks_base ||
      (offset - in_.blocks_base) % B != 0) {
    problem(address, TreeProblemKind::kBounds, "block not on a block boundary" + from());
    return false;
  }
  if (offset > in_.index_size || in_.index_size - offset < B) {
    problem(address, TreeProblemKind::kBounds, "block beyond the end of the index file" + from());
    return false;
  }
  uint16_t& mark = owner_[(offset - in_.blocks_base) / B];
  if (mark != 0) {
    std::string why = mark == kFreeHeadOwner ? "block is also the free-list head"
                      : mark == key_ + 1
                          ? "block reached twice (cycle)"
                          : "block also in the tree of key " + std::to_string(mark - 1);
    problem(address, TreeProblemKind::kShared, why + from());
    return false;
  }
  mark = static_cast<uint16_t>(key_ + 1);
  return true;
}

uint32_t KeyWalk::inherit_bound(uint32_t at, BoundReader* reader) {
  uint32_t n = 0;
  const uint8_t* p = reader->get(bounds_, at, &n);
  return next_bounds_.add(p, n);
}

void KeyWalk::leaf(const Node& node, uint32_t position, const uint8_t* b, int j) {
  const uint64_t a = node.address;
  if (j + 1 < depth_ && misplaced_++ == 0) first_misplaced_ = a;
  const uint32_t B = g_.block_size;
  uint32_t count = g_.wide() ? get16(b + 2) : b[1];
  const uint32_t start = g_.leaf_entries_offset();
  const uint32_t size = g_.leaf_entry_size();
  const uint32_t room = size == 0 || start > B ? 0 : (B - start) / size;
  if (count > room) {
    problem(a, TreeProblemKind::kBounds,
            "entry count " + std::to_string(count) + " runs outside the block (room for " +
                std::to_string(room) + ")");
    count = room;
  }
  // The chain must link exactly the leaves of the leaf level, in order.
  if (j + 1 == depth_ && !leaf_above_) {
    check_chain(position, read_block_pointer(g_, b + 4),
                read_block_pointer(g_, b + (g_.addr48 ? 9 : 8)));
  }

  const uint32_t key_at = g_.entry_address_width() + (g_.tracking_key ? 1 : 0);
  const uint32_t n = g_.key_size;
  uint32_t below = 0, above = 0;
  uint32_t first_below = 0, first_above = 0;
  const uint8_t* entries = b + start;
  LeafScan scan;
  const int high_bytes = g_.tbyte ? (g_.addr48 ? 2 : 1) : 0;
  if (grid_ != nullptr || collector_ != nullptr) {
    if (block_rfas_.size() < count) block_rfas_.resize(count);
    scan_entries(high_bytes, entries, count, size, key_at, n, in_.data_size, &scan,
                 [out = block_rfas_.data()](uint64_t rfa) mutable { *out++ = rfa; });
    if (grid_ != nullptr) {
      grid_->match(block_rfas_.data(), count);
    } else {
      collector_->add(block_rfas_.data(), count);
    }
  } else if (rfas_ != nullptr) {
    scan_entries(high_bytes, entries, count, size, key_at, n, in_.data_size, &scan,
                 [s = rfas_](uint64_t rfa) { s->add(rfa); });
  } else {
    scan_entries(high_bytes, entries, count, size, key_at, n, in_.data_size, &scan,
                 [](uint64_t) {});
  }
  const uint32_t descending = scan.descending, repeated = scan.repeated, beyond = scan.beyond;
  const uint64_t first_beyond = scan.first_beyond;
  // In ascending entries only the first can fall below the range and only
  // the last above it; otherwise every entry is compared.
  uint32_t low_n = 0, high_n = 0;
  const uint8_t* low = low_reader_.get(bounds_, node.low, &low_n);
  const uint8_t* high = high_reader_.get(bounds_, node.low + 1, &high_n);
  auto outside = [&](const uint8_t* bound, uint32_t bound_n, uint32_t i, bool lower) {
    if (bound == nullptr) return false;
    const int c =
        compare_strings(entries + static_cast<size_t>(i) * size + key_at, n, bound, bound_n);
    return lower ? c < 0 : c >= 0;
  };
  for (uint32_t i = 0; i<count; i = descending> 0 || i + 1 == count ? i + 1 : count - 1) {
    if (outside(low, low_n, i, true) && below++ == 0) first_below = i;
    if (outside(high, high_n, i, false) && above++ == 0) first_above = i;
  }
  if (descending > 0) {
    problem(a, TreeProblemKind::kOrder,
            std::to_string(descending) + " entries below the entry before them");
  }
  if (repeated > 0) {
    if (g_.qualifier_size > 0) {
      problem(a, TreeProblemKind::kCount,
              std::to_string(repeated) + " duplicates whose qualifier repeats");
    } else {
      problem(a, TreeProblemKind::kOrder,
              std::to_string(repeated) + " entries equal to the entry before them");
    }
  }
  if (below > 0) {
    problem(a, TreeProblemKind::kOrder,
            std::to_string(below) + " entries below the block's separator (first: entry " +
                std::to_string(first_below) + ")");
  }
  if (above > 0) {
    problem(a, TreeProblemKind::kOrder,
            std::to_string(above) + " entries at or above the next separator (first: entry " +
                std::to_string(first_above) + ")");
  }
  if (beyond > 0) {
    problem(a, TreeProblemKind::kRfa,
            std::to_string(beyond) + " record addresses beyond the data file's end (first: " +
                hex(first_beyond) + ", end " + hex(in_.data_size) + ")");
  }
  TreeLevelStats& s = stats.levels[j];
  s.entries += count;
  const uint32_t used = start + count * size;
  s.used_bytes += used;
  s.min_used = s.blocks == 1 ? used : std::min(s.min_used, used);
  stats.leaf_entries += count;
}

// Compares a leaf's links with its neighbours in the tree (a neighbour
// whose pointer was bad is not held against it).
void KeyWalk::check_chain(uint32_t i, uint64_t previous, uint64_t next) {
  const bool has_before = i > 0;
  const bool has_after = i + 1 < level_.size();
  const uint64_t want_previous = has_before ? level_[i - 1].address : 0;
  const uint64_t want_next = has_after ? level_[i + 1].address : 0;
  auto fault = [&](bool is_next, uint64_t link, uint64_t want) {
    ++chain_faults_;
    chain_.push_back({i, is_next, link, want});
    // Only the first ones in tree order can be listed.
    if (chain_.size() >= 2 * kMaxListedProblems) {
      std::nth_element(chain_.begin(), chain_.begin() + kMaxListedProblems, chain_.end(),
                       chain_before);
      chain_.resize(kMaxListedProblems);
    }
  };
  if ((!has_before || level_[i - 1].address != 0) && previous != want_previous) {
    fault(false, previous, want_previous);
  }
  if ((!has_after || level_[i + 1].address != 0) && next != want_next) fault(true, next, want_next);
}

void KeyWalk::chain_problems() {
  std::sort(chain_.begin(), chain_.end(), chain_before);
  for (const ChainFault& f : chain_) {
    problem(
        level_[f.position].address, TreeProblemKind::kChain,
        (f.next ? "next leaf " : "previous leaf ") + hex(f.link) + ", the tree has " + hex(f.want));
  }
  // The rest would not have been listed.
  problem_count += chain_faults_ - chain_.size();
  chain_.clear();
  chain_faults_ = 0;
}

void KeyWalk::separator(const Node& node, uint32_t position, const uint8_t* b, int j) {
  const uint64_t a = node.address;
  const uint32_t B = g_.block_size;
  TreeLevelStats& s = stats.levels[j];
  if (j + 1 >= depth_) {
    if (misplaced_++ == 0) first_misplaced_ = a;
    s.min_used = s.blocks == 1 ? 0 : std::min(s.min_used, 0u);
    return;
  }
  SeparatorView sep;
  decode_separator_header(g_, b, &sep);
  const uint32_t pw = g_.pointer_width();
  if (sep.used > B || sep.used < sep.first_entry) {
    problem(a, TreeProblemKind::kBounds,
            "used length " + std::to_string(sep.used) + " runs outside the block");
    s.min_used = s.blocks == 1 ? 0 : std::min(s.min_used, 0u);
    return;
  }
  if (sep.count == 0) problem(a, TreeProblemKind::kBounds, "empty separator block");
  Node child;
  child.parent = position;
  child.low = inherit_bound(node.low, &low_reader_);
  uint32_t low_n = 0, high_n = 0;
  const uint8_t* low = low_reader_.get(bounds_, node.low, &low_n);
  const uint8_t* high = high_reader_.get(bounds_, node.low + 1, &high_n);
  child.address = read_block_pointer(g_, b + sep.p0_offset);
  uint32_t pos = sep.first_entry;
  const uint8_t* last = nullptr;
  uint32_t last_n = 0;
  uint32_t parsed = 0;
  uint32_t unordered = 0, outside = 0;
  for (; parsed < sep.count; ++parsed) {
    const uint32_t length = pos < sep.used ? b[pos] : 0;
    if (length == 0 || uint64_t{pos} + length + pw > sep.used) {
      problem(a, TreeProblemKind::kBounds,
              "separator entry " + std::to_string(parsed + 1) + " runs outside the used length " +
                  std::to_string(sep.used));
      break;
    }
    const uint8_t* prefix = b + pos + 1;
    const uint32_t n = length - 1;
    if (last != nullptr && compare_strings(last, last_n, prefix, n) >= 0) ++unordered;
    if ((low != nullptr && compare_strings(prefix, n, low, low_n) < 0) ||
        (high != nullptr && compare_strings(prefix, n, high, high_n) >= 0)) {
      ++outside;
    }
    children_.push_back(child);
    child.low = next_bounds_.add(prefix, n);
    child.address = read_block_pointer(g_, b + pos + length);
    s.prefix_bytes += n;
    last = prefix;
    last_n = n;
    pos += length + pw;
  }
  inherit_bound(node.low + 1, &high_reader_);
  children_.push_back(child);
  if (unordered > 0) {
    problem(a, TreeProblemKind::kOrder,
            std::to_string(unordered) + " separators not above the separator before them");
  }
  if (outside > 0) {
    problem(a, TreeProblemKind::kOrder,
            std::to_string(outside) + " separators outside the range the parent gives the block");
  }
  s.entries += parsed;
  s.used_bytes += sep.used;
  s.min_used = s.blocks == 1 ? sep.used : std::min(s.min_used, sep.used);
}

// Reads the usable blocks of a level in address order, adjacent ones
// together, and checks each one.
void KeyWalk::read_level(int j) {
  const NodeList& level = level_;
  const uint64_t B = g_.block_size;
  // A level laid out in tree order (as a bulk load lays it out), with every
  // pointer sound, is read as it stands; any other is sorted into a list.
  bool in_order = true;
  for (size_t i = 0; i < level.size() && in_order; ++i) {
    in_order = level[i].address != 0 && (i == 0 || level[i - 1].address < level[i].address);
  }
  std::vector<uint32_t>& order = order_;
  order.clear();
  if (!in_order) {
    order.reserve(level.size());
    for (uint32_t i = 0; i < level.size(); ++i) {
      if (level[i].address != 0) order.push_back(i);
    }
    std::sort(order.begin(), order.end(),
              [&](uint32_t x, uint32_t y) { return level[x].address < level[y].address; });
  }
  const size_t count = in_order ? level.size() : order.size();
  auto at = [&](size_t r) { return in_order ? static_cast<uint32_t>(r) : order[r]; };
  auto offset_of = [&](uint32_t i) { return g_.tbyte ? level[i].address * 256 : level[i].address; };
  for (size_t r = 0; r < count;) {
    const uint64_t first = offset_of(at(r));
    size_t end = r + 1;
    while (end < count) {
      const uint64_t at_end = offset_of(at(end));
      const uint64_t last = offset_of(at(end - 1));
      if (at_end - last > B * kMaxGapBlocks || at_end + B - first > in_.max_read) break;
      ++end;
    }
    const uint64_t length = offset_of(at(end - 1)) + B - first;
    const uint8_t* run = nullptr;
    if (in_.view) {
      run = in_.view(first, length);
    } else {
      uint8_t* into = buffer_.get(length);
      if (in_.read(first, into, length)) run = into;
    }
    if (run == nullptr) raise_status(kStatusReadFailure);
    bytes_read_ += length;
    for (size_t x = r; x < end; ++x) {
      const uint32_t i = at(x);
      const Node& node = level[i];
      const uint8_t* b = run + (offset_of(i) - first);
      TreeLevelStats& s = stats.levels[j];
      ++s.blocks;
      if (b[0] == kLeafMark) {
        leaf(node, i, b, j);
      } else {
        separator(node, i, b, j);
      }
    }
    r = end;
    // Progress at every hundredth of the file read.
    if (in_.progress && bytes_read_ - reported_ >= in_.index_size / 100 + 1) {
      reported_ = bytes_read_;
      in_.progress(bytes_read_);
    }
  }
}

void KeyWalk::run() {
  stats.depth = k_.depth;
  depth_ = k_.depth;
  if (depth_ < 1 || depth_ > kMaxTreeDepth) {
    problem(
        k_.root, TreeProblemKind::kDepth,
        "stored depth " + std::to_string(depth_) + " outside 1.." + std::to_string(kMaxTreeDepth));
    depth_ = std::clamp(depth_, 1, kMaxTreeDepth);
  }
  NodeList& level = level_;
  level.clear();
  level.push_back(Node{});
  level[0].address = k_.root;
  bounds_.clear();
  level[0].low = bounds_.add_none();
  bounds_.add_none();
  chain_.clear();
  chain_faults_ = 0;
  for (int j = 0; j < depth_ && !level.empty(); ++j) {
    // Before the level above gives way to the next level's children.
    for (size_t i = 0; i < level.size(); ++i) {
      if (!check_pointer(&level[i], j)) level[i].address = 0;
    }
    stats.levels.emplace_back();
    children_.clear();
    next_bounds_.clear();
    misplaced_ = 0;
    read_level(j);
    if (misplaced_ > 0) {
      const bool leaves = j + 1 < depth_;
      leaf_above_ = leaf_above_ || leaves;
      problem(first_misplaced_, TreeProblemKind::kDepth,
              std::to_string(misplaced_) +
                  (leaves ? " leaves at level " + std::to_string(j + 1) + " above the key's depth "
                          : " separator blocks at the leaf level ") +
                  std::to_string(depth_) + " (the first one here)");
    }
    chain_problems();

    // The children in tree order: grouped by their parent's position, each
    // group already in separator order. Parents read in tree order left them
    // so; otherwise each child's place goes to order_, and the children are
    // moved there in place, a cycle at a time.
    if (children_.empty()) break;  // the leaf level, or none below
    const size_t n = children_.size();
    if (n > UINT32_MAX) raise_status(kStatusNoMemory);
    bool in_order = true;
    for (size_t c = 1; c < n && in_order; ++c) {
      in_order = children_[c - 1].parent <= children_[c].parent;
    }
    if (!in_order) put_in_tree_order();
    level.swap(children_);
    std::swap(bounds_, next_bounds_);
    low_reader_.reset();
    high_reader_.reset();
  }
}

void KeyWalk::put_in_tree_order() {
  const size_t n = children_.size();
  std::vector<uint32_t>& start = start_;
  start.assign(level_.size() + 1, 0);
  for (size_t c = 0; c < n; ++c) ++start[children_[c].parent + 1];
  for (size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
  std::vector<uint32_t>& place = order_;
  place.resize(n);
  for (size_t c = 0; c < n; ++c) place[c] = start[children_[c].parent]++;
  for (size_t c = 0; c < n; ++c) {
    while (place[c] != c) {
      const uint32_t d = place[c];
      std::swap(children_[c], children_[d]);
      std::swap(place[c], place[d]);
    }
  }
}

}  // namespace

const char* tree_problem_word(TreeProblemKind kind) {
  switch (kind) {
    case TreeProblemKind::kBounds:
      return "bounds";
    case TreeProblemKind::kDepth:
      return "depth";
    case TreeProblemKind::kOrder:
      return "order";
    case TreeProblemKind::kChain:
      return "chain";
    case TreeProblemKind::kShared:
      return "shared";
    case TreeProblemKind::kCount:
      return "count";
    case TreeProblemKind::kRfa:
      return "rfa";
  }
  return "bounds";
}

TreeCheckReport check_index_trees(TreeCheckInput in) {
  TreeCheckReport report;
  TreeFileStats& f = report.file;
  f.block_size = in.keys.empty() ? 0 : in.keys[0].geometry.block_size;
  f.file_size = in.index_size;
  f.blocks_base = in.blocks_base;
  if (f.block_size != 0 && in.index_size > in.blocks_base) {
    f.file_blocks = (in.index_size - in.blocks_base) / f.block_size;
  }
  std::vector<uint16_t> owner(f.file_blocks, 0);
  uint64_t free_head_blocks = 0;
  if (in.free_list_head != 0 && !in.keys.empty()) {
    const IndexGeometry& g = in.keys[0].geometry;
    const uint64_t offset = g.tbyte ? in.free_list_head * 256 : in.free_list_head;
    if (offset >= in.blocks_base && (offset - in.blocks_base) % f.block_size == 0 &&
        (offset - in.blocks_base) / f.block_size < f.file_blocks) {
      owner[(offset - in.blocks_base) / f.block_size] = kFreeHeadOwner;
      free_head_blocks = 1;
    }
  }

  // Record addresses of the primary key, and of the key being compared.
  const bool compare_sets = std::any_of(in.keys.begin() + (in.keys.empty() ? 0 : 1), in.keys.end(),
                                        [](const TreeKeyInput& k) { return !k.null_rules; });
  const bool narrow = !in.keys.empty() && in.keys[0].geometry.rfa_width() == 4;
  AddressSet primary(narrow);
  AddressSet other(narrow);
  AddressGrid grid;
  bool use_grid = false;
  WalkBuffers buffers;
  // The header's record count, when it is plausible, bounds the collection's
  // bitmap.
  AddressCollector collected(
      narrow, compare_sets && in.record_count <= in.index_size / 4 ? in.record_count : 0);
  uint64_t bytes_read = 0;
  report.keys.resize(in.keys.size());
  for (size_t key = 0; key < in.keys.size(); ++key) {
    if (in.keys[key].geometry.block_size != f.block_size) raise_status(kStatusBadFileControl);
    const bool collect = compare_sets && (key == 0 || !in.keys[key].null_rules);
    AddressSet* set = key == 0 ? &primary : &other;
    std::unique_ptr<KeyWalk> walk;
    for (int attempt = 0;; ++attempt) {
      set->clear();
      collected.clear();
      if (use_grid) grid.finish();  // a first walk's addresses are forgotten
      AddressGrid* matching = collect && use_grid && key > 0 ? &grid : nullptr;
      walk = std::make_unique<KeyWalk>(in, key, &owner, collect && key == 0 ? &collected : nullptr,
                                       collect && key > 0 && !matching ? set : nullptr, matching,
                                       &buffers, &bytes_read);
      walk->run();
      if (walk->problem_count == 0 || attempt > 0 || !in.recheck || !in.recheck(key, &in)) break;
      // Give the key's blocks back before the second walk.
      for (uint16_t& mark : owner) {
        if (mark == key + 1) mark = 0;
      }
    }
    report.problem_count += walk->problem_count;
    report.problems.insert(report.problems.end(), walk->problems.begin(), walk->problems.end());
    report.keys[key] = walk->stats;
    const uint64_t root = in.keys[key].root;
    const uint64_t entries = walk->stats.leaf_entries;
    auto problem = [&](TreeProblemKind kind, std::string text) {
      ++report.problem_count;
      report.problems.push_back({key, root, kind, std::move(text)});
    };
    if (key == 0 && entries != in.record_count) {
      problem(TreeProblemKind::kCount, std::to_string(entries) +
                                           " entries in the primary key, the header counts " +
                                           std::to_string(in.record_count) + " records");
    }
    if (key == 0 && collect) use_grid = collected.finish(&grid, &primary);
    if (key == 0 || in.keys[key].null_rules) continue;
    const uint64_t primary_entries = report.keys[0].leaf_entries;
    if (entries != primary_entries) {
      problem(TreeProblemKind::kCount, std::to_string(entries) + " entries, the primary key has " +
                                           std::to_string(primary_entries));
    }
    if (!use_grid) set->sort();
    const SetDifference d = use_grid ? grid.finish() : set->difference(primary);
    if (d.only_a != 0 || d.only_b != 0) {
      std::string text = std::to_string(d.only_a) + " record addresses not in the primary key";
      if (d.only_a != 0) text += " (first " + hex(d.first_a) + ")";
      text += ", " + std::to_string(d.only_b) + " of the primary key's missing";
      if (d.only_b != 0) text += " (first " + hex(d.first_b) + ")";
      problem(TreeProblemKind::kRfa, text);
    }
  }
  for (uint16_t mark : owner) {
    if (mark != 0 && mark != kFreeHeadOwner) ++f.tree_blocks;
  }
  f.unaccounted = f.file_blocks - f.tree_blocks - free_head_blocks;
  if (f.file_size > 0) {
    f.in_use =
        static_cast<double>(std::min(f.blocks_base, f.file_size) + f.tree_blocks * f.block_size) /
        static_cast<double>(f.file_size);
  }
  return report;
}

}  // namespace ismgr
