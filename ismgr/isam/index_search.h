// The keyed descent over an open ISAM file: the index geometry of a key, its
// blocks read through the file's block cache (or straight from the index
// file when it has none), and the consistency retries that release and
// retake the file lock between attempts.
#ifndef ISMGR_ISAM_INDEX_SEARCH_H_
#define ISMGR_ISAM_INDEX_SEARCH_H_

#include <cstddef>
#include <cstdint>

#include "ismgr/isam/file_control.h"
#include "ismgr/isam/index_block.h"

namespace ismgr {

// The shape of key `key`'s index blocks.
IndexGeometry index_geometry(const IsamFileControl& fc, size_t key);

// The root block address of key `key` as the index pointers count it (bytes,
// or 256-byte units in tbyte files).
uint64_t index_root(const IsamFileControl& fc, size_t key);

// Reads index blocks of the file into its index-block buffer; a short read
// ends the descent with status 22.
BlockSource index_block_source(IsamFileControl* fc);

// Between retries: the file lock, when held, is released and taken again;
// then the runtime's timed wait of 1000 ms. The final message goes to the
// detail hook with the file's runtime context.
RetryPolicy index_retry_policy(IsamFileControl* fc);

// Finds the leaf position of an encoded search key (`length` bytes, at most
// key_size) in key `key`'s tree; `rfa`, when given, picks one record among
// duplicates. Unwinds with status 2 for a key out of range, 6 for an index
// that stays inconsistent, 22 for a block that cannot be read.
DescentResult find_in_index(IsamFileControl* fc, size_t key, const uint8_t* search, uint32_t length,
                            const uint64_t* rfa = nullptr);

}  // namespace ismgr

#endif  // ISMGR_ISAM_INDEX_SEARCH_H_
