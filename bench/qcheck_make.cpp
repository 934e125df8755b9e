// Companion of qcheck_big.sh: writes a populated ISAM file pair of about
// MEGABYTES of index for the tree check's benchmark.
//
//   qcheck_make DIR/NAME MEGABYTES
//
// Two keys over the same records: a 60-byte unique primary key and a
// 56-byte key with duplicates (3-byte qualifier), both without null rules,
// so that the check compares their record-address sets. 4096-byte blocks,
// leaves filled to 90 %, laid out as a bulk load lays them: leaves first.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/tree_loader.h"

using ismgr::testing::IsamBuilder;
using ismgr::testing::KeySpec;
using ismgr::testing::LoadEntry;

// The builder leaves files alone in a test's child re-run; this program is
// never one (the tests' child support, which links the test framework, is not
// linked here).
namespace ismgr::test {
bool in_child_rerun() {
  return false;
}
}  // namespace ismgr::test

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qcheck_make DIR/NAME MEGABYTES\n");
    return 2;
  }
  const std::string path = argv[1];
  const double megabytes = std::atof(argv[2]);
  // Two leaves' worth of entries per 2 x 4096 bytes, at 90 % of 63 entries.
  const auto n = static_cast<uint32_t>(megabytes * 1048576 / (2 * 4096.0) * 56 * 1.01);
  std::vector<LoadEntry> primary = ismgr::testing::make_entries(n, 60, 4096);
  std::vector<LoadEntry> dups(n);
  for (uint32_t i = 0; i < n; ++i) {
    std::string q = {static_cast<char>(i >> 16), static_cast<char>(i >> 8), static_cast<char>(i)};
    dups[i] = {primary[i / 3 * 3].key.substr(0, 56) + q, primary[(i * 7 + 3) % n].rfa};
  }
  IsamBuilder b;
  b.record_length(200).page_units(16).counts(n, 0, 0, 0);
  ismgr::testing::LoadedFile f =
      ismgr::testing::load_file(b,
                                {{KeySpec::alpha("PRIMARY", 0, 60), std::move(primary)},
                                 {KeySpec::alpha("GROUP", 60, 56, 0x04), std::move(dups)}},
                                {0.9, false});
  const size_t slash = path.rfind('/');
  if (!f.write(path.substr(0, slash), path.substr(slash + 1))) {
    std::perror(path.c_str());
    return 1;
  }
  std::printf("%u records, %zu index bytes, depth %d and %d\n", n, f.index.size(), f.trees[0].depth,
              f.trees[1].depth);
  return 0;
}
