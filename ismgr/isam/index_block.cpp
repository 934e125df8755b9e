#include "ismgr/isam/index_block.h"

#include <algorithm>
#include <cstring>

#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

uint32_t get16(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (uint32_t{p[1]} << 8);
}
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
         (uint32_t{p[3]} << 24);
}
void put32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// An inconsistency seen during a descent: another process may be changing
// the tree, so it is retried before it becomes final.
struct Inconsistent {
  const char* message;
};

constexpr const char* kExpectedSeparator = "Expected separator: encountered leaf";
constexpr const char* kEmptySeparator = "Empty separator block";
constexpr const char* kInvalidEntry = "Invalid separator entry";
constexpr const char* kInvalidEntryPtr = "Invalid separator entry ptr";
constexpr const char* kTooManySeparators = "Number of separators exceeds maximum";
constexpr const char* kTooDeep = "Tree exceeds maximum depth";
constexpr const char* kNullBlock = "Null index block encountered";
// A leaf whose entry count does not fit its block.
constexpr const char* kInvalidLeaf = "Invalid leaf entry count";
// A leaf that does not point back at the leaf it was reached from.
constexpr const char* kBrokenChain = "Invalid leaf chain";

// Unsigned byte comparison of two short strings (keys are at most a few
// dozen bytes): 8 bytes at a time as big-endian words, without a call.
int compare_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
  while (n >= 8) {
    uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    a += 8;
    b += 8;
    n -= 8;
  }
  for (; n > 0; --n, ++a, ++b) {
    if (*a != *b) return *a < *b ? -1 : 1;
  }
  return 0;
}

// Compares a separator prefix with the search key as unsigned bytes; a
// prefix that equals the key over the key's whole length but is longer
// counts as greater (it can only come from a partial search key).
int compare_prefix(const uint8_t* prefix, uint32_t prefix_length, const uint8_t* key,
                   uint32_t key_length) {
  uint32_t n = std::min(prefix_length, key_length);
  int c = compare_bytes(prefix, key, n);
  if (c != 0) return c;
  return prefix_length > key_length ? 1 : 0;
}

const uint8_t* read_or_fail(const BlockSource& source, uint64_t address) {
  const uint8_t* block = source.read(address);
  if (block == nullptr) raise_status(source.io_status);
  return block;
}

// The layout of a separator block kept by a descent: the slot for the block
// at `address`, or null when nothing may be kept.
DescentWork::Layout* layout_slot(DescentWork* work, uint64_t epoch, uint64_t address) {
  if (work == nullptr || epoch == 0) return nullptr;
  return &work->layouts[(address * 0x9E3779B97F4A7C15ull) >> 58];
}

// Chooses the child of a separator block for the key. Fills `level` and
// returns the child pointer. `layout`, when given, holds what an earlier
// visit learned about this very block (same epoch and address) or receives
// it. Throws Inconsistent.
uint64_t choose_child(const IndexGeometry& g, const uint8_t* block, const DescentRequest& req,
                      std::vector<uint32_t>* work, DescentWork::Layout* layout, uint64_t epoch,
                      uint64_t address, DescentLevel* level) {
  SeparatorView sep;
  if (!decode_separator_header(g, block, &sep)) throw Inconsistent{kInvalidEntry};
  if (sep.count == 0) throw Inconsistent{kEmptySeparator};
  const uint32_t pw = g.pointer_width();
  const uint32_t used = sep.used;

  // Offsets of the entries: every entry must end inside the used length.
  const bool binary = req.search_capacity != 0;
  if (binary && sep.count + 1 > req.search_capacity) throw Inconsistent{kTooManySeparators};
  std::vector<uint32_t>& offsets = *work;

  // Entries are read only inside the block; an entry passed over must end
  // inside the used length, and so must the child pointer finally taken.
  uint32_t stop = sep.count;  // index of the first entry greater than the key
  const uint32_t first = sep.first_entry;
  // Separators are nearly always of one length. When every entry at the
  // stride of the first one has that length, the entries provably stand
  // exactly there (each one's length leads to the next), so their offsets
  // follow from the stride without a table. That takes a look at every
  // entry; a block seen before in the same epoch has had it.
  bool uniform = false;
  uint32_t stride = 0;
  if (binary) {
    const uint32_t length = block[first];
    const uint64_t wide_stride = uint64_t{length} + pw;
    const uint64_t last = first + wide_stride * (sep.count - 1);
    if (length != 0 && last < used && last + wide_stride <= g.block_size) {
      stride = static_cast<uint32_t>(wide_stride);
      if (layout != nullptr && layout->epoch == epoch && layout->address == address &&
          layout->count == sep.count && layout->stride == stride) {
        uniform = true;
      } else {
        uniform = true;
        for (uint32_t i = 1; i < sep.count; ++i) uniform &= block[first + stride * i] == length;
        if (uniform && layout != nullptr) *layout = {epoch, address, sep.count, stride};
      }
    }
  }
  auto greater = [&](uint32_t offset) {
    return compare_prefix(block + offset + 1, block[offset] - 1u, req.key, req.key_length) > 0;
  };
  if (uniform) {
    // First entry whose prefix is greater than the key. Both entries the
    // next step may probe are fetched while this one is compared.
    uint32_t lo = 0, n = sep.count;
    while (n > 0) {
      const uint32_t half = n / 2;
      __builtin_prefetch(block + first + stride * (lo + half / 2));
      __builtin_prefetch(block + first + stride * (lo + half + 1 + (n - half - 1) / 2));
      if (greater(first + stride * (lo + half))) {
        n = half;
      } else {
        lo += half + 1;
        n -= half + 1;
      }
    }
    stop = lo;
  } else {
    if (offsets.size() < sep.count) offsets.resize(sep.count);
    uint32_t pos = first;
    for (uint32_t i = 0; i < sep.count; ++i) {
      if (binary && pos >= used) throw Inconsistent{kInvalidEntry};
      if (pos >= g.block_size) throw Inconsistent{kInvalidEntry};
      uint32_t length = block[pos];
      if (length == 0 || pos + length + pw > g.block_size) throw Inconsistent{kInvalidEntry};
      offsets[i] = pos;
      if (!binary && greater(pos)) {
        stop = i;
        break;
      }
      if (!binary && pos + length + pw > used) throw Inconsistent{kInvalidEntry};
      pos += length + pw;
    }
    if (binary) {
      auto it = std::upper_bound(offsets.begin(), offsets.begin() + sep.count, 0u,
                                 [&](uint32_t, uint32_t offset) { return greater(offset); });
      stop = static_cast<uint32_t>(it - offsets.begin());
    }
  }

  // The pointer preceding entry i: P0, or the one that ends entry i-1.
  auto pointer_before = [&](uint32_t i) -> uint32_t {
    if (i == 0) return sep.p0_offset;
    const uint32_t entry = uniform ? first + stride * (i - 1) : offsets[i - 1];
    return entry + block[entry];
  };
  uint32_t child_at = pointer_before(stop);
  if (child_at + pw > used) throw Inconsistent{kInvalidEntryPtr};
  level->position = stop;
  level->left = stop > 0 ? read_block_pointer(g, block + pointer_before(stop - 1)) : 0;
  level->right = stop < sep.count ? read_block_pointer(g, block + pointer_before(stop + 1)) : 0;
  return read_block_pointer(g, block + child_at);
}

// Finds the leaf position of the key. Throws Inconsistent.
void search_leaf(const IndexGeometry& g, const uint8_t* block, const DescentRequest& req,
                 DescentResult* result) {
  LeafView leaf;
  if (!decode_leaf(g, block, &leaf)) throw Inconsistent{kInvalidLeaf};
  const uint32_t key_at = g.entry_address_width() + (g.tracking_key ? 1 : 0);
  const uint32_t compare_length = std::min(req.key_length, g.key_size);
  auto key_of = [&](uint32_t i) { return leaf.entry(i) + key_at; };
  auto below = [&](uint32_t i) { return compare_bytes(key_of(i), req.key, compare_length) < 0; };

  uint32_t pos = 0;
  if (req.search_capacity != 0) {
    // Both entries the next step may probe are fetched while this one is
    // compared: the leaf is the block least likely to be in the CPU cache.
    uint32_t lo = 0, n = leaf.count;
    while (n > 0) {
      const uint32_t half = n / 2;
      __builtin_prefetch(key_of(lo + half / 2));
      __builtin_prefetch(key_of(lo + half + 1 + (n - half - 1) / 2));
      if (below(lo + half)) {
        lo += half + 1;
        n -= half + 1;
      } else {
        n = half;
      }
    }
    pos = lo;
  } else {
    while (pos < leaf.count && below(pos)) ++pos;
  }

  auto equal = [&](uint32_t i, uint32_t length) {
    return compare_bytes(key_of(i), req.key, length) == 0;
  };
  if (req.want_rfa) {
    // Among duplicates, pass over entries until the record sought.
    uint32_t dup_length = std::min(compare_length, g.key_size - g.qualifier_size);
    while (pos < leaf.count && equal(pos, dup_length) && read_rfa(g, leaf.entry(pos)) != req.rfa) {
      ++pos;
    }
  }

  result->position = pos;
  result->past_end = pos >= leaf.count;
  result->next_leaf_exists = leaf.count != 0 && leaf.next != 0;
  if (result->past_end) {
    result->rfa = 0;
    result->compare = 1;
    return;
  }
  result->rfa = read_rfa(g, leaf.entry(pos));
  bool found = equal(pos, compare_length) && (!req.want_rfa || result->rfa == req.rfa);
  result->compare = found ? 0 : 1;
}

[[noreturn]] void fail_final(const RetryPolicy& policy, const char* message) {
  if (policy.detail) policy.detail(kIndexDetailCode, message);
  raise_status(kStatusIndexIncongruity);
}

uint64_t move_leaf(const IndexGeometry& g, const BlockSource& source, const RetryPolicy& policy,
                   uint64_t from, const uint8_t* from_block, const uint8_t** block, bool forward) {
  LeafView current;
  if (!decode_leaf(g, from_block, &current)) fail_final(policy, kInvalidLeaf);
  uint64_t target = forward ? current.next : current.previous;
  if (target == 0) return 0;
  // `from_block` may be gone once the next block is read.
  *block = read_or_fail(source, target);
  LeafView reached;
  if (!decode_leaf(g, *block, &reached)) fail_final(policy, kBrokenChain);
  if ((forward ? reached.previous : reached.next) != from) fail_final(policy, kBrokenChain);
  return target;
}

}  // namespace

uint32_t IndexGeometry::leaf_capacity() const {
  uint32_t size = leaf_entry_size();
  uint32_t start = leaf_entries_offset();
  if (size == 0 || block_size <= start) return 0;
  return (block_size - start) / size;
}

uint64_t read_block_pointer(const IndexGeometry& g, const uint8_t* p) {
  uint64_t v = get32(p);
  if (g.pointer_width() == 5) v |= uint64_t{p[4]} << 32;
  return v;
}

void write_block_pointer(const IndexGeometry& g, uint64_t value, uint8_t* p) {
  put32(static_cast<uint32_t>(value), p);
  if (g.pointer_width() == 5) p[4] = static_cast<uint8_t>(value >> 32);
}

uint64_t read_rfa(const IndexGeometry& g, const uint8_t* p) {
  uint64_t v = get32(p);
  switch (g.rfa_width()) {
    case 5:
      v |= uint64_t{p[4]} << 32;
      break;
    case 6:
      v |= uint64_t{get16(p + 4)} << 32;
      break;
    default:
      break;
  }
  return v;
}

void write_rfa(const IndexGeometry& g, uint64_t rfa, uint8_t* p) {
  put32(static_cast<uint32_t>(rfa), p);
  if (g.rfa_width() >= 5) p[4] = static_cast<uint8_t>(rfa >> 32);
  if (g.rfa_width() == 6) p[5] = static_cast<uint8_t>(rfa >> 40);
}

bool decode_leaf(const IndexGeometry& g, const uint8_t* block, LeafView* leaf) {
  if (block[0] != kLeafMark) return false;
  leaf->count = g.wide() ? get16(block + 2) : block[1];
  leaf->previous = read_block_pointer(g, block + 4);
  leaf->next = read_block_pointer(g, block + (g.addr48 ? 9 : 8));
  leaf->entries = block + g.leaf_entries_offset();
  leaf->entry_size = g.leaf_entry_size();
  return leaf->count <= g.leaf_capacity();
}

bool decode_separator_header(const IndexGeometry& g, const uint8_t* block, SeparatorView* sep) {
  if (block[0] == kLeafMark) return false;
  if (g.wide()) {
    sep->count = get16(block + 2);
    sep->used = get16(block + 4);
    sep->p0_offset = 6;
  } else {
    sep->count = block[1];
    sep->used = get16(block + 2);
    sep->p0_offset = 4;
  }
  sep->first_entry = sep->p0_offset + g.pointer_width();
  return sep->used <= g.block_size;
}

namespace {

DescentResult descend_with(const IndexGeometry& g, const BlockSource& source,
                           const DescentRequest& request, const RetryPolicy& policy,
                           std::vector<uint32_t>* offsets, DescentWork* work) {
  if (g.block_size < 16 || (request.key == nullptr && request.key_length != 0)) {
    raise_status(kStatusBadFileControl);
  }
  DescentResult result;
  for (int attempt = 0;; ++attempt) {
    try {
      result.path.clear();
      uint64_t address = request.root;
      if (address == 0) throw Inconsistent{kNullBlock};
      const uint8_t* block = read_or_fail(source, address);
      for (int j = 0;; ++j) {
        DescentLevel level;
        level.block = address;
        if (block[0] == kLeafMark) {
          if (request.depth != j + 1) throw Inconsistent{kExpectedSeparator};
          search_leaf(g, block, request, &result);
          level.position = result.position;
          result.path.push_back(level);
          result.leaf = address;
          result.retries_used = attempt;
          return result;
        }
        const uint64_t epoch = source.epoch != nullptr ? *source.epoch : 0;
        uint64_t child = choose_child(g, block, request, offsets, layout_slot(work, epoch, address),
                                      epoch, address, &level);
        result.path.push_back(level);
        if (j >= kMaxTreeDepth - 1 || request.depth < j + 2) throw Inconsistent{kTooDeep};
        if (child == 0) throw Inconsistent{kNullBlock};
        address = child;
        block = read_or_fail(source, address);
        // The block's header and the lines the first probes of its search
        // land on are fetched together, not one miss after the other.
        for (uint32_t at = 0; at < g.block_size; at += g.block_size / 4) {
          __builtin_prefetch(block + at);
        }
      }
    } catch (const Inconsistent& inconsistency) {
      if (attempt >= policy.retries) fail_final(policy, inconsistency.message);
      if (policy.relock) policy.relock();
      if (policy.wait) policy.wait(policy.wait_ms);
    }
  }
}

}  // namespace

DescentResult descend(const IndexGeometry& g, const BlockSource& source,
                      const DescentRequest& request, const RetryPolicy& policy, DescentWork* work) {
  return descend_with(g, source, request, policy, &work->offsets, work);
}

DescentResult descend(const IndexGeometry& g, const BlockSource& source,
                      const DescentRequest& request, const RetryPolicy& policy,
                      std::vector<uint32_t>* work) {
  return descend_with(g, source, request, policy, work, nullptr);
}

uint64_t next_leaf(const IndexGeometry& g, const BlockSource& source, const RetryPolicy& policy,
                   uint64_t from, const uint8_t* from_block, const uint8_t** block) {
  return move_leaf(g, source, policy, from, from_block, block, true);
}

uint64_t previous_leaf(const IndexGeometry& g, const BlockSource& source, const RetryPolicy& policy,
                       uint64_t from, const uint8_t* from_block, const uint8_t** block) {
  return move_leaf(g, source, policy, from, from_block, block, false);
}

}  // namespace ismgr
