#include "tool/par_writer.h"

#include <cinttypes>

#include "ismgr/isam/null_value.h"
#include "tool/null_value.h"
#include "tool/writer_common.h"

namespace ismgr::tool {

using namespace derive;

namespace {

// Longest file line that still takes the file text in quotes.
constexpr int64_t kMaxParLine = 995;

// The file line: name, options, file text. Returns -1 when the text had to
// be written as TEXT comment lines instead.
int write_file_line(DescribeContext& ctx, const FileView& f, const FileText& text,
                    const std::string& name, Sink& s) {
  Output& o = ctx.output;
  const uint32_t page = page_size(f);
  const bool r6 = unpatched(f);
  int result = 0;
  int64_t line = o.text(s, name.c_str());
  if ((f.file_flags & 0x03) == 0x02) line += o.out(s, ", variable");
  if (f.file_flags & 0x04) line += o.out(s, ", compress");
  if (f.file_flags & 0x01) line += o.out(s, ", multiple");
  if (!r6 && (f.file_flags & 0x18)) line += o.out(s, ", static_rfa");
  if (f.file_flags2 & 0x400) line += o.out(s, ", sgrfa");
  if (f.file_flags2 & 0x200) {
    line += o.out(s, ", track_changes");
  } else if (tbyte(f)) {
    line += o.out(s, ", tbyte");
  }
  if (f.file_flags & 0x80) line += o.out(s, ", network_encrypt");
  if ((r6 && page != 4096) || (!r6 && page != 1024)) line += o.out(s, ", page=%u", page);
  if (r6 && f.seed != 0) line += o.out(s, ", seed=%" PRIu64, f.seed);
  if (f.file_flags2 & 0x100) {
    line += o.out(s, (f.file_flags2 & 0x40) ? ", ralloc=%u" : ", alloc=%u", f.allocation);
  }
  for (const PortIntView& p : f.port_ints) {
    if (p.kind == 4) line += o.out(s, ", i=%d:%d", p.position, static_cast<int8_t>(p.length));
  }
  if (text.present) {
    // An unreadable text is shown as no text at all.
    uint32_t n = text.readable ? text.length : 0;
    bool in_kb = (text.alloc_word & kAllocInKb) != 0;
    if (n != 0 || in_kb) {
      line += o.out(s, ", text=");
      if (in_kb) line += o.out(s, "%uk", alloc_kb(text.alloc_word));
    }
    if (n != 0) {
      if (line + n <= kMaxParLine) {
        if (in_kb) o.out(s, ":");
        o.out(s, "\"%s\"", text.text.c_str());
      } else {
        o.out(s, "\n\t;WARNING: File Text exceeds parameter file line maximum\n");
        o.out(s, "\t;     Creation-time initialization not possible\n");
        o.out(s, "\t;     Generate and use an XDL file instead (qdesc -x)\n");
        o.out(s, "\t;     or manually write the following quoted text\n");
        o.out(s, "\t;     lines using INVOKE PUTNOTE.\n");
        result = -1;
        for (size_t i = 0; i < n; i += 50) {
          if (i != 0) o.out(s, "\n");
          o.out(s, "\t;TEXT\t\"%.50s\"", text.text.c_str() + i);
        }
      }
    }
  }
  o.out(s, "\n");
  return result;
}

}  // namespace

int write_par_description(DescribeContext& ctx, const FileView& f, DescribeIo& io,
                          const std::string& name, Sink& s) {
  Output& o = ctx.output;
  o.set_comment_char(';');
  const bool temp = ctx.options.temp_key;

  // Warnings and banner.
  write_warning_comments(ctx, f, s, ';');
  if (!ctx.options.bare) {
    o.out(s, ";\tCorveth ISAM PAR File created %s", ctx.time_text(ctx.now()).c_str());
  }

  FileText text = read_file_text(f, io);
  int result = write_file_line(ctx, f, text, name, s);

  // Values and file comments.
  int keys = f.key_count - (change_tracking(f) ? 1 : 0);
  o.out(s, "%u\t;Record size\n", f.record_size);
  o.out(s, "%d\t;Number of keys\n", keys);
  write_revision_comments(ctx, f, text, s, ';', true);

  // Dates.
  if (f.revision >= 4) {
    if (temp) {
      const TempKeyCompare& m = ctx.main_file;
      o.out(s, "\t;Tempkey index created on %s", ctx.time_text(f.free_list_head).c_str());
      o.out(s, "\t;Update revision count %u", f.update_count);
      if (f.created == m.created && f.cleared == m.cleared && f.reindexed == m.reindexed) {
        int64_t behind = static_cast<int64_t>(m.update_count) - f.update_count;
        if (behind > 0) {
          o.out(s, " (+%" PRId64 " out of sync)\n", behind);
        } else if (behind < 0) {
          o.out(s, " (+%" PRId64 " out of sync)\n", behind + 65535);
        } else {
          o.out(s, "\n");
        }
      } else {
        o.out(s, "\n\t; (This index is out of sync with data)\n");
      }
    } else {
      o.out(s, "\t;Update revision count %u\n", f.update_count);
    }
    write_date_comments(ctx, f, s, ';');
  }

  // Space, blocks and counts.
  o.out(s, "\t;%u byte longest key\n", f.max_key_size);
  if (f.unusable_space != 0) {
    o.out(s,
          (f.file_flags & 0x08) ? "\t;%u bytes unusable RFA space" : "\t;%u bytes unusable space",
          f.unusable_space);
    if (f.file_flags & 0x10) {
      if (f.vector_count == 0xFFFF) {
        o.out(s, "; exceeds %u vectors\n", 65535u);
      } else {
        o.out(s, "; %u vectors\n", f.vector_count);
      }
    } else {
      o.out(s, "\n");
    }
  }
  if (!temp) {
    if (f.file_flags2 & 0x100) write_prealloc_comments(ctx, f, io, s, ';');
    write_free_block_comment(ctx, f, s, ';');
    if (f.revision >= 4 && (f.dynamic_flags & 0x01)) {
      o.out(s, "\t;  WARNING: Index freelist overflow - Re-indexing recommended\n");
    }
  }
  o.out(s, "\t;%u records", f.record_count);
  if (temp) {
    o.out(s, "\n");
  } else {
    o.out(s, ", %u free\n", f.free_record_count);
  }

  write_par_keys(ctx, f, s);
  return result;
}

void write_par_type(DescribeContext& ctx, const KeyView& key, int segment, Sink& s, bool indent) {
  Output& o = ctx.output;
  const char* in = indent ? "  " : "";
  if (key.autokey_flags & 0x07) {
    if (key.autokey_flags & 0x01) {
      o.out(s, "T\t;%sTimestamp autokey type\n", in);
    } else if (key.autokey_flags & 0x02) {
      o.out(s, "S\t;%sSequence autokey type\n", in);
    } else {
      o.out(s, "G\t;%sGUID autokey type\n", in);
    }
    return;
  }
  int code = segment >= 0 && segment < 8 ? key.seg_type[segment] & 0x1F : 0;
  switch (code) {
    case 1:
      o.out(s, "A\t;%sAlpha type\n", in);
      break;
    case 2:
      o.out(s, "D\t;%sDecimal type\n", in);
      break;
    case 4:
      o.out(s, "I\t;%sInteger type\n", in);
      break;
    case 8:
      o.out(s, "U\t;%sUnsigned integer type\n", in);
      break;
    case 16:
      o.out(s, "N\t;%sCase insensitive type\n", in);
      break;
    default:
      o.out(s, " \t;%sWARNING! UNKNOWN TYPE\n", in);
      break;
  }
}

namespace {

void write_par_null(DescribeContext& ctx, const FileView& f, const KeyView& key, Sink& s) {
  Output& o = ctx.output;
  std::vector<uint8_t> value = null_value_bytes(f, key);
  if (key.key_flags & 0x10) {
    o.out(s, "R\t;Replicating null key\n");
    if (has_text_segment(key)) {
      unsigned b = replicating_null_byte(value.data(), value.size());
      if (b >= 32 && b <= 126) {
        o.out(s, "%u\t;Null value '%c'\n", b, static_cast<char>(b));
      } else {
        o.out(s, "%u\t;Null value\n", b);
      }
    } else {
      o.out(s, "0\t;Default numeric null value\n");
    }
  } else if (key.key_flags & 0x20) {
    o.out(s, "N\t;Non-replicating null key\n");
    std::string text;
    switch (show_non_replicating_null(key.seg_type, key.seg_length, value.data(), value.size(),
                                      &text)) {
      case NullValueKind::kText:
        o.out(s, "'%s'\t;Null value string\n", text.c_str());
        break;
      case NullValueKind::kNumber:
        o.out(s, "%s\t;Null value\n", text.c_str());
        break;
      case NullValueKind::kNone:
      case NullValueKind::kBadLength:
        break;
    }
  } else {
    o.out(s, "S\t;Partial null key\n");
  }
}

}  // namespace

void write_par_keys(DescribeContext& ctx, const FileView& f, Sink& s) {
  Output& o = ctx.output;
  const bool tb = tbyte(f);
  const int count = static_cast<int>(std::min<size_t>(f.key_count, f.keys.size()));
  for (int k = 0; k < count; ++k) {
    const KeyView& key = f.keys[k];
    const bool ct_key = (key.autokey_flags & 0x10) != 0;
    if (ct_key && !ctx.options.change_tracking_key) break;

    const bool segmented = key.seg_length[1] != 0;
    int n = 1;
    if (segmented) {
      n = 8;
      for (int j = 2; j < 8; ++j) {
        if (key.seg_length[j] == 0) {
          n = j;
          break;
        }
      }
    }
    bool alpha = (key.autokey_flags & 0x07) == 0;
    for (int j = 0; j < n; ++j) alpha = alpha && (key.seg_type[j] & 0x01) != 0;
    bool mixed = false;
    for (int j = 1; segmented && j < n; ++j) {
      mixed = mixed || ((key.seg_type[j] ^ key.seg_type[0]) & 0x20) != 0;
    }
    int printed_size = key.key_size;
    if (key.key_flags & 0x04) printed_size -= tb ? 4 : 3;

    // Key line.
    o.text(s, key_name(key).c_str());
    if (key.key_flags & 0x08) o.out(s, "/modify");
    if (key.key_flags & 0x70) o.out(s, "/null");
    if (segmented) o.out(s, "/segmented");
    if (key.density != 0) o.out(s, "/density");
    if (mixed) o.out(s, "/order");
    if (!alpha) o.out(s, "/type");
    o.out(s, "\n");

    // Title.
    const char* a = alpha ? " alpha" : "";
    if (ctx.options.temp_key) {
      o.out(s, "\t;Temporary%s key #%d\n", a, k + ctx.main_file.key_count);
    } else if (k > 0) {
      o.out(s, "\t;Alternate%s key #%d\n", a, k);
    } else {
      o.out(s, "\t;Primary%s key\n", a);
    }

    if (key.key_flags & 0x70) write_par_null(ctx, f, key, s);

    if (segmented) {
      o.out(s, "\t;%d key size\n", printed_size);
      o.out(s, "%d\t;Number of segments\n", n);
      for (int j = 0; j < n; ++j) {
        o.out(s, "\t;Segment #%d\n", j + 1);
        if (!alpha) write_par_type(ctx, key, j, s, true);
        o.out(s, "%u\t;  Segment length\n", key.seg_length[j]);
        o.out(s, "%u\t;  Start position\n", key.seg_start[j] + 1u);
        if (mixed) o.out(s, "%c\t;  Ascending/Descending\n", (key.seg_type[j] & 0x20) ? 'A' : 'D');
      }
    } else {
      if (!alpha) write_par_type(ctx, key, 0, s, false);
      if (is_sequence_autokey(f, k)) {
        if (f.autoseed < 0) {
          o.out(s, "\t;Autoseed -- FULL --\n");
        } else {
          o.out(s, "\t;Autoseed %" PRIu64 "\n", static_cast<uint64_t>(f.autoseed));
        }
      }
      o.out(s, "%d\t;Key size\n", printed_size);
      if (ct_key) {
        o.out(s, "-1\t;Start position\n");
      } else {
        o.out(s, "%u\t;Start position\n", key.seg_start[0] + 1u);
      }
    }

    if (key.key_flags & 0x04) {
      o.out(s, "Y\t;Duplicates allowed\n%c\t;Insert at front\n",
            (key.key_flags & 0x02) ? 'N' : 'Y');
    } else {
      o.out(s, "N\t;Duplicates allowed\n");
    }
    if (!mixed) o.out(s, "%c\t;Ascending/descending\n", (key.seg_type[0] & 0x20) ? 'A' : 'D');
    if (key.density != 0) o.out(s, "%d\t;Index density percentage\n", key.density);
    o.out(s, "\t;Root 0x%" PRIx64, root_address(f, key));
    o.out(s, ", index depth %d\n", key.depth);
    if (key.key_flags & 0x04) o.out(s, "\t;Qualifier offset %d\n", key.qualifier_offset);
    o.out(s, "\t;Minimum keys per block %" PRId64 "\n", min_keys_per_block_par(f, key));
  }
}

}  // namespace ismgr::tool
