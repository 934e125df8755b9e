#include "tool/writer_common.h"

#include <cinttypes>

namespace ismgr::tool {

using namespace derive;

void write_revision_comments(DescribeContext& ctx, const FileView& f, const FileText& text, Sink& s,
                             char c, bool invalid_location_warning) {
  Output& o = ctx.output;
  const uint32_t page = page_size(f);
  if (patched(f)) {
    o.out(s, "\t%c%x magic, revision %dr%d*, %d byte record overhead\n", c, f.magic,
          patched_from(f), f.revision, f.record_overhead);
    o.out(s, "\t%c(*) Patched from rev %d\n", c, patched_from(f));
    o.out(s, "\t%c  The following will occur on next rebuild of data file or WIPEFILE:\n", c);
    if (f.file_flags2 & 0x02) o.out(s, "\t%c  - Full revision upgrade to rev 6 header\n", c);
    if ((f.file_flags & 0x08) == 0) o.out(s, "\t%c  - Static RFA's added\n", c);
    if (page < 4096) o.out(s, "\t%c  - Page size increased to 4K\n", c);
  } else {
    o.out(s, "\t%c%x magic, revision %d, %d byte record overhead\n", c, f.magic, f.revision,
          f.record_overhead);
  }
  if (f.file_flags & 0x08) {
    o.out(s, "\t%cStatic vectoring %sabled\n", c, (f.file_flags & 0x10) ? "en" : "dis");
  }
  if (unpatched(f)) {
    o.out(s, "\t%cDefault R6 file attributes:\n", c);
    if (f.file_flags & 0x18) o.out(s, "\t%c  Static RFAs enabled (Required)\n", c);
    if (f.page_units == 16) o.out(s, "\t%c  Page size 4K\n", c);
    if (tbyte(f) && addr48(f)) o.out(s, "\t%c  256TB file size enabled\n", c);
    if (change_tracking(f) && tbyte(f)) {
      o.out(s, "\t%c  Tbyte enabled (Required for Change Tracking)\n", c);
    }
    if (change_tracking(f)) {
      if (f.snapshot_count != 0) {
        o.out(s, "\t%cFile changes tracked since %s", c,
              ctx.time_text(f.tracking_times[f.tracking_slot]).c_str());
        if (f.snapshot_count == f.tracking_slot + 1) {
          o.out(s, "\t%c  No active snapshots\n", c);
          o.out(s, "\t%c  Next snapshot will be #%" PRId64 "\n", c,
                static_cast<int64_t>(f.snapshot_count) + f.snapshot_base);
        } else {
          o.out(s, "\t%c  Last snapshot applied: %" PRId64 "\n", c,
                static_cast<int64_t>(f.snapshot_count) + f.snapshot_base - 1);
        }
      } else {
        o.out(s, "\t%cChange Tracking is disabled\n", c);
        o.out(s, "\t%c   File changes are not being tracked!\n", c);
      }
    }
    CreationVersion v = creation_version(f);
    o.out(s, "\t%cCreation version %d.%d.%d%c {Compat Level %d.%d}\n", c, v.major, v.minor, v.build,
          v.letter, f.revision, f.compat_level);
  } else if (patched(f)) {
    CreationVersion v = creation_version(f);
    o.out(s, "\t%cCreation version %d.%d.%d%c\n", c, v.major, v.minor, v.build, v.letter);
  } else {
    o.out(s, "\t%cCreation version %s\n", c, creation_version_text(f).c_str());
  }
  if (text.present) {
    o.out(s, "\t%c%u of %" PRIu64 " byte file text allocation in use, @0x%x\n", c, text.length,
          f.text_allocation, static_cast<uint32_t>(text.start));
    if (invalid_location_warning) {
      uint64_t expected =
          unpatched(f) ? f.text_offset : static_cast<uint64_t>(f.dynamic_offset) + f.dynamic_size;
      if (f.text_location != expected) o.out(s, "\t%c Warning! File text at invalid location\n", c);
    }
  }
}

void write_warning_comments(DescribeContext& ctx, const FileView& f, Sink& s, char c) {
  Output& o = ctx.output;
  if (ctx.in_progress_sort) {
    o.out(s, "!\tWARNING: In-progress sort detected\n");
    o.out(s, "!\t         You MUST re-run fmaint\n");
  } else if (!f.index_open) {
    o.out(s, "%c\tWARNING: Cannot access index file\n", c);
    o.out(s, "%c\t         Parameters reflect initial state\n", c);
    o.out(s, "%c\t         Run fsalvage to restore current state\n", c);
  }
  if (f.revision < 4) {
    o.out(s, "%c\tWARNING: Old level ISAM file Rev %d\n", c, f.revision);
    o.out(s, "%c\t         Patch to higher version using fmaint -p\n", c);
  }
}

void write_date_comments(DescribeContext& ctx, const FileView& f, Sink& s, char c) {
  Output& o = ctx.output;
  o.out(s, "\t%cFile created on %s", c, ctx.time_text(f.created).c_str());
  if (f.cleared != 0) o.out(s, "\t%cLast cleared on %s", c, ctx.time_text(f.cleared).c_str());
  if (f.reindexed != 0)
    o.out(s, "\t%cLast re-indexed on %s", c, ctx.time_text(f.reindexed).c_str());
  if (f.verified != 0) o.out(s, "\t%cLast verified on %s", c, ctx.time_text(f.verified).c_str());
  if (unpatched(f) && f.reorganized != 0) {
    o.out(s, "\t%cLast data re-organization on %s", c, ctx.time_text(f.reorganized).c_str());
  }
}

namespace {

// Total record capacity of the preallocation; false when it cannot be
// computed (an allocation in records too large to convert, or no record
// length to divide by).
bool record_capacity(const FileView& f, int64_t* capacity) {
  if (f.file_flags2 & 0x40) {
    int64_t blocks = prealloc_blocks(f, f.data_start, f.allocation);
    int64_t record = static_cast<int64_t>(f.record_size) + f.record_overhead;
    if (blocks < 0 || record <= 0) return false;
    *capacity = (blocks * 512 - static_cast<int64_t>(f.data_start)) / record;
    return true;
  }
  uint32_t record = static_cast<uint32_t>(f.record_size) + static_cast<uint32_t>(f.record_overhead);
  if (record == 0) return false;
  *capacity = (f.allocation * 512u - f.data_start) / record;
  return true;
}

}  // namespace

void write_prealloc_comments(DescribeContext& ctx, const FileView& f, DescribeIo& io, Sink& s,
                             char c) {
  Output& o = ctx.output;
  const int64_t page = page_size(f);
  o.out(s, "\t%cPreallocated file blocks (unused)\n", c);
  if (f.index_open) {
    uint64_t leof = index_leof_bytes(f);
    if (leof == 0) {
      o.out(s, "\t%c  0 index blocks\n", c);
    } else {
      int64_t size = 0;
      if (!io.index_file_size(&size)) size = static_cast<int64_t>(leof);
      int64_t spare = size - static_cast<int64_t>(leof);
      if (page == 512) {
        o.out(s, "\t%c  %" PRId64 " (512 byte) index blocks {LEOF=0x%x}\n", c, spare / 512,
              static_cast<uint32_t>(leof));
      } else {
        o.out(s, "\t%c  %" PRId64 " (%" PRId64 "K) index blocks {LEOF=0x%x}\n", c,
              page != 0 ? spare / page : 0, page / 1024, static_cast<uint32_t>(leof));
      }
    }
  }
  uint64_t leof = data_leof_bytes(f);
  if (leof == 0) {
    o.out(s, "\t%c  0 data blocks\n", c);
  } else {
    int64_t size = 0;
    if (!io.data_file_size(&size)) size = static_cast<int64_t>(leof);
    int64_t spare = size - static_cast<int64_t>(leof);
    if (spare % 512 != 0) {
      o.out(s, "\t%c  %" PRId64 " (512 byte) data blocks (+%" PRId64 " bytes) {LEOF=0x%x}\n", c,
            spare / 512, spare % 512, static_cast<uint32_t>(leof));
    } else {
      o.out(s, "\t%c  %" PRId64 " (512 byte) data blocks {LEOF=0x%x}\n", c, spare / 512,
            static_cast<uint32_t>(leof));
    }
  }
  int64_t capacity = 0;
  if (record_capacity(f, &capacity)) {
    if (f.file_flags2 & 0x40) {
      o.out(s, "\t%c  Total record capacity: %" PRId64 "\n", c, capacity);
    } else {
      o.out(s, "\t%c  Total record capacity: %u\n", c, static_cast<uint32_t>(capacity));
    }
  } else {
    o.out(s, "\t%c  Total record capacity: unknown\n", c);
  }
}

void write_free_block_comment(DescribeContext& ctx, const FileView& f, Sink& s, char c) {
  ctx.output.out(s, "\t%c%u free index blocks", c, f.free_index_blocks);
  ctx.output.out(s, ", 0x%" PRIx64 " free list head\n", free_list_head_bytes(f));
}

int64_t min_keys_per_block_par(const FileView& f, const KeyView& k) {
  uint32_t page = page_size(f);
  uint32_t h = addr48(f) ? 14 : 12;
  uint32_t e = (k.autokey_flags & 0x10) ? 1 : 0;
  uint32_t per_entry =
      static_cast<uint32_t>(k.key_size) + static_cast<uint32_t>(f.index_entry_width) + e;
  if (per_entry == 0) return 0;
  return ((page - h) / 2) / per_entry;
}

int64_t min_keys_per_block_xdl(const FileView& f, const KeyView& k) {
  int32_t page = static_cast<int32_t>(page_size(f));
  int32_t e = (k.autokey_flags & 0x10) ? 1 : 0;
  int32_t per_entry = static_cast<int32_t>(k.key_size) + f.index_entry_width + e;
  if (per_entry == 0) return 0;
  return (page / 2) / per_entry;
}

bool is_sequence_autokey(const FileView& f, int k) {
  uint64_t summary = f.autokey_summary;
  return summary != 0 && (summary & 0xFF00) != 0 && static_cast<int>(summary & 0xFF) == k;
}

}  // namespace ismgr::tool
