#include "tool/xdl_writer.h"

#include <cinttypes>

#include "ismgr/isam/null_value.h"
#include "tool/null_value.h"
#include "tool/writer_common.h"

namespace ismgr::tool {

using namespace derive;

namespace {

// The page size a creation chooses for this file's description when it gives
// none: 4096 bytes for revision 6; for earlier revisions 1024, or 2048 when a
// key of the description (its duplicate qualifier not counted) is 60 bytes or
// longer. A description leaves PAGE_SIZE out only when it is that size, so
// that the file made from it gets the same page size.
uint32_t creation_page_size(const FileView& f, bool r6) {
  if (r6) return 4096;
  const unsigned qualifier = tbyte(f) ? 4 : 3;
  for (const KeyView& k : f.keys) {
    const unsigned size = (k.key_flags & 0x04) ? k.key_size - qualifier : k.key_size;
    if (!(k.autokey_flags & 0x10) && k.key_size >= qualifier && size >= 60) return 2048;
  }
  return 1024;
}

}  // namespace

void write_xdl_description(DescribeContext& ctx, const FileView& f, DescribeIo& io,
                           const std::string& name, Sink& s) {
  Output& o = ctx.output;
  o.set_comment_char('!');
  const bool r6 = unpatched(f);
  const uint32_t page = page_size(f);

  // Warnings and banner (the banner is a comment: bare output drops it).
  write_warning_comments(ctx, f, s, '!');
  o.out(s, "!\tCorveth ISAM XDL File created %s", ctx.time_text(ctx.now()).c_str());

  // FILE section.
  FileText text = read_file_text(f, io);
  o.out(s, "FILE\n");
  o.out(s, "\tNAME");
  o.out(s, "\t\t\"%s\"\n", name.c_str());
  o.out(s, "\tADDRESSING");
  o.out(s, tbyte(f) ? (r6 ? "\t48\n" : "\t40\n") : "\t32\n");
  if (page != creation_page_size(f, r6)) o.out(s, "\tPAGE_SIZE\t%u\n", page);
  o.out(s, "\tNETWORK_ENCRYPT\t%s\n", (f.file_flags & 0x80) ? "yes" : "no");
  if (f.revision >= 6) {
    if (r6) o.out(s, "\tTRACK_CHANGES\t%s\n", change_tracking(f) ? "yes" : "no");
    if (r6 && f.seed != 0) o.out(s, "\tSEED\t\t%" PRIu64 "\n", f.seed);
    if (f.file_flags2 & 0x100) {
      o.out(s, (f.file_flags2 & 0x40) ? "\tRECORD_ALLOCATION %u\n" : "\tALLOCATION\t%u\n",
            f.allocation);
    }
    if (text.present) {
      if (text.alloc_word & kAllocInKb) {
        o.out(s, "\tTEXT_ALLOCATION\t%uk\n", alloc_kb(text.alloc_word));
      }
      // An unreadable text is shown as no text at all.
      uint32_t n = text.readable ? text.length : 0;
      if (n >= 1 && n <= 50) {
        o.out(s, "\tTEXT\t\t\"%s\"\n", text.text.c_str());
      } else if (n > 50) {
        for (size_t i = 0; i < n; i += 50) o.out(s, "\tTEXT\t\t\"%.50s\"\n", text.text.c_str() + i);
      }
    }
  }
  int keys = f.key_count;
  if (change_tracking(f) && !ctx.options.change_tracking_key) --keys;
  o.out(s, "\tKEYS\t\t%d\n", keys);

  // RECORD section.
  o.out(s, "\nRECORD\n");
  o.out(s, "\tSIZE\t\t%u\n", f.record_size);
  o.out(s, "\tFORMAT");
  if ((f.file_flags & 0x03) == 0x03) {
    o.out(s, "\t\tmultiple\n");
  } else if (f.file_flags & 0x02) {
    o.out(s, "\t\tvariable\n");
  } else {
    o.out(s, "\t\tfixed\n");
  }
  o.out(s, "\tCOMPRESS_DATA");
  o.out(s, (f.file_flags & 0x04) ? "\tyes\n" : "\tno\n");
  if (!r6) {
    o.out(s, "\tSTATIC_RFA");
    o.out(s, (f.file_flags & 0x18) ? "\tyes\n" : "\tno\n");
  }
  if (f.file_flags2 & 0x400) {
    o.out(s, "\tSTORED_GRFA");
    o.out(s, "\tyes\n");
  }
  for (const PortIntView& p : f.port_ints) {
    if (p.kind == 4) o.out(s, "\tPORT_INT\t%d:%d\n", p.position, static_cast<int8_t>(p.length));
  }
  if (!ctx.options.bare) o.out(s, "\n");

  // Comments.
  write_revision_comments(ctx, f, text, s, '!', false);
  if (f.revision >= 4) write_date_comments(ctx, f, s, '!');
  o.out(s, "\t!%u byte longest key\n", f.max_key_size);
  if (f.unusable_space != 0) {
    o.out(s, "\t!%u bytes unusable RFA space", f.unusable_space);
    if (f.file_flags & 0x10) {
      o.out(s, "! %u vectors\n", f.vector_count);
    } else {
      o.out(s, "\n");
    }
  }
  if (f.file_flags2 & 0x100) write_prealloc_comments(ctx, f, io, s, '!');
  write_free_block_comment(ctx, f, s, '!');
  o.out(s, "\t!%u records", f.record_count);
  o.out(s, ", %u free\n", f.free_record_count);

  write_xdl_keys(ctx, f, s);
}

namespace {

void write_xdl_null(DescribeContext& ctx, const FileView& f, const KeyView& key, Sink& s) {
  Output& o = ctx.output;
  std::vector<uint8_t> value = null_value_bytes(f, key);
  o.out(s, "\tNULL");
  if (key.key_flags & 0x10) {
    o.out(s, "\t\treplicate\n");
    unsigned b = replicating_null_byte(value.data(), value.size());
    o.out(s, "\tVALUE_NULL\t%u\n", has_text_segment(key) ? b : 0u);
  } else if (key.key_flags & 0x20) {
    o.out(s, "\t\tnoreplicate\n");
    std::string text;
    switch (show_non_replicating_null(key.seg_type, key.seg_length, value.data(), value.size(),
                                      &text)) {
      case NullValueKind::kText:
        o.out(s, "\tVALUE_NULL");
        o.out(s, "\t'%s'\n", text.c_str());
        break;
      case NullValueKind::kNumber:
        o.out(s, "\tVALUE_NULL");
        o.out(s, "\t%s\n", text.c_str());
        break;
      case NullValueKind::kNone:
      case NullValueKind::kBadLength:
        // No printable form: leave the value out (a comment says so) so that
        // the description stays readable.
        o.out(s, "\t!VALUE_NULL not shown: no printable form\n");
        break;
    }
  } else {
    o.out(s, "\t\tshort\n");
  }
}

const char* autokey_type(uint8_t autokey_flags) {
  switch (autokey_flags & 0x07) {
    case 1:
      return "timestamp";
    case 2:
      return "sequence";
    case 4:
      return "GUID";
    default:
      return "";
  }
}

const char* segment_type(uint8_t seg_type) {
  switch (seg_type & 0x1F) {
    case 1:
      return "alpha";
    case 2:
      return "decimal";
    case 4:
      return "integer";
    case 8:
      return "unsigned";
    case 16:
      return "nocase";
    default:
      return "";
  }
}

}  // namespace

void write_xdl_keys(DescribeContext& ctx, const FileView& f, Sink& s) {
  Output& o = ctx.output;
  const int count = static_cast<int>(std::min<size_t>(f.key_count, f.keys.size()));
  for (int k = 0; k < count; ++k) {
    if (change_tracking(f) && k == f.key_count - 1 && !ctx.options.change_tracking_key) break;
    const KeyView& key = f.keys[k];
    const bool autokey = (key.autokey_flags & 0x07) != 0;
    int n = 1;
    while (n < 8 && key.seg_length[n] != 0) ++n;

    o.out(s, "\nKEY %d\n", k);
    const char* ak = autokey ? " (autokey)" : "";
    if (ctx.options.temp_key) {
      o.out(s, "\t!Temporary key #%d\n", k + ctx.main_file.key_count);
    } else if (k > 0) {
      o.out(s, "\t!Alternate key #%d%s\n", k, ak);
    } else {
      o.out(s, "\t!Primary key%s\n", ak);
    }
    if (is_sequence_autokey(f, k)) {
      if (f.autoseed < 0) {
        o.out(s, "\t!Autoseed:\t-- FULL --\n");
      } else {
        o.out(s, "\t!Autoseed:\t%" PRIu64 "\n", static_cast<uint64_t>(f.autoseed));
      }
    }

    o.out(s, "\tSTART");
    for (int j = 0; j < n; ++j) o.out(s, "%s%u", j ? ":" : "\t\t", key.seg_start[j] + 1u);
    o.out(s, "\n");
    o.out(s, "\tLENGTH");
    for (int j = 0; j < n; ++j) o.out(s, "%s%u", j ? ":" : "\t\t", key.seg_length[j]);
    o.out(s, "\n");
    o.out(s, "\tTYPE");
    for (int j = 0; j < n; ++j) {
      o.out(s, "%s%s", j ? ":" : "\t\t",
            autokey ? autokey_type(key.autokey_flags) : segment_type(key.seg_type[j]));
    }
    o.out(s, "\n");
    o.out(s, "\tORDER");
    for (int j = 0; j < n; ++j) {
      o.out(s, "%s%s", j ? ":" : "\t\t", (key.seg_type[j] & 0x20) ? "ascending" : "descending");
    }
    o.out(s, "\n");

    std::string name = key_name(key);
    if (!name.empty()) {
      o.out(s, "\tNAME");
      o.out(s, "\t\t\"%s\"\n", name.c_str());
    }
    o.out(s, "\tDUPLICATES");
    if (key.key_flags & 0x04) {
      o.out(s, "\tyes\n");
      o.out(s, "\tDUPLICATE_ORDER");
      o.out(s, (key.key_flags & 0x02) ? "\tfifo\n" : "\tlifo\n");
    } else {
      o.out(s, "\tno\n");
    }
    o.out(s, "\tMODIFIABLE");
    o.out(s, (key.key_flags & 0x08) ? "\tyes\n" : "\tno\n");
    if (key.key_flags & 0x70) write_xdl_null(ctx, f, key, s);
    if (key.density != 0) o.out(s, "\tDENSITY\t\t%d\n", key.density);
    if (!ctx.options.bare) o.out(s, "\n");
    o.out(s, "\t!Root 0x%" PRIx64, root_address(f, key));
    o.out(s, ", index depth %d\n", key.depth);
    if (key.key_flags & 0x04) o.out(s, "\t!Qualifier offset %d\n", key.qualifier_offset);
    o.out(s, "\t!Minimum keys per block %" PRId64 "\n", min_keys_per_block_xdl(f, key));
  }
}

}  // namespace ismgr::tool
