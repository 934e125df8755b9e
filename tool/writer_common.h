// Comment rows that the PAR and XDL descriptions share; they differ only in
// the comment character (';' or '!') that follows the leading tab.
#ifndef ISMGR_TOOL_WRITER_COMMON_H_
#define ISMGR_TOOL_WRITER_COMMON_H_

#include "tool/describe_context.h"

namespace ismgr::tool {

// The warnings at the top: an in-progress sort (always with '!'), else an
// index file that could not be read; and a revision before 4.
void write_warning_comments(DescribeContext& ctx, const FileView& f, Sink& s, char c);

// Magic, revision and patch state, static vectoring, revision-6 defaults,
// change tracking, creation version and the file text allocation line; with
// `invalid_location_warning` also the warning for misplaced file text.
void write_revision_comments(DescribeContext& ctx, const FileView& f, const FileText& text, Sink& s,
                             char c, bool invalid_location_warning);

// Creation, clear, re-index, verify and re-organization dates (revision 4
// and later; the caller checks).
void write_date_comments(DescribeContext& ctx, const FileView& f, Sink& s, char c);

// The preallocated-blocks rows (the caller checks file_flags2 0x100).
void write_prealloc_comments(DescribeContext& ctx, const FileView& f, DescribeIo& io, Sink& s,
                             char c);

// "%u free index blocks, 0x%I64x free list head".
void write_free_block_comment(DescribeContext& ctx, const FileView& f, Sink& s, char c);

// The key's minimum number of entries per index block, as PAR (with the block
// header subtracted, unsigned) or XDL (signed, whole page) compute it.
int64_t min_keys_per_block_par(const FileView& f, const KeyView& k);
int64_t min_keys_per_block_xdl(const FileView& f, const KeyView& k);

// True when the key is the file's sequence autokey (its autoseed is shown).
bool is_sequence_autokey(const FileView& f, int k);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_WRITER_COMMON_H_
