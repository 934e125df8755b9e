#include "ismgr/isam/record_addresses.h"

#include <algorithm>
#include <numeric>

namespace ismgr {

namespace {

// Sorts record addresses in place: least significant digit first, in as
// few passes of at most 11 bits as the largest address needs (the counts
// stay in the second-level cache).
template <typename T>
void radix_sort(std::vector<T>* values) {
  std::vector<T>& v = *values;
  if (v.size() < 4096) {
    std::sort(v.begin(), v.end());
    return;
  }
  uint64_t top = 0;
  for (T x : v) top |= x;
  const int bits = top == 0 ? 0 : 64 - __builtin_clzll(top);
  const int passes = (bits + 10) / 11;
  if (passes == 0) return;
  const int digit = (bits + passes - 1) / passes;
  const size_t buckets = size_t{1} << digit;
  std::vector<T> tmp(v.size());
  std::vector<size_t> count(buckets + 1);
  for (int shift = 0; shift < bits; shift += digit) {
    std::fill(count.begin(), count.end(), 0);
    for (T x : v) ++count[((x >> shift) & (buckets - 1)) + 1];
    for (size_t i = 1; i <= buckets; ++i) count[i] += count[i - 1];
    T* out = tmp.data();
    for (T x : v) out[count[(x >> shift) & (buckets - 1)]++] = x;
    v.swap(tmp);
  }
}

template <typename T>
SetDifference set_difference(const std::vector<T>& a, const std::vector<T>& b) {
  SetDifference d;
  size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() || (i < a.size() && a[i] < b[j])) {
      if (d.only_a++ == 0) d.first_a = a[i];
      ++i;
    } else if (i == a.size() || b[j] < a[i]) {
      if (d.only_b++ == 0) d.first_b = b[j];
      ++j;
    } else {
      ++i, ++j;
    }
  }
  return d;
}

}  // namespace

template <typename T>
bool AddressGrid::build_from(const std::vector<T>& primary) {
  if (primary.empty()) return false;
  // One pass: the smallest and largest address, and the greatest common
  // divisor of every address's distance from the first (which all
  // addresses' distances from the smallest share too).
  const uint64_t first = primary[0];
  uint64_t min = first, max = first, step = 0;
  for (T x : primary) {
    min = std::min<uint64_t>(min, x);
    max = std::max<uint64_t>(max, x);
    const uint64_t d = x >= first ? x - first : first - x;
    if (d != 0 && (step == 0 || !divisible(d))) {
      step = std::gcd(step, d);
      step_.set(step);
    }
  }
  if (step == 0) step_.set(1);
  min_ = min;
  slots_ = (max - min_) / step_.step() + 1;
  if (slots_ / 64 > primary.size()) return false;
  in_primary_.assign(slots_ / 64 + 1, 0);
  unique_ = 0;
  constexpr size_t kAhead = 16;  // the bitmap is written at random
  for (size_t i = 0; i < primary.size(); ++i) {
    if (i + kAhead < primary.size()) {
      __builtin_prefetch(&in_primary_[slot_of(primary[i + kAhead]) / 64], 1);
    }
    const uint64_t slot = slot_of(primary[i]);
    uint64_t& word = in_primary_[slot / 64];
    unique_ += (word >> (slot % 64) & 1) == 0;
    word |= uint64_t{1} << (slot % 64);
  }
  left_ = in_primary_;
  return true;
}

bool AddressGrid::build(const std::vector<uint32_t>& primary) {
  return build_from(primary);
}
bool AddressGrid::build(const std::vector<uint64_t>& primary) {
  return build_from(primary);
}

void AddressGrid::match(const uint64_t* addresses, size_t n) {
  if (slots_of_block_.size() < n) slots_of_block_.resize(n);
  uint64_t* slots = slots_of_block_.data();
  for (size_t i = 0; i < n; ++i) {
    const uint64_t a = addresses[i];
    uint64_t slot = kOffGrid;
    if (a >= min_ && divisible(a - min_) && slot_of(a) < slots_) {
      slot = slot_of(a);
      __builtin_prefetch(&left_[slot / 64], 1);
    }
    slots[i] = slot;
  }
  for (size_t i = 0; i < n; ++i) {
    const uint64_t slot = slots[i];
    if (slot != kOffGrid) {
      uint64_t& word = left_[slot / 64];
      const uint64_t bit = uint64_t{1} << (slot % 64);
      if ((word & bit) != 0) {
        word &= ~bit;
        ++matched_;
        continue;
      }
    }
    if (extra_++ == 0) first_extra_ = addresses[i];
  }
}

SetDifference AddressGrid::finish() {
  SetDifference d;
  d.only_a = extra_;
  d.first_a = first_extra_;
  d.only_b = unique_ - matched_;
  for (size_t i = 0; d.only_b != 0 && i < left_.size(); ++i) {
    if (const uint64_t missing = left_[i]) {
      d.first_b = min_ + (i * 64 + static_cast<uint64_t>(__builtin_ctzll(missing))) * step_.step();
      break;
    }
  }
  std::copy(in_primary_.begin(), in_primary_.end(), left_.begin());
  extra_ = matched_ = first_extra_ = 0;
  return d;
}

void AddressGrid::adopt(uint64_t min, const GridStep& step, uint64_t slots,
                        std::vector<uint64_t> bits) {
  min_ = min;
  step_ = step;
  slots_ = slots;
  in_primary_ = std::move(bits);
  in_primary_.resize(slots_ / 64 + 1, 0);
  unique_ = 0;
  for (uint64_t word : in_primary_) unique_ += static_cast<uint64_t>(__builtin_popcountll(word));
  left_ = in_primary_;
  matched_ = extra_ = first_extra_ = 0;
}

void GridStep::set(uint64_t step) {
  step_ = step;
  shift_ = __builtin_ctzll(step);
  const uint64_t odd = step >> shift_;
  inverse_ = odd;
  for (int i = 0; i < 5; ++i) inverse_ *= 2 - odd * inverse_;
  limit_ = UINT64_MAX / odd;
}

void AddressSet::release() {
  std::vector<uint32_t>().swap(n32_);
  std::vector<uint64_t>().swap(n64_);
}

void AddressSet::sort() {
  if (narrow_) {
    radix_sort(&n32_);
  } else {
    radix_sort(&n64_);
  }
}

SetDifference AddressSet::difference(const AddressSet& other) const {
  return narrow_ ? set_difference(n32_, other.n32_) : set_difference(n64_, other.n64_);
}

// The bitmap stays within this many slots an address (of those added so
// far or of the records expected): at most 2 bytes an address, half of what
// listing them takes.
constexpr uint64_t kCollectSlots = 16;
constexpr uint64_t kCollectFreeSlots = uint64_t{1} << 16;

void AddressCollector::add(const uint64_t* addresses, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (listing_) return list_.add(addresses + i, n - i);
    if (stepped_) {
      // Addresses on the grid and inside the bitmap, the usual ones: their
      // words (random accesses to memory the block reads keep evicting) are
      // all fetched before the first is set.
      const uint64_t slots = bits_.size() * 64;
      if (slots_of_block_.size() < n) slots_of_block_.resize(n);
      size_t end = i;
      for (; end < n; ++end) {
        const uint64_t x = addresses[end];
        if (x < base_ || !step_.divides(x - base_)) break;
        const uint64_t slot = step_.quotient(x - base_);
        if (slot >= slots) break;
        slots_of_block_[end] = slot;
        __builtin_prefetch(&bits_[slot / 64], 1);
      }
      count_ += end - i;
      uint64_t low = min_, high = max_;
      for (; i < end; ++i) {
        const uint64_t x = addresses[i], slot = slots_of_block_[i];
        low = std::min(low, x);
        high = std::max(high, x);
        mark(slot, x);
      }
      min_ = low;
      max_ = high;
      if (i == n) return;
    }
    const uint64_t x = addresses[i];
    if (count_++ == 0) {
      first_ = min_ = max_ = base_ = x;
      bits_.assign(1, 0);
    }
    const uint64_t d = x >= first_ ? x - first_ : first_ - x;
    if (d != 0 && (!stepped_ || !step_.divides(d))) {
      refine(stepped_ ? std::gcd(step_.step(), d) : d);
    }
    if (!listing_) {
      min_ = std::min(min_, x);
      max_ = std::max(max_, x);
      if (step_.quotient(x - base_) / 64 >= bits_.size() && !make_room(x)) to_list();
    }
    if (listing_) {
      --count_;
      return list_.add(addresses + i, n - i);
    }
    mark(step_.quotient(x - base_), x);
  }
}

template <typename F>
void AddressCollector::each_address(F f) const {
  for (size_t w = 0; w < bits_.size(); ++w) {
    for (uint64_t word = bits_[w]; word != 0; word &= word - 1) {
      f(base_ + (w * 64 + static_cast<uint64_t>(__builtin_ctzll(word))) * step_.step());
    }
  }
  for (uint64_t x : repeats_) f(x);
}

void AddressCollector::refine(uint64_t step) {
  // Every address so far lies on the finer grid through the first one, whose
  // base is the lowest address on it.
  GridStep finer;
  finer.set(step);
  const uint64_t base = first_ % step;
  const uint64_t slots = finer.quotient(max_ - base) + 1;
  if (slots > kCollectSlots * std::max(count_, expected_) + kCollectFreeSlots) return to_list();
  std::vector<uint64_t> bits(slots / 64 + 1, 0);
  each_address([&](uint64_t x) {  // (a repeat sets its bit once more)
    const uint64_t slot = finer.quotient(x - base);
    bits[slot / 64] |= uint64_t{1} << (slot % 64);
  });
  bits_.swap(bits);
  base_ = base;
  step_ = finer;
  stepped_ = true;
}

bool AddressCollector::make_room(uint64_t address) {
  const uint64_t slots = step_.quotient(address - base_) + 1;
  const uint64_t limit = kCollectSlots * std::max(count_, expected_) + kCollectFreeSlots;
  if (slots > limit) return false;
  const uint64_t words =
      std::min(std::max(slots / 64 + 1, uint64_t{bits_.size()} * 2), limit / 64 + 1);
  bits_.resize(words, 0);
  return true;
}

void AddressCollector::to_list() {
  list_.clear();
  each_address([this](uint64_t x) { list_.add(&x, 1); });
  std::vector<uint64_t>().swap(bits_);
  std::vector<uint64_t>().swap(repeats_);
  listing_ = true;
}

void AddressCollector::clear() {
  list_.release();
  listing_ = false;
  count_ = 0;
  stepped_ = false;
  step_ = GridStep();
  std::vector<uint64_t>().swap(bits_);
  std::vector<uint64_t>().swap(repeats_);
}

bool AddressCollector::finish(AddressGrid* grid, AddressSet* sorted) {
  if (!listing_ && count_ > 0) {
    // The grid's own rule, on the span of the addresses themselves.
    const uint64_t span = step_.quotient(max_ - min_) + 1;
    if (span / 64 <= count_) {
      grid->adopt(base_, step_, step_.quotient(max_ - base_) + 1, std::move(bits_));
      clear();
      return true;
    }
  }
  if (!listing_) to_list();
  *sorted = std::move(list_);
  clear();
  const bool use_grid = sorted->build_grid(grid);
  if (use_grid) {
    sorted->release();
  } else {
    sorted->sort();
  }
  return use_grid;
}

}  // namespace ismgr
