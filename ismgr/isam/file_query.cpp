#include "ismgr/isam/file_query.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "ismgr/fileio/file_io.h"
#include "ismgr/isam/null_value.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/info_keywords.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

constexpr int kStatusNoNullValue = 80;   // "Null value doesn't exist for key"
constexpr int kDetailQueryValue = 1191;  // the number that was out of range
constexpr int kDetailQueryLimit = 1192;  // the highest number allowed
constexpr int kDetailNoNumberResult = 1226;
constexpr int kDetailNoTextResult = 1227;

// A failure of the query: the status, after its details went to the hook.
struct QueryFailure {
  int status;
};

bool has_tracking_key(const IsamFileControl& fc) {
  return (fc.header.file_flags2 & kFlags2ChangeTracking) != 0;
}

int key_size_without_qualifier(const IsamFileControl& fc, const KeyDescriptor& k) {
  int size = k.key_size;
  if (k.key_flags & kKeyDuplicates) size -= qualifier_width(fc.header);
  return size;
}

std::string date_text(uint32_t time, bool never_is_nodate) {
  if (time == 0 && never_is_nodate) return "NODATE";
  std::string text = platform::ctime_text(time);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// The letter of an autokey: T, S or G; null for any other combination.
const char* autokey_letter(uint8_t autokey_flags) {
  switch (autokey_flags & (kAutoTimestamp | kAutoSequence | kAutoGuid)) {
    case kAutoTimestamp:
      return "T";
    case kAutoSequence:
      return "S";
    case kAutoGuid:
      return "G";
    default:
      return nullptr;
  }
}

const char* type_letter(uint8_t seg_type) {
  switch (seg_type & kSegTypeMask) {
    case kSegAlpha:
      return "A";
    case kSegDecimal:
      return "D";
    case kSegInteger:
      return "I";
    case kSegUnsigned:
      return "U";
    case kSegNoCase:
      return "N";
    default:
      return nullptr;
  }
}

bool is_autokey(const KeyDescriptor& k) {
  return (k.autokey_flags & (kAutoTimestamp | kAutoSequence | kAutoGuid)) != 0;
}

// The "ktype" letter of a key's segment, or a QueryFailure (status 6).
std::string key_type(const KeyDescriptor& k, int segment, void* ctl) {
  if (is_autokey(k)) {
    if (const char* letter = autokey_letter(k.autokey_flags)) return letter;
    report_detail(ctl, kDetailMessage, "Autokey type could not be found", 0);
    throw QueryFailure{kStatusIndexIncongruity};
  }
  if (k.autokey_flags & kAutoReportedK) return "K";
  if (const char* letter = type_letter(k.seg_type[segment])) return letter;
  report_detail(ctl, kDetailMessage, "Key Type could not be found", 0);
  throw QueryFailure{kStatusIndexIncongruity};
}

}  // namespace

NullValueText describe_null_value(const IsamFileControl& fc, const KeyDescriptor& k) {
  NullValueText result;
  if (!(k.key_flags & (kKeyNullReplicating | kKeyNullNonReplicating))) return result;
  const uint8_t* value = nullptr;
  size_t length = 0;
  if (!null_value_at(fc.null_area, k.null_offset, &value, &length)) {
    result.present = true;
    result.valid = false;
    return result;
  }
  result.present = true;
  if (k.key_flags & kKeyNullReplicating) {
    uint8_t b = replicating_null_byte(value, length);
    char text[8];
    if (b >= 32 && b <= 126) {
      std::snprintf(text, sizeof text, "%c", b);
    } else {
      std::snprintf(text, sizeof text, "\\%03o", b);
    }
    result.text = text;
    return result;
  }
  // A type without a printable form shows as the empty text; a binary
  // number of an impossible length is a damaged file.
  switch (show_non_replicating_null(k.seg_type, k.seg_length, value, length, &result.text)) {
    case NullValueKind::kText:
    case NullValueKind::kNumber:
    case NullValueKind::kNone:
      break;
    case NullValueKind::kBadLength:
      result.valid = false;
      break;
  }
  return result;
}

namespace {

void report_bad_null(void* ctl) {
  report_detail(ctl, kDetailMessage, "NULLVALUE is invalid.", 0);
  report_detail(ctl, kDetailMessage, "Possible corrupt isam file.", 0);
}

std::string fopts_text(const IsamFileControl& fc) {
  const IsamHeader& h = fc.header;
  std::string t;
  if ((h.file_flags & kFileVariable) && (h.file_flags & kFileMultiple)) {
    t += "MULTIPLE, ";
  } else if (h.file_flags & kFileVariable) {
    t += "VARIABLE, ";
  } else {
    t += "FIXED, ";
  }
  if (h.file_flags & kFileCompressed) t += "COMPRESS, ";
  bool old_form = h.revision < 6 || is_patched(h);
  if (old_form && (h.file_flags & kFileStaticRfa)) t += "STATIC_RFA, ";
  if (h.file_flags2 & kFlags2ChangeTracking) {
    t += "TRACK_CHANGES, ";
  } else if (is_tbyte(h)) {
    t += "TBYTE, ";
  }
  if (h.file_flags2 & kFlags2StoredGrfa) t += "STORED_GRFA, ";
  char item[48];
  for (const PortIntSpec& p : fc.port_ints) {
    std::snprintf(item, sizeof item, "I=%d:%d, ", static_cast<int>(p.position),
                  static_cast<int>(p.length));
    t += item;
  }
  uint32_t page = page_bytes(h);
  bool page_item = false;
  if (is_r6_unpatched(h)) {
    page_item = page != 4096;
  } else if (h.revision == 4) {
    page_item = page != (h.max_key_size < 60 ? 1024u : 2048u);
  }
  if (page_item) {
    std::snprintf(item, sizeof item, "PAGE=%u", page);
    t += item;
  } else if (t.size() >= 2) {
    t.resize(t.size() - 2);
  }
  return t;
}

int32_t fopts_number(const IsamFileControl& fc) {
  const IsamHeader& h = fc.header;
  int32_t n = h.file_flags & (kFileMultiple | kFileVariable | kFileCompressed | kFileStaticRfa);
  if ((h.revision < 6 || is_patched(h)) && is_tbyte(h)) n |= 0x40;
  if (h.file_flags2 & kFlags2ChangeTracking) n |= 0x200;
  return n;
}

std::string key_string(const IsamFileControl& fc, const KeyDescriptor& k, int segment, void* ctl,
                       int* late_status) {
  char item[64];
  std::string t;
  int n = segment_count(k);
  std::snprintf(item, sizeof item, "start=%d", k.seg_start[0] + 1);
  t += item;
  for (int j = 1; j < n; ++j) {
    std::snprintf(item, sizeof item, ":%d", k.seg_start[j] + 1);
    t += item;
  }
  std::snprintf(item, sizeof item, ", length=%d", k.seg_length[0]);
  t += item;
  for (int j = 1; j < n; ++j) {
    std::snprintf(item, sizeof item, ":%d", k.seg_length[j]);
    t += item;
  }
  // The name: the first 14 characters less trailing blanks; a NUL ends it.
  const char* chars = k.key_name.data();
  const void* nul = std::memchr(chars, '\0', 14);
  std::string name(chars, nul != nullptr ? static_cast<const char*>(nul) - chars : 14);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (!name.empty()) t += ", name=" + name;
  bool all_alpha = true;
  for (int j = 0; j < n; ++j) {
    if ((k.seg_type[j] & kSegTypeMask) != kSegAlpha) all_alpha = false;
  }
  if (!all_alpha) {
    t += ", type=";
    for (int j = 0; j < n; ++j) {
      if (j > 0) t += ":";
      const char* letter =
          is_autokey(k) ? autokey_letter(k.autokey_flags) : type_letter(k.seg_type[j]);
      if (letter == nullptr) {
        report_detail(
            ctl, kDetailMessage,
            is_autokey(k) ? "Autokey type could not be found" : "Key Type could not be found.", 0);
        throw QueryFailure{kStatusIndexIncongruity};
      }
      t += letter;
    }
  }
  if (k.density > 0) {
    std::snprintf(item, sizeof item, ", density=%d", k.density);
    t += item;
  }
  if (k.key_flags & kKeyDuplicates) {
    t += ", dups";
    if (k.key_flags & kKeyFifo) t += ", atend";
  }
  if (k.key_flags & kKeyModifiable) t += ", modify";
  if (!(k.seg_type[segment] & kSegAscending)) t += ", noascend";
  if (k.key_flags & (kKeyNullReplicating | kKeyNullNonReplicating)) {
    t += (k.key_flags & kKeyNullReplicating) ? ", null=replicate" : ", null=noreplicate";
    t += ", value_null=";
    NullValueText null = describe_null_value(fc, k);
    if (!null.valid) {
      report_bad_null(ctl);
      *late_status = kStatusInvalidNull;
      return t;
    }
    t += null.text;
  }
  return t;
}

std::string file_text(const IsamFileControl& fc) {
  const IsamHeader& h = fc.header;
  if (h.revision < 6 || !(h.file_flags2 & (kFlags2PrefixedText | kFlags2ExtensionText)) ||
      fc.text_length == 0) {
    return std::string();
  }
  uint64_t at = fc.text_location + ((h.file_flags2 & kFlags2PrefixedText) ? 8 : 0);
  std::string text(fc.text_length, '\0');
  if (at > static_cast<uint64_t>(INT64_MAX)) return std::string();
  int64_t got = file_pread(fc.data_handle, text.data(), fc.text_length, static_cast<int64_t>(at));
  if (got != static_cast<int64_t>(fc.text_length)) throw QueryFailure{kStatusReadFailure};
  return text;
}

void fail_unknown(void* ctl, const char* keyword) {
  report_detail(ctl, kDetailMessage, "Invalid FQUERY option", 0);
  report_detail(ctl, kDetailInvalidOption, keyword, 0);
  throw QueryFailure{kStatusInvalidOption};
}

}  // namespace

int64_t file_query(IsamFileControl* fc, int32_t* number, char* text, int32_t capacity,
                   const char* keyword, int32_t key, int32_t segment, ismgr_control* control) {
  ismgr_status* status = control != nullptr ? control->status : default_status();
  void* ctl = control;
  try {
    if (fc == nullptr || key < 0 || key >= static_cast<int32_t>(fc->keys.size())) {
      int limit = fc != nullptr ? static_cast<int>(fc->keys.size()) - 1 : -1;
      report_detail(ctl, kDetailMessage, "FQUERY: Invalid key number specified", 0);
      report_detail(ctl, kDetailQueryValue, "", key);
      report_detail(ctl, kDetailQueryLimit, "", limit);
      throw QueryFailure{kStatusIllegalKey};
    }
    status->code = 0;
    const KeyDescriptor& k = fc->keys[static_cast<size_t>(key)];
    const int segments = segment_count(k);
    if (segment < 0 || segment >= segments) {
      report_detail(ctl, kDetailMessage, "FQUERY: Invalid segment specified", 0);
      report_detail(ctl, kDetailQueryValue, "", segment);
      report_detail(ctl, kDetailQueryLimit, "", segments - 1);
      throw QueryFailure{kStatusSegmentRange};
    }
    const IsamHeader& h = fc->header;
    const char* word = keyword != nullptr ? keyword : "";
    int item = lookup_file_info_keyword(word);
    std::string built;
    int late_status = 0;
    bool number_item = true;
    int64_t value = 0;
    auto need_number = [&] {
      if (number == nullptr) {
        report_detail(ctl, kDetailNoNumberResult, "", 0);
        throw QueryFailure{kStatusMissingParameter};
      }
    };
    auto need_text = [&] {
      if (text == nullptr) {
        report_detail(ctl, kDetailNoTextResult, "", 0);
        throw QueryFailure{kStatusMissingParameter};
      }
    };
    switch (item) {
      case kInfoInitAll:
        number_item = false;
        break;
      case kInfoSize:
        value = h.record_size;
        break;
      case kInfoNumrecs:
        value = fc->free_list.record_count;
        break;
      case kInfoNumkeys:
        value = h.key_count - (has_tracking_key(*fc) ? 1 : 0);
        break;
      case kInfoFopts:
        if (number == nullptr && text == nullptr) {
          report_detail(ctl, kDetailNoTextResult, "", 0);
          report_detail(ctl, kDetailNoNumberResult, "", 0);
          throw QueryFailure{kStatusMissingParameter};
        }
        if (number != nullptr) *number = fopts_number(*fc);
        if (text == nullptr) return 0;
        built = fopts_text(*fc);
        number_item = false;
        break;
      case kInfoKposition:
        value = k.seg_start[segment] + 1;
        break;
      case kInfoKeylength:
        value = key_size_without_qualifier(*fc, k);
        break;
      case kInfoKeysegments:
        value = segments;
        break;
      case kInfoKeydensity:
        value = k.density;
        break;
      case kInfoDups:
        value = (k.key_flags & kKeyDuplicates) ? 1 : 0;
        break;
      case kInfoModify:
        value = (k.key_flags & kKeyModifiable) ? 1 : 0;
        break;
      case kInfoAscend:
        value = (k.seg_type[segment] & kSegAscending) ? 1 : 0;
        break;
      case kInfoAtend:
        value = (k.key_flags & kKeyFifo) ? 1 : 0;
        break;
      case kInfoSeglength:
        value = k.seg_length[segment];
        break;
      case kInfoRevision:
        value = h.revision;
        break;
      case kInfoPagesize:
        value = page_bytes(h);
        break;
      case kInfoKeydepth:
        value = static_cast<size_t>(key) < fc->depths.size() ? fc->depths[key] : 0;
        break;
      case kInfoNetcrypt:
        value = (h.file_flags & kFileNetworkEncrypt) ? 1 : 0;
        break;
      case kInfoRovh:
        value = h.record_overhead;
        break;
      case kInfoSgrfa:
        value = (h.file_flags2 & kFlags2StoredGrfa) ? 1 : 0;
        break;
      case kInfoKtype:
        need_text();
        built = key_type(k, segment, ctl);
        number_item = false;
        break;
      case kInfoNull:
        need_text();
        built = (k.key_flags & kKeyNullReplicating)      ? "REPLICATE"
                : (k.key_flags & kKeyNullNonReplicating) ? "NOREPLICATE"
                : (k.key_flags & kKeyNullShort)          ? "SHORT"
                                                         : "NONE";
        number_item = false;
        break;
      case kInfoNullvalue: {
        need_text();
        NullValueText null = describe_null_value(*fc, k);
        // Replicating and non-replicating keys have a value to show; a short
        // null key and a key without null value have none.
        if (!null.present) {
          report_detail(ctl, kDetailMessageNumber, "No null value for key ", key);
          throw QueryFailure{kStatusNoNullValue};
        }
        if (!null.valid) {
          report_bad_null(ctl);
          throw QueryFailure{kStatusInvalidNull};
        }
        built = null.text;
        number_item = false;
        break;
      }
      case kInfoKeyname:
        need_text();
        built.assign(k.key_name.data(), strnlen(k.key_name.data(), k.key_name.size()));
        number_item = false;
        break;
      case kInfoString:
        need_text();
        built = key_string(*fc, k, segment, ctl, &late_status);
        number_item = false;
        break;
      case kInfoCreatedate:
        need_text();
        built = date_text(h.created, false);
        number_item = false;
        break;
      case kInfoCleardate:
        need_text();
        built = date_text(h.cleared, true);
        number_item = false;
        break;
      case kInfoReindexdate:
        need_text();
        built = date_text(h.reindexed, true);
        number_item = false;
        break;
      case kInfoVerifydate:
        need_text();
        built = date_text(h.verified, true);
        number_item = false;
        break;
      case kInfoPutnote:
        need_text();
        built = file_text(*fc);
        number_item = false;
        break;
      default:  // unknown, ambiguous, and "filename" (answered by the channel)
        fail_unknown(ctl, word);
    }
    if (number_item && item != kInfoInitAll) {
      need_number();
      *number = static_cast<int32_t>(value);
    }
    if (text != nullptr && capacity > 0) {
      size_t n = std::min(built.size(), static_cast<size_t>(capacity) - 1);
      std::memcpy(text, built.data(), n);
      text[n] = '\0';
    }
    status->code = late_status;
    return 0;
  } catch (const QueryFailure& failure) {
    status->code = failure.status;
    return -1;
  } catch (const StatusError& e) {
    status->code = e.code();
    return -1;
  } catch (const std::bad_alloc&) {
    status->code = kStatusNoMemory;
    return -1;
  }
}

int64_t file_summary_text(IsamFileControl* fc, char* text, ismgr_control* control) {
  if (!file_control_valid(fc)) return -2;
  fc->control = control;
  const KeyDescriptor* primary = fc->keys.empty() ? nullptr : &fc->keys[0];
  long long size = fc->record_size;
  long long start = primary ? primary->seg_start[0] + 1 : 0;
  long long key_size = primary ? key_size_without_qualifier(*fc, *primary) : 0;
  long long records = fc->free_list.record_count > 99999999u
                          ? 0
                          : 99999999LL - static_cast<long long>(fc->free_list.record_count);
  long long keys =
      fc->header.key_count >= 100 ? 0 : fc->header.key_count - (has_tracking_key(*fc) ? 1 : 0);
  // Every field must fit its width, or the text would outgrow its buffer.
  if (size < 0 || size > 99999 || start > 99999 || key_size < 0 || key_size > 999 || keys < 0) {
    ismgr_status* status = control != nullptr ? control->status : default_status();
    status->code = kStatusBadFileControl;
    return -1;
  }
  // Formatted apart (the checks above keep it at 31 characters) and copied.
  char line[96];
  int n = std::snprintf(line, sizeof line, "%05lld%05lld%03lld99999999%08lld%02lld", size, start,
                        key_size, records, keys);
  if (n != 31) {
    ismgr_status* status = control != nullptr ? control->status : default_status();
    status->code = kStatusBadFileControl;
    return -1;
  }
  std::memcpy(text, line, 32);
  return 31;
}

int64_t file_summary_record(IsamFileControl* fc, uint8_t* record, ismgr_control* control) {
  if (!file_control_valid(fc)) return -2;
  fc->control = control;
  const KeyDescriptor* primary = fc->keys.empty() ? nullptr : &fc->keys[0];
  put_u16(record, static_cast<uint16_t>(fc->record_size));
  put_u16(record + 2, static_cast<uint16_t>(primary ? primary->seg_start[0] + 1 : 0));
  put_u16(record + 4,
          static_cast<uint16_t>(primary ? key_size_without_qualifier(*fc, *primary) : 0));
  put_u32(record + 8, 999999999u);
  // More records than the field counts down from give 0, as in the text.
  const uint32_t records = fc->free_list.record_count;
  put_u32(record + 12, records > 999999999u ? 0 : 999999999u - records);
  record[16] = static_cast<uint8_t>(fc->header.key_count - (has_tracking_key(*fc) ? 1 : 0));
  return 0;
}

}  // namespace ismgr
