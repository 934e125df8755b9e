// Sets of record addresses for the tree check's "every record is in every
// index" comparison: the primary key's addresses against those of each key
// without null rules.
//
// Where the primary key's addresses lie on a dense grid (the smallest
// address plus multiples of a step they all share, as records of a fixed
// length do) they become a bitmap of that grid while their key is read, and
// the other keys' addresses are matched against it as they are read, neither
// kept nor sorted. Otherwise they are listed (4 bytes each where addresses
// are 32 bits wide, else 8), and both sets are sorted and merged.
//
// These sets are the check's only memory that grows with the number of
// records: with a grid, two bits a slot of it (the bitmap and the copy that
// each key clears; one bit a slot while the primary key is walked), or,
// without, the primary key's sorted set, the set of the key being compared
// and the radix sort's scratch copy of it (12 or 24 bytes a record at most,
// and up to 2 bytes a record more while a bitmap turns out too sparse). The
// rest grows with the number of index blocks: the walk keeps one level's
// blocks, 16 bytes each, with their lower bounds front-coded (some 9 bytes a
// leaf), 4 bytes a block more when a level is not laid out in tree order,
// and the 2-byte visited mark of every index block.
#ifndef ISMGR_ISAM_RECORD_ADDRESSES_H_
#define ISMGR_ISAM_RECORD_ADDRESSES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ismgr {

// How one set differs from another: the addresses only in the first (and
// the smallest of them), and those only in the second.
struct SetDifference {
  uint64_t only_a = 0, only_b = 0;
  uint64_t first_a = 0, first_b = 0;
};

// Divisibility by a step without a division: the step is 2^shift times an
// odd part, and x is a multiple of the odd part exactly when x times its
// inverse modulo 2^64 is at most (2^64 - 1) / odd part.
class GridStep {
 public:
  void set(uint64_t step);
  uint64_t step() const { return step_; }
  bool divides(uint64_t d) const {
    return (d & ((uint64_t{1} << shift_) - 1)) == 0 && (d >> shift_) * inverse_ <= limit_;
  }
  // d / step, for a multiple d of the step.
  uint64_t quotient(uint64_t d) const { return (d >> shift_) * inverse_; }

 private:
  uint64_t step_ = 1, inverse_ = 1, limit_ = UINT64_MAX;
  int shift_ = 0;
};

// The primary key's addresses as a bitmap over the grid they lie on.
class AddressGrid {
 public:
  // Builds the grid; false (and nothing built) when it would hold more than
  // 64 slots a record.
  bool build(const std::vector<uint32_t>& primary);
  bool build(const std::vector<uint64_t>& primary);

  // Another key's addresses (a block's worth): one bit each tested and
  // cleared in the bitmap of the primary key's addresses not yet matched.
  // The bitmap's words are random accesses to memory the block reads keep
  // evicting, so all of them are fetched before the first is tested.
  void match(const uint64_t* addresses, size_t n);
  // The difference of the addresses matched since the last call (a) from
  // the primary key's (b); starts afresh.
  SetDifference finish();

 private:
  friend class AddressCollector;
  template <typename T>
  bool build_from(const std::vector<T>& primary);
  // The grid from its bitmap (bit s: address min + s x step).
  void adopt(uint64_t min, const GridStep& step, uint64_t slots, std::vector<uint64_t> bits);
  bool divisible(uint64_t d) const { return step_.divides(d); }
  uint64_t slot_of(uint64_t address) const { return step_.quotient(address - min_); }

  static constexpr uint64_t kOffGrid = UINT64_MAX;
  std::vector<uint64_t> slots_of_block_;
  uint64_t min_ = 0, slots_ = 0;
  GridStep step_;
  std::vector<uint64_t> in_primary_, left_;
  uint64_t unique_ = 0, matched_ = 0, extra_ = 0, first_extra_ = 0;
};

// The addresses of one key, collected and then sorted.
class AddressSet {
 public:
  explicit AddressSet(bool narrow) : narrow_(narrow) {}
  void reserve(size_t n) { narrow_ ? n32_.reserve(n) : n64_.reserve(n); }
  void clear() {
    n32_.clear();
    n64_.clear();
  }
  void add(uint64_t address) {
    if (narrow_) {
      n32_.push_back(static_cast<uint32_t>(address));
    } else {
      n64_.push_back(address);
    }
  }
  void add(const uint64_t* addresses, size_t n) {
    if (narrow_) {
      n32_.insert(n32_.end(), addresses, addresses + n);
    } else {
      n64_.insert(n64_.end(), addresses, addresses + n);
    }
  }
  // Frees the addresses.
  void release();
  bool build_grid(AddressGrid* grid) const {
    return narrow_ ? grid->build(n32_) : grid->build(n64_);
  }
  // Sorts by radix, least significant digit first.
  void sort();
  // Both sets sorted.
  SetDifference difference(const AddressSet& other) const;

 private:
  bool narrow_;
  std::vector<uint32_t> n32_;
  std::vector<uint64_t> n64_;
};

// The primary key's addresses, collected as they are read: while they lie
// on a grid dense enough (at most 16 slots an address, of the addresses so
// far or of the records the header counts, whichever is more), as a bitmap
// over it from the lowest address on it, that grows and refines its step as
// they come (an address seen again kept aside); otherwise listed. finish()
// gives what listing them all and then building the grid (or sorting) gives,
// without holding every address while the tree is read.
class AddressCollector {
 public:
  AddressCollector(bool narrow, uint64_t expected) : list_(narrow), expected_(expected) {}
  void add(const uint64_t* addresses, size_t n);
  // Forgets every address (before the key is walked again).
  void clear();
  // True with the grid built, else false with the addresses in `sorted`,
  // sorted. Frees the collection.
  bool finish(AddressGrid* grid, AddressSet* sorted);

 private:
  // The step becomes `step`, a divisor of the old one: bits move apart.
  void refine(uint64_t step);
  // Room for the slot of `address` (never below the base, the lowest address
  // on the grid): the bitmap grows upwards; false when it would grow too
  // sparse.
  bool make_room(uint64_t address);
  // Every address so far into the list; the bitmap is dropped.
  void to_list();
  template <typename F>
  void each_address(F f) const;
  // Sets the bit of `slot`, that of address x; a bit already set keeps x aside.
  void mark(uint64_t slot, uint64_t x) {
    uint64_t& word = bits_[slot / 64];
    const uint64_t bit = uint64_t{1} << (slot % 64);
    if ((word & bit) != 0) [[unlikely]] {
      repeats_.push_back(x);
    }
    word |= bit;
  }

  AddressSet list_;
  bool listing_ = false;
  uint64_t expected_ = 0;
  uint64_t count_ = 0;  // addresses added, repeats included
  uint64_t first_ = 0, min_ = 0, max_ = 0;
  bool stepped_ = false;  // two different addresses seen: step_ holds
  GridStep step_;
  uint64_t base_ = 0;           // bit s: address base_ + s x step
  std::vector<uint64_t> bits_;  // words of the bitmap
  std::vector<uint64_t> repeats_;
  std::vector<uint64_t> slots_of_block_;
};

}  // namespace ismgr

#endif  // ISMGR_ISAM_RECORD_ADDRESSES_H_
