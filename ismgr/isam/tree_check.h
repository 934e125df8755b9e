// The tree check: a read-only walk over every key's index tree that reports
// what is wrong with it and how its space is used.
//
// Each key's tree is walked level by level from its root (dynamic header):
// the blocks of one level are read in address order, adjacent ones in one
// large read, so that a file laid out by a bulk load is read nearly
// sequentially and every block exactly once. A pointer is checked (inside the
// index file, on a block boundary, not 0, not yet reached) before its block
// is read; the leaf chain is compared with the leaves the tree reaches, never
// followed. Work is bounded by the number of blocks in the file.
//
// Problems carry a fixed kind word:
//   bounds  a block address outside the file, off a block boundary or 0; a
//           count, used length or entry that runs outside its block
//   depth   a leaf above the key's depth, a separator at the leaf level,
//           a stored depth outside 1..16
//   order   entries not ascending within a block, or outside the range the
//           parent's separators give the block
//   chain   the leaf chain does not link exactly the tree's leaves in order
//   shared  a block reached twice (cycle, two keys, the free-list head)
//   count   entry counts that disagree with the header or the primary key;
//           duplicates whose qualifiers repeat
//   rfa     a record address beyond the data file; record addresses of a key
//           without null rules that differ from the primary key's (as sets)
#ifndef ISMGR_ISAM_TREE_CHECK_H_
#define ISMGR_ISAM_TREE_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ismgr/isam/index_block.h"

namespace ismgr {

struct IsamFileControl;

enum class TreeProblemKind { kBounds, kDepth, kOrder, kChain, kShared, kCount, kRfa };
// The kind word: "bounds", "depth", "order", "chain", "shared", "count", "rfa".
const char* tree_problem_word(TreeProblemKind kind);

struct TreeProblem {
  size_t key = 0;
  uint64_t block = 0;  // block address as the pointers count it (0: none)
  TreeProblemKind kind = TreeProblemKind::kBounds;
  std::string text;
};

// One level of a key's tree (level 0 is the root).
struct TreeLevelStats {
  uint64_t blocks = 0;
  uint64_t entries = 0;       // separators, or leaf entries
  uint64_t used_bytes = 0;    // sum of the blocks' used parts
  uint32_t min_used = 0;      // smallest used part of a block
  uint64_t prefix_bytes = 0;  // separator prefix bytes (without length bytes)
};

struct KeyTreeStats {
  int depth = 0;  // as stored in the dynamic header
  std::vector<TreeLevelStats> levels;
  uint64_t leaf_entries = 0;
};

struct TreeFileStats {
  uint32_t block_size = 0;
  uint64_t file_size = 0;    // index file bytes
  uint64_t blocks_base = 0;  // offset of the first index block
  uint64_t file_blocks = 0;  // whole blocks between base and end of file
  uint64_t tree_blocks = 0;  // blocks reached by some tree
  uint64_t unaccounted = 0;  // neither tree block nor the free-list head
  double in_use = 0;         // (base + tree blocks x block size) / file size
};

struct TreeCheckReport {
  std::vector<TreeProblem> problems;  // at most kMaxListedProblems per key
  uint64_t problem_count = 0;         // all problems found, listed or not
  std::vector<KeyTreeStats> keys;
  TreeFileStats file;
};

// Problems listed per key; further ones are only counted.
constexpr size_t kMaxListedProblems = 1000;

// One key as the check sees it.
struct TreeKeyInput {
  IndexGeometry geometry;
  uint64_t root = 0;  // block address (bytes, or 256-byte units in tbyte files)
  int depth = 1;
  bool null_rules = false;  // key_flags 0x70: may hold fewer records
};

// Everything the check reads, independent of an open file: tests and the
// fuzzer give it memory. `read` fills `length` bytes from index file offset
// `offset` (every byte of it inside file_size) and returns false on an I/O
// failure, which the check reports as status 22.
struct TreeCheckInput {
  std::function<bool(uint64_t offset, uint8_t* buffer, size_t length)> read;
  // When set, used instead of `read`: points at `length` bytes from `offset`,
  // valid until its next call; null on an I/O failure (status 22).
  std::function<const uint8_t*(uint64_t offset, size_t length)> view;
  uint64_t index_size = 0;
  uint64_t data_size = 0;    // record addresses must lie below it
  uint64_t blocks_base = 0;  // index blocks start here (data header region)
  uint64_t record_count = 0;
  uint64_t free_list_head = 0;  // block address; 0: empty
  std::vector<TreeKeyInput> keys;
  // Called for a key whose walk found problems before they are kept: true
  // walks that key once more (after fresh roots were loaded into `keys`).
  std::function<bool(size_t key, TreeCheckInput* input)> recheck;
  // Largest single read; adjacent blocks are read together up to it. A
  // value below the block size reads every block on its own, into a buffer
  // of exactly one block (the fuzzer's guard against reads past a block).
  uint64_t max_read = uint64_t{1} << 17;
  // Called with the bytes read so far whenever another hundredth of the
  // index file has been read.
  std::function<void(uint64_t bytes_read)> progress;
};

// Walks every key's tree. Unwinds with status 22 when a read fails.
TreeCheckReport check_index_trees(TreeCheckInput input);

struct TreeCheckOptions {
  // Hold the file lock while walking (no writer changes the trees); without
  // it a key with problems is walked once more after the dynamic header is
  // read again, since another process may have been splitting blocks.
  bool hold_lock = false;
  std::function<void(uint64_t bytes_read, uint64_t file_size)> progress;
};

// The check over an open file (opened for input). Unwinds with status 22
// when the index file cannot be read, 3 when the lock cannot be taken.
TreeCheckReport check_file_trees(IsamFileControl* fc, const TreeCheckOptions& options);

}  // namespace ismgr

#endif  // ISMGR_ISAM_TREE_CHECK_H_
