// Record compression throughput on typical business records (blank-padded
// names and addresses, zero-filled numbers, NUL padding), beside its peer,
// LZ4 (LZ4_compress_default, LZ4_decompress_safe, one record at a time), and
// a memcpy of the same bytes, so that each figure can be read as a ratio. LZ4
// is a dependency of this benchmark only (Debian liblz4-dev), never of the
// product. The last line gives the ratios to LZ4 at 1 KiB and 16 KiB.
//
// Every benchmark cycles through a pool of distinct records of one size so
// the branch predictor does not learn a single record.
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ismgr/isam/compress.h"
#include "side_by_side.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPool = 64;

void put_text(Bytes& rec, const std::string& text, size_t width) {
  std::string field = text.substr(0, width);
  field.resize(width, ' ');
  rec.insert(rec.end(), field.begin(), field.end());
}

void put_number(Bytes& rec, uint64_t value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  rec.insert(rec.end(), digits.end() - width, digits.end());
}

// One customer-like record of exactly `length` bytes: a repeated layout of
// name, street, city, postcode, balance, dates, a binary field and NUL padding.
Bytes business_record(size_t length, std::mt19937& rng) {
  static const char* kFirst[] = {"JOHN", "MARY", "ROBERT", "LINDA", "MICHAEL", "BARBARA"};
  static const char* kLast[] = {"SMITH", "JOHNSON", "WILLIAMS", "BROWN", "JONES", "MILLER"};
  static const char* kStreet[] = {"MAIN STREET", "HIGH ROAD", "STATION AVENUE", "MILL LANE"};
  static const char* kCity[] = {"SPRINGFIELD", "RIVERTON", "LAKEWOOD", "FAIRVIEW", "OAKDALE"};
  Bytes rec;
  while (rec.size() < length) {
    put_text(rec, std::string(kFirst[rng() % 6]) + " " + kLast[rng() % 6], 30);
    put_text(rec, std::to_string(1 + rng() % 999) + " " + kStreet[rng() % 4], 40);
    put_text(rec, kCity[rng() % 5], 25);
    put_number(rec, rng() % 99999, 10);
    put_number(rec, rng() % 1000000, 14);
    put_number(rec, 19900101 + rng() % 350000, 8);
    for (int k = 0; k < 4; ++k) rec.push_back(static_cast<uint8_t>(rng()));
    rec.insert(rec.end(), 24, 0x00);
  }
  rec.resize(length);
  return rec;
}

struct Pool {
  std::vector<Bytes> records;
  std::vector<Bytes> stored;
  std::vector<Bytes> lz4;  // the same records compressed by LZ4
  size_t stored_bytes = 0;
  size_t lz4_bytes = 0;
};

const Pool& pool_of(size_t length) {
  static std::vector<std::pair<size_t, Pool>> pools;
  for (const auto& p : pools) {
    if (p.first == length) return p.second;
  }
  std::mt19937 rng(static_cast<uint32_t>(length));
  Pool pool;
  for (size_t i = 0; i < kPool; ++i) {
    Bytes rec = business_record(length, rng);
    Bytes out(length + 1);
    out.resize(ismgr::compress(out.data(), rec.data(), rec.size()));
    pool.stored_bytes += out.size();
    Bytes lz(static_cast<size_t>(LZ4_compressBound(static_cast<int>(length))));
    lz.resize(static_cast<size_t>(LZ4_compress_default(
        reinterpret_cast<const char*>(rec.data()), reinterpret_cast<char*>(lz.data()),
        static_cast<int>(length), static_cast<int>(lz.size()))));
    pool.lz4_bytes += lz.size();
    pool.records.push_back(std::move(rec));
    pool.stored.push_back(std::move(out));
    pool.lz4.push_back(std::move(lz));
  }
  pools.emplace_back(length, std::move(pool));
  return pools.back().second;
}

template <size_t length>
void BM_Memcpy(benchmark::State& state) {
  const Pool& pool = pool_of(length);
  Bytes out(length + 1);
  size_t i = 0;
  for (auto _ : state) {
    const Bytes& rec = pool.records[i++ % kPool];
    std::memcpy(out.data(), rec.data(), length);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

template <size_t length>
void BM_Compress(benchmark::State& state) {
  const Pool& pool = pool_of(length);
  Bytes out(length + 1);
  size_t i = 0;
  for (auto _ : state) {
    const Bytes& rec = pool.records[i++ % kPool];
    benchmark::DoNotOptimize(ismgr::compress(out.data(), rec.data(), length));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
  state.counters["stored_pct"] =
      100.0 * static_cast<double>(pool.stored_bytes) / static_cast<double>(kPool * length);
}

template <size_t length>
void BM_Expand(benchmark::State& state) {
  const Pool& pool = pool_of(length);
  Bytes out(length);
  size_t i = 0;
  for (auto _ : state) {
    const Bytes& in = pool.stored[i++ % kPool];
    benchmark::DoNotOptimize(ismgr::expand(out.data(), in.data(), in.size(), length, false));
    benchmark::ClobberMemory();
  }
  // Throughput in record bytes produced.
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

template <size_t length>
void BM_Lz4Compress(benchmark::State& state) {
  const Pool& pool = pool_of(length);
  Bytes out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(length))));
  size_t i = 0;
  for (auto _ : state) {
    const Bytes& rec = pool.records[i++ % kPool];
    benchmark::DoNotOptimize(LZ4_compress_default(
        reinterpret_cast<const char*>(rec.data()), reinterpret_cast<char*>(out.data()),
        static_cast<int>(length), static_cast<int>(out.size())));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
  state.counters["stored_pct"] =
      100.0 * static_cast<double>(pool.lz4_bytes) / static_cast<double>(kPool * length);
}

template <size_t length>
void BM_Lz4Decompress(benchmark::State& state) {
  const Pool& pool = pool_of(length);
  Bytes out(length);
  size_t i = 0;
  for (auto _ : state) {
    const Bytes& in = pool.lz4[i++ % kPool];
    benchmark::DoNotOptimize(LZ4_decompress_safe(
        reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
        static_cast<int>(in.size()), static_cast<int>(length)));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

}  // namespace

int main(int argc, char** argv) {
  using ismgr::bench::Rates;
  return ismgr::bench::run_side_by_side(
      argc, argv,
      {{"BM_Compress/100", BM_Compress<100>},
       {"BM_Expand/100", BM_Expand<100>},
       {"BM_Memcpy/1024", BM_Memcpy<1024>},
       {"BM_Compress/1024", BM_Compress<1024>},
       {"BM_Lz4Compress/1024", BM_Lz4Compress<1024>},
       {"BM_Expand/1024", BM_Expand<1024>},
       {"BM_Lz4Decompress/1024", BM_Lz4Decompress<1024>},
       {"BM_Memcpy/16384", BM_Memcpy<16384>},
       {"BM_Compress/16384", BM_Compress<16384>},
       {"BM_Lz4Compress/16384", BM_Lz4Compress<16384>},
       {"BM_Expand/16384", BM_Expand<16384>},
       {"BM_Lz4Decompress/16384", BM_Lz4Decompress<16384>}},
      [](const Rates& rates) {
        auto ratio = [&](const char* ours, const char* peer) {
          auto a = rates.find(ours), b = rates.find(peer);
          return a != rates.end() && b != rates.end() && b->second > 0 ? a->second / b->second
                                                                       : 0.0;
        };
        std::printf(
            "compress/LZ4_compress_default 1K %.2f 16K %.2f (bar 2.0), "
            "expand/LZ4_decompress_safe 1K %.2f 16K %.2f (bar 1.0)\n",
            ratio("BM_Compress/1024", "BM_Lz4Compress/1024"),
            ratio("BM_Compress/16384", "BM_Lz4Compress/16384"),
            ratio("BM_Expand/1024", "BM_Lz4Decompress/1024"),
            ratio("BM_Expand/16384", "BM_Lz4Decompress/16384"));
      },
      3);
}
