#include "ismgr/describe/xdl_parser.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "ismgr/describe/description_reader.h"
#include "ismgr/describe/xdl_keywords.h"
#include "ismgr/runtime/conversions.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

const char* const kAddressingValues[] = {"32", "40", "48", "fixed", "variable", "multiple", ""};
const char* const kFormatValues[] = {"fixed", "variable", "multiple", ""};
const char* const kOrderValues[] = {"ascending", "descending", ""};
const char* const kTypeValues[] = {
    "a",    "alpha",  "integer", "unsigned", "decimal", "case",  "nocase", "timestamp", "sequence",
    "guid", "string", "dstring", "int2",     "int4",    "int8",  "dint2",  "dint4",     "dint8",
    "bin2", "bin4",   "bin8",    "dbin2",    "dbin4",   "dbin8", ""};
const char* const kNullValues[] = {"replicate", "short", "yes", "no", ""};
const char* const kDuplicateOrderValues[] = {"fifo", "lifo", ""};
const char* const kYesNoValues[] = {"yes", "no", ""};

constexpr char kMultipleCompressed[] = "Multiple fixed-length records cannot be compressed";
constexpr char kKeyDefinitions[] = "Invalid number of key definitions";
constexpr size_t kMaxNullText = 254;
constexpr int kStatusKeySpansRecord = 39;
constexpr size_t kMaxTextLength = 65535;

// How the segment starts of a key were given.
enum class StartsFrom { kNone, kStart, kPosition, kSegPos };

// The per-key state, cleared by KEY.
struct KeyState {
  bool has_length = false;
  bool has_start = false;
  StartsFrom starts_from = StartsFrom::kNone;
  int segpos_count = 0;
  int seglen_count = 0;
  int segment_count = 0;
  int type_count = 0;
  int order_count = 0;
  bool null_rule = false;
  bool null_value_given = false;
  bool null_is_number = false;
  int64_t null_number = 0;
  std::string null_text;
};

// The keyword's name as shown in details: its table entry in upper case.
std::string keyword_name(int index) {
  std::string name = kMainKeywords[index];
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return name;
}

class Parser {
 public:
  Parser(const char*& cursor, std::string* file_name, int revision)
      : cursor_(cursor), file_name_(file_name), revision_(revision) {}

  std::unique_ptr<FileDescription> run();

 private:
  // Reporting.
  [[noreturn]] void fail(int status) {
    if (key_failure_ && current_ >= 0) {
      const std::string number = std::to_string(current_);
      report_detail(nullptr, kDetailKeyNumber, number.c_str(), current_);
    }
    raise_status(status);
  }
  [[noreturn]] void fail_message(const char* message, int status) {
    report_detail(nullptr, kDetailMessage, message, 0);
    fail(status);
  }
  [[noreturn]] void fail_detail(int code, const std::string& text, int64_t value, int status) {
    report_detail(nullptr, code, text.c_str(), value);
    fail(status);
  }
  [[noreturn]] void fail_value(int code, const std::string& text, const std::string& value) {
    report_detail_text(nullptr, code, text.c_str(), value.c_str());
    fail(kStatusXdlString);
  }

  // Rules shared by the keywords.
  void needs_file() {
    if (file_count_ == 0) fail_detail(kDetailKeywordMissing, "FILE", 0, kStatusXdlString);
  }
  void once(int* count, const char* name) {
    if (++*count > 1) fail_detail(kDetailKeywordTwice, name, 0, kStatusXdlString);
  }
  KeyDescription& current_key() {
    if (current_ < 0) fail_detail(kDetailKeywordMissing, "KEY", 0, kStatusXdlString);
    return d_->keys[static_cast<size_t>(current_)];
  }
  std::string value(const std::string& written) {
    std::string v;
    if (next_value(cursor_, &v) == 0) fail_detail(kDetailNoValue, written, 0, kStatusXdlString);
    return v;
  }
  bool yes(const std::string& written) {
    int negated = 0;
    match_keyword(value(written), kYesNoValues, &negated);
    return negated == 0;
  }
  int64_t number(const std::string& written) { return description_number(value(written)); }
  int lookup(const std::string& text, const char* const* table, const std::string& name,
             int* negated = nullptr) {
    const int index = match_keyword(text, table, negated);
    if (index == kKeywordAmbiguous) fail_value(kDetailValueAmbiguous, name, text);
    if (index == kKeywordNotFound) fail_value(kDetailValueNotAllowed, name, text);
    return index;
  }
  void append_to_name(std::string_view text, bool in_front) {
    if (file_name_->size() + text.size() > kFileNameCapacity) {
      report_detail(nullptr, kDetailMessageNumber, "File name exceeds maximum length:",
                    static_cast<int64_t>(file_name_->size() + text.size()));
      raise_status(kStatusNameTooLong);
    }
    if (in_front) {
      file_name_->insert(0, text);
    } else {
      file_name_->append(text);
    }
  }

  void act(int index, const std::string& written);
  void file_keyword(int index, const std::string& written);
  void key_keyword(int index, const std::string& written);
  void begin_key(const std::string& written);
  void require_complete_key(const char* start_name);
  void finish_key();
  void set_type(const std::string& list);
  void set_order(const std::string& list);
  void set_starts(int index, const std::string& list);
  void set_lengths(const std::string& list);
  void finish_description();

  const char*& cursor_;
  std::string* file_name_;
  int revision_;
  std::unique_ptr<FileDescription> d_;

  bool in_section_ = false;
  bool in_file_ = false;
  bool key_failure_ = false;  // failures of the current keyword also name the key
  int file_count_ = 0, name_count_ = 0, addressing_count_ = 0, page_size_count_ = 0;
  int keys_count_ = 0, record_count_ = 0, size_count_ = 0, format_count_ = 0;
  int compress_count_ = 0, static_rfa_count_ = 0, encrypt_count_ = 0, ralloc_count_ = 0;
  int alloc_count_ = 0, text_alloc_count_ = 0, seed_count_ = 0, track_count_ = 0;
  int grfa_count_ = 0;
  int keys_begun_ = 0;
  int current_ = -1;
  KeyState ks_;
};

std::unique_ptr<FileDescription> Parser::run() {
  const int sections = count_key_sections(cursor_);
  d_ = std::make_unique<FileDescription>();
  d_->revision = static_cast<uint8_t>(revision_);
  // The key count is 8 bits wide: more sections than that cannot be described.
  if (sections > 255) fail_message(kKeyDefinitions, kStatusXdlString);
  d_->key_count = static_cast<uint8_t>(sections);
  d_->keys.resize(static_cast<size_t>(sections));
  d_->null_area_offset = d_->record_bytes() - kNullAreaSize;

  std::string word;
  while (*cursor_ != '\0') {
    const int index = next_keyword(cursor_, &word);
    if (*cursor_ == '\0') break;  // a final keyword without anything after it
    if (index == kKwFile || index == kKwRecord || index == kKwKey) in_section_ = true;
    if (in_section_ && index == kKeywordAmbiguous) {
      fail_detail(kDetailKeywordNotAllowed, word, 0, kStatusXdlString);
    }
    if (!in_section_ || index < 0 || index >= kKwReserved1) {
      if (ends_copied_section(index)) in_section_ = false;
      if (is_section_word(index)) continue;
      while (*cursor_ != '\0' && *cursor_ != ';') ++cursor_;
      if (*cursor_ == ';') ++cursor_;
      continue;
    }
    key_failure_ = false;
    act(index, word);
    key_failure_ = false;
  }
  finish_description();
  return std::move(d_);
}

void Parser::act(int index, const std::string& written) {
  switch (index) {
    case kKwStart:
    case kKwPosition:
    case kKwLength:
    case kKwType:
    case kKwOrder:
    case kKwDuplicates:
    case kKwModifiable:
    case kKwChanges:
    case kKwDuplicateOrder:
    case kKwNull:
    case kKwNullKey:
    case kKwValueNull:
    case kKwNullValue:
    case kKwSegPos:
    case kKwSegLen:
      key_failure_ = true;
      key_keyword(index, written);
      return;
    case kKwKey:
      begin_key(written);
      return;
    case kKwDensity:
    case kKwIndexFill: {
      if (!in_file_) {
        key_failure_ = true;
        KeyDescription& key = current_key();
        const int64_t n = number(written);
        if (n < 50 || n > 100) fail_detail(kDetailNumberRange, "key DENSITY", n, kStatusXdlString);
        key.density = static_cast<uint8_t>(n);
        return;
      }
      const int64_t n = number(written);
      if (n < 50 || n > 100) {
        fail_detail(kDetailNumberRange, written == "INDEX_FILL" ? "INDEX_FILL" : "file DENSITY", n,
                    kStatusXdlString);
      }
      d_->density = static_cast<uint16_t>(n);
      return;
    }
    default:
      file_keyword(index, written);
      return;
  }
}

void Parser::file_keyword(int index, const std::string& written) {
  FileDescription& d = *d_;
  const bool modern = revision_ > 5;
  switch (index) {
    case kKwFile:
      once(&file_count_, "FILE");
      in_file_ = true;
      return;
    case kKwName: {
      needs_file();
      if (!in_file_) {
        KeyDescription& key = current_key();
        std::string v;
        next_value(cursor_, &v);
        key.key_name.fill('\0');
        std::memcpy(key.key_name.data(), v.data(), std::min(v.size(), kKeyNameSize - 1));
        return;
      }
      once(&name_count_, "NAME");
      const std::string v = value(written);
      if (file_name_->empty()) {
        append_to_name(v, false);
      } else if ((*file_name_)[0] == ',') {
        append_to_name(v, true);
      }
      return;
    }
    case kKwAddressing: {
      needs_file();
      once(&addressing_count_, "ADDRESSING");
      const std::string v = value(written);
      const int i = lookup(v, kAddressingValues, "ADDRESSING");
      if (i > 2) fail_value(kDetailValueNotAllowed, "ADDRESSING", v);
      if (i > 0) d.file_flags |= kFileTbyte;
      return;
    }
    case kKwPageSize: {
      needs_file();
      once(&page_size_count_, "PAGE_SIZE");
      const int64_t n = number(written);
      if (n != 512 && n != 1024 && n != 2048 && n != 4096 && n != 8192 && n != 16384 &&
          n != 32768) {
        fail_detail(kDetailNumberRange, "PAGE_SIZE", n, kStatusXdlString);
      }
      d.page_units = static_cast<uint8_t>(n / 256);
      return;
    }
    case kKwKeys: {
      needs_file();
      once(&keys_count_, "KEYS");
      const int64_t n = number(written);
      if (n < 1 || n > 255) fail_detail(kDetailNumberRange, "KEYS", n, kStatusXdlString);
      if (n != d.key_count) fail_message(kKeyDefinitions, kStatusXdlString);
      return;
    }
    case kKwRecord:
      needs_file();
      once(&record_count_, "RECORD");
      return;
    case kKwSize: {
      needs_file();
      once(&size_count_, "SIZE");
      const int64_t n = number(written);
      if (n < 1 || n > 65534) fail_detail(kDetailNumberRange, "SIZE", n, kStatusXdlString);
      d.record_size = static_cast<uint16_t>(n);
      return;
    }
    case kKwFormat: {
      needs_file();
      once(&format_count_, "FORMAT");
      const int i = lookup(value(written), kFormatValues, "FORMAT");
      if (i == 0) {
        d.file_flags &= static_cast<uint8_t>(~(kFileMultiple | kFileVariable));
        if (!(d.file_flags & kFileCompressed))
          d.file_flags &= static_cast<uint8_t>(~kFileSizedHeaders);
      } else if (i == 1) {
        d.file_flags &= static_cast<uint8_t>(~kFileMultiple);
        d.file_flags |= kFileVariable | kFileSizedHeaders;
      } else {
        if (d.file_flags & kFileCompressed) fail_message(kMultipleCompressed, kStatusXdlString);
        d.file_flags |= kFileMultiple | kFileVariable | kFileSizedHeaders;
      }
      return;
    }
    case kKwCompressData:
    case kKwDataRecordCompression:
      needs_file();
      if (index == kKwCompressData) once(&compress_count_, "COMPRESS_DATA");
      if (yes(written)) {
        if (d.file_flags & kFileMultiple) fail_message(kMultipleCompressed, kStatusXdlString);
        d.file_flags |= kFileCompressed | kFileSizedHeaders;
      }
      return;
    case kKwStaticRfa:
      needs_file();
      once(&static_rfa_count_, "STATIC_RFA");
      if (yes(written)) d.file_flags |= kFileStaticRfa | kFileStaticVectoring;
      return;
    case kKwPortInt: {
      needs_file();
      // The list goes to the name as a creation option, checked at creation.
      std::string v;
      next_value(cursor_, &v);
      append_to_name(", i=" + v, false);
      if (v.empty()) fail_detail(kDetailNoValue, written, 0, kStatusXdlString);
      return;
    }
    case kKwNetworkEncrypt:
      needs_file();
      once(&encrypt_count_, "NETWORK_ENCRYPT");
      if (yes(written)) d.file_flags |= kFileNetworkEncrypt;
      return;
    case kKwRecordAllocation: {
      needs_file();
      once(&ralloc_count_, "RECORD_ALLOCATION");
      const int64_t n = number(written);
      if (n < 0 || n > UINT32_MAX) {
        fail_detail(kDetailNumberRange, "RECORD_ALLOCATION", n, kStatusXdlString);
      }
      d.allocation = static_cast<uint32_t>(n);
      if (modern) d.file_flags2 |= kFlags2AllocInRecords | kFlags2Prealloc;
      return;
    }
    case kKwAllocation:
      needs_file();
      once(&alloc_count_, "ALLOCATION");
      value(written);
      return;
    case kKwTextAllocation: {
      needs_file();
      once(&text_alloc_count_, "TEXT_ALLOCATION");
      const std::string v = value(written);
      if (!modern) return;
      size_t end = 0;
      const int64_t n = description_number_with_base(v, &end);
      const bool kilobytes = end < v.size() && (v[end] == 'K' || v[end] == 'k');
      const int64_t kb = kilobytes ? n : n / 1024 + (n % 1024 != 0 ? 1 : 0);
      // The allocation is kept in 8 bits: a larger one would wrap silently.
      if (n < 0 || kb > 255)
        fail_detail(kDetailNumberRange, "TEXT_ALLOCATION", n, kStatusXdlString);
      d.text_alloc_kb = static_cast<uint8_t>(kb);
      return;
    }
    case kKwText: {
      needs_file();
      if (keys_begun_ > 0) fail_detail(kDetailKeywordNotAllowed, written, 0, kStatusXdlString);
      std::string v;
      next_value(cursor_, &v);
      if (!modern || v.empty()) return;
      if (!d.has_text) {
        d.has_text = true;
        d.text_offset = d.null_area_offset;
      }
      const size_t total = d.text.size() + v.size();
      if (total > kMaxTextLength) {
        fail_detail(kDetailMessageNumber,
                    "TEXT length exceeds 65535 maximum:", static_cast<int64_t>(total),
                    kStatusXdlString);
      }
      d.text += v;
      d.null_area_offset = d.record_bytes() - kNullAreaSize;
      return;
    }
    case kKwSeed: {
      needs_file();
      once(&seed_count_, "SEED");
      const int64_t n = number(written);
      if (!modern) return;
      if (n < 1) fail_message("Invalid SEED, positive non-zero value expected", kStatusXdlString);
      d.seed = n;
      return;
    }
    case kKwTrackChanges:
      needs_file();
      once(&track_count_, "TRACK_CHANGE");
      if (yes(written) && modern) d.file_flags2 |= kFlags2ChangeTracking;
      return;
    case kKwStoredGrfa:
      needs_file();
      once(&grfa_count_, "STORED_GRFA");
      if (yes(written) && modern) d.file_flags2 |= kFlags2StoredGrfa;
      return;
    default:
      return;
  }
}

void Parser::begin_key(const std::string& written) {
  needs_file();
  if (current_ >= 0) {
    key_failure_ = true;
    require_complete_key("START");
    finish_key();
    key_failure_ = false;
  }
  const int64_t n = number(written);
  if (n != keys_begun_) fail_message("KEY numbers are out of sequence", kStatusXdlString);
  // A section the counter did not see (a value that hid a ";"): refuse it
  // rather than describe a key that has no room.
  if (keys_begun_ >= static_cast<int>(d_->keys.size())) {
    fail_message(kKeyDefinitions, kStatusXdlString);
  }
  current_ = keys_begun_++;
  KeyDescription& key = d_->keys[static_cast<size_t>(current_)];
  key = KeyDescription();
  key.seg_type[0] = kSegAlpha | kSegAscending;
  key.key_flags = kKeyFifo;
  ks_ = KeyState();
  in_file_ = false;
}

void Parser::require_complete_key(const char* start_name) {
  if (!ks_.has_length && ks_.seglen_count == 0) {
    fail_detail(kDetailKeywordMissing, "LENGTH", 0, kStatusXdlString);
  }
  if (!ks_.has_start && ks_.segpos_count == 0) {
    fail_detail(kDetailKeywordMissing, start_name, 0, kStatusXdlString);
  }
}

void Parser::key_keyword(int index, const std::string& written) {
  KeyDescription& key = current_key();
  switch (index) {
    case kKwStart:
    case kKwPosition:
      if (ks_.has_start) fail_detail(kDetailKeywordTwice, keyword_name(index), 0, kStatusXdlString);
      set_starts(index, value(written));
      return;
    case kKwLength:
      if (ks_.has_length) fail_detail(kDetailKeywordTwice, "LENGTH", 0, kStatusXdlString);
      if (ks_.seglen_count > 0)
        fail_message("Cannot mix LENGTH/SEGn_LENGTH keywords", kStatusXdlString);
      set_lengths(value(written));
      return;
    case kKwType:
      set_type(value(written));
      return;
    case kKwOrder:
      set_order(value(written));
      return;
    case kKwDuplicates:
      if (yes(written)) key.key_flags |= kKeyDuplicates;
      return;
    case kKwModifiable:
    case kKwChanges:
      if (yes(written)) key.key_flags |= kKeyModifiable;
      return;
    case kKwDuplicateOrder:
      if (lookup(value(written), kDuplicateOrderValues, "DUPLICATE_ORDER") == 1) {
        key.key_flags &= static_cast<uint8_t>(~kKeyFifo);
      }
      return;
    case kKwNull: {
      const std::string v = value(written);
      ks_.null_rule = true;
      if (written != "NULL") return;
      int negated = 0;
      const int i = lookup(v, kNullValues, "NULL", &negated);
      if (i == 0) {
        key.key_flags |= negated ? kKeyNullNonReplicating : kKeyNullReplicating;
      } else if (i == 1) {
        key.key_flags |= kKeyNullShort;
      } else {
        fail_value(kDetailValueNotAllowed, "NULL", v);
      }
      return;
    }
    case kKwNullKey: {
      const bool set = yes(written);
      ks_.null_rule = true;
      if (written == "NULL_KEY" && set) key.key_flags |= kKeyNullReplicating;
      return;
    }
    case kKwValueNull:
    case kKwNullValue: {
      const std::string v = value(written);
      ks_.null_value_given = true;
      ks_.null_text = v;
      ks_.null_is_number = (key.key_flags & kKeyNullReplicating) != 0;
      if (ks_.null_is_number) {
        const char* p = v.data();
        int64_t remaining = static_cast<int64_t>(v.size());
        int more = 0;
        ks_.null_number = next_list_item(p, remaining, &more, kListNumber, nullptr);
      }
      return;
    }
    case kKwSegPos: {
      if (ks_.has_start) {
        fail_message("Cannot mix START[POSITION]/SEGn_POSITION keywords", kStatusXdlString);
      }
      const int64_t n = number("SEGn_POSITION");
      if (ks_.segpos_count >= kKeySegmentSlots) {
        fail_detail(kDetailMessageNumber, "Too many key segments:", ks_.segpos_count + 1,
                    kStatusXdlString);
      }
      key.seg_start[static_cast<size_t>(ks_.segpos_count++)] = static_cast<uint16_t>(n);
      if (ks_.starts_from == StartsFrom::kNone) ks_.starts_from = StartsFrom::kSegPos;
      return;
    }
    case kKwSegLen: {
      if (ks_.has_length) fail_message("Cannot mix LENGTH/SEGn_LENGTH keywords", kStatusXdlString);
      const int64_t n = number("SEGn_LENGTH");
      if (ks_.seglen_count >= kKeySegmentSlots) {
        fail_detail(kDetailMessageNumber, "Too many key segments:", ks_.seglen_count + 1,
                    kStatusXdlString);
      }
      key.seg_length[static_cast<size_t>(ks_.seglen_count++)] = static_cast<uint16_t>(n);
      key.key_size = static_cast<uint16_t>(key.key_size + static_cast<uint16_t>(n));
      return;
    }
    default:
      return;
  }
}

// Reads a colon-separated list of numbers; more than eight is an error.
std::vector<int64_t> number_list(const std::string& list, bool* too_many) {
  std::vector<int64_t> items;
  const char* p = list.data();
  int64_t remaining = static_cast<int64_t>(list.size());
  int more = 1;
  *too_many = false;
  while (more) {
    const int64_t n = next_list_item(p, remaining, &more, kListNumber, nullptr);
    if (items.size() == kKeySegmentSlots) {
      *too_many = true;
      break;
    }
    items.push_back(n);
  }
  return items;
}

void Parser::set_starts(int index, const std::string& list) {
  KeyDescription& key = current_key();
  bool too_many = false;
  const std::vector<int64_t> items = number_list(list, &too_many);
  if (too_many) fail_detail(kDetailMessageNumber, "Too many key segments:", 9, kStatusXdlString);
  const bool start = index == kKwStart;
  for (size_t j = 0; j < items.size(); ++j) {
    const int64_t n = items[j];
    if (start ? n < 1 : n < 0) {
      fail_detail(kDetailNumberRange, start ? "START" : "POSITION", n, kStatusXdlString);
    }
    if (n - (start ? 1 : 0) > UINT16_MAX) {
      fail_detail(kDetailNumberRange, start ? "START" : "POSITION", n, kStatusXdlString);
    }
    key.seg_start[j] = static_cast<uint16_t>(n - (start ? 1 : 0));
  }
  const int count = static_cast<int>(items.size());
  if (ks_.segment_count != 0 && ks_.segment_count != count) {
    fail_message("Mismatched segments", kStatusXdlString);
  }
  ks_.segment_count = count;
  ks_.has_start = true;
  ks_.starts_from = start ? StartsFrom::kStart : StartsFrom::kPosition;
}

void Parser::set_lengths(const std::string& list) {
  KeyDescription& key = current_key();
  bool too_many = false;
  const std::vector<int64_t> items = number_list(list, &too_many);
  if (too_many) fail_detail(kDetailMessageNumber, "Too many key segments:", 9, kStatusXdlString);
  int64_t sum = 0;
  for (size_t j = 0; j < items.size(); ++j) {
    const int64_t n = items[j];
    if (n < 1 || n > UINT16_MAX) fail_detail(kDetailNumberRange, "LENGTH", n, kStatusXdlString);
    key.seg_length[j] = static_cast<uint16_t>(n);
    sum += n;
  }
  const int count = static_cast<int>(items.size());
  if (ks_.segment_count != 0 && ks_.segment_count != count) {
    fail_message("Mismatched segments", kStatusXdlString);
  }
  if (sum > 255) fail_detail(kDetailMessageNumber, "Invalid key length:", sum, kStatusXdlString);
  key.key_size = static_cast<uint16_t>(sum);
  ks_.segment_count = count;
  ks_.has_length = true;
}

void Parser::set_type(const std::string& list) {
  KeyDescription& key = current_key();
  key.seg_type[0] &= static_cast<uint8_t>(~kSegAlpha);
  const char* p = list.data();
  int64_t remaining = static_cast<int64_t>(list.size());
  int more = 1;
  std::string word;
  int segment = 0;
  while (more) {
    next_list_item(p, remaining, &more, kListText, &word);
    int negated = 0;
    const int i = match_keyword(word, kTypeValues, &negated);
    if (i == kKeywordAmbiguous) fail_value(kDetailValueAmbiguous, "TYPE", word);
    if (i == kKeywordNotFound) fail_value(kDetailValueNotAllowed, "TYPE", word);
    const std::string_view w = kTypeValues[i];
    if (w == "case" && !negated) continue;  // no type: the next word names this segment
    if (segment >= kKeySegmentSlots) {
      fail_detail(kDetailMessageNumber, "Too many key segments:", segment + 1, kStatusXdlString);
    }
    uint8_t& type = key.seg_type[static_cast<size_t>(segment)];
    const bool descending = w.size() > 1 && w[0] == 'd' && w != "decimal";
    if (w == "a" || w == "alpha" || w == "string" || w == "dstring") {
      type |= kSegAlpha;
    } else if (w == "integer" || w.ends_with("int2") || w.ends_with("int4") ||
               w.ends_with("int8")) {
      type |= kSegInteger;
    } else if (w == "unsigned" || w.ends_with("bin2") || w.ends_with("bin4") ||
               w.ends_with("bin8")) {
      type |= kSegUnsigned;
    } else if (w == "decimal") {
      type |= kSegDecimal;
    } else if (w == "case" || w == "nocase") {
      type |= kSegNoCase;
    } else if (w == "timestamp") {
      key.autokey_flags |= kAutoTimestamp;
    } else if (w == "sequence") {
      key.autokey_flags |= kAutoSequence;
    } else if (w == "guid") {
      key.autokey_flags |= kAutoGuid;
    }
    if (descending) type &= static_cast<uint8_t>(~kSegAscending);
    ++segment;
  }
  ks_.type_count = segment;
}

void Parser::set_order(const std::string& list) {
  KeyDescription& key = current_key();
  key.seg_type[0] &= static_cast<uint8_t>(~kSegAscending);
  const char* p = list.data();
  int64_t remaining = static_cast<int64_t>(list.size());
  int more = 1;
  std::string word;
  int segment = 0;
  while (more) {
    next_list_item(p, remaining, &more, kListText, &word);
    const int i = lookup(word, kOrderValues, "ORDER");
    if (segment >= kKeySegmentSlots) {
      fail_detail(kDetailMessageNumber, "Too many key segments:", segment + 1, kStatusXdlString);
    }
    uint8_t& type = key.seg_type[static_cast<size_t>(segment)];
    if (i == 0) {
      type |= kSegAscending;
    } else {
      type &= static_cast<uint8_t>(~kSegAscending);
    }
    ++segment;
  }
  ks_.order_count = segment;
}

void Parser::finish_key() {
  FileDescription& d = *d_;
  KeyDescription& key = d.keys[static_cast<size_t>(current_)];
  const int n = ks_.segment_count != 0 ? ks_.segment_count : key.segment_count();

  // Types and orders.
  auto copy_first = [&key](int j, bool type, bool order) {
    uint8_t& t = key.seg_type[static_cast<size_t>(j)];
    if (type) t = static_cast<uint8_t>((t & ~kSegTypeMask) | (key.seg_type[0] & kSegTypeMask));
    if (order) t = static_cast<uint8_t>((t & ~kSegAscending) | (key.seg_type[0] & kSegAscending));
  };
  if (ks_.starts_from == StartsFrom::kPosition || ks_.starts_from == StartsFrom::kSegPos) {
    // Every further segment of a POSITION list takes the first one's type and
    // order; after SEGn_POSITION keywords the segments up to one past them.
    const int last = ks_.starts_from == StartsFrom::kPosition
                         ? n
                         : std::min(ks_.segpos_count + 1, kKeySegmentSlots);
    for (int j = 1; j < last; ++j) copy_first(j, true, true);
  } else {
    if (ks_.type_count > 1 && ks_.type_count != n) {
      fail_message("Incorrect number of types specified", kStatusXdlString);
    }
    if (ks_.order_count > 1 && ks_.order_count != n) {
      fail_message("Incorrect number of orders specified", kStatusXdlString);
    }
    if (ks_.type_count == 0) {
      for (int j = 0; j < n; ++j) key.seg_type[static_cast<size_t>(j)] |= kSegAlpha;
    } else if (ks_.type_count == 1) {
      for (int j = 1; j < n; ++j) copy_first(j, true, false);
    }
    if (ks_.order_count == 0) {
      for (int j = 0; j < n; ++j) key.seg_type[static_cast<size_t>(j)] |= kSegAscending;
    } else if (ks_.order_count == 1) {
      for (int j = 1; j < n; ++j) copy_first(j, false, true);
    }
  }

  // Null value.
  int stored_length = 0;  // the key's own entry length, 0 without one
  if (ks_.null_rule) {
    bool alpha = false;
    for (int j = 0; j < n && j < kKeySegmentSlots; ++j) {
      if (key.seg_type[static_cast<size_t>(j)] & (kSegAlpha | kSegNoCase)) alpha = true;
    }
    const bool replicating = (key.key_flags & kKeyNullReplicating) != 0;
    int result = -1;  // -1: no entry
    if (ks_.null_value_given) {
      const int64_t v =
          ks_.null_is_number ? ks_.null_number : static_cast<int64_t>(ks_.null_text.size());
      if (v >= 1 && v <= static_cast<int64_t>(kMaxNullText)) {
        result = replicating ? store_null_value(d, key, nullptr, static_cast<size_t>(v))
                             : store_null_value(d, key, ks_.null_text.data(), ks_.null_text.size());
      } else if (alpha) {
        fail(kStatusInvalidNull);
      } else if (replicating) {
        result = store_null_value(d, key, nullptr, ' ');
      }
    } else if (replicating) {
      result = store_null_value(d, key, nullptr, ' ');
    } else if (key.key_flags & kKeyNullNonReplicating) {
      if (alpha) {
        fail_message("Null value must be specified for alpha non-replicating null key",
                     kStatusInvalidNull);
      }
      result = store_null_value(d, key, "0", 1);
    }
    static const char* const kStoreMessages[] = {"", "Null block is full", "Invalid integer value",
                                                 "Invalid unsigned value", "Invalid decimal value"};
    if (result > 0) fail_message(kStoreMessages[result], kStatusInvalidNull);
    if (result == 0) stored_length = d.null_area[key.null_offset];
  }

  // Segment checks.
  const int segments = key.segment_count();
  int offset = 0;
  for (int j = 0; j < segments; ++j) {
    const size_t s = static_cast<size_t>(j);
    if (!(key.key_flags & kKeyNullNonReplicating) || (key.seg_type[s] & (kSegAlpha | kSegNoCase))) {
      offset += key.seg_length[s];
    } else if (segments > 1 && stored_length - 1 > offset) {
      fail_message(offset == 0 ? "Null strings are not allowed on segmented numeric keys"
                               : "Null string cannot overlap numeric segment",
                   kStatusInvalidNull);
    }
    if (static_cast<uint32_t>(key.seg_start[s]) + key.seg_length[s] > d.record_size) {
      report_detail(nullptr, kDetailMessageNumber, "Key specified:", current_);
      raise_status(kStatusKeySpansRecord);
    }
  }
}

void Parser::finish_description() {
  FileDescription& d = *d_;
  if (!((d.file_flags & kFileSizedHeaders) && !(d.file_flags & kFileMultiple))) {
    d.file_flags &= static_cast<uint8_t>(~kFileStaticVectoring);
  }
  if (keys_begun_ != d.key_count) fail_message(kKeyDefinitions, kStatusXdlString);
  if (file_count_ == 0) fail_detail(kDetailKeywordMissing, "FILE", 0, kStatusXdlString);
  if (name_count_ == 0 && file_name_->empty()) {
    fail_detail(kDetailKeywordMissing, "NAME", 0, kStatusXdlString);
  }
  if (size_count_ == 0) fail_detail(kDetailKeywordMissing, "SIZE", 0, kStatusXdlString);
  if (current_ >= 0) {
    key_failure_ = true;
    require_complete_key("START[POSITION]");
    finish_key();
    key_failure_ = false;
  }

  bool any_autokey = false;
  for (const KeyDescription& key : d.keys) any_autokey |= (key.autokey_flags & kAutoAny) != 0;
  if (d.seed != 0 && !any_autokey) {
    fail_message("SEED option used without an Autonumber key", kStatusInvalidNull);
  }
  for (const KeyDescription& key : d.keys) {
    if (!(key.autokey_flags & kAutoAny)) continue;
    if (revision_ < 6) raise_status(kStatusIllegalKey);
    if (key.segment_count() > 1) fail_message("AUTOKEYS cannot be segmented", kStatusIllegalKey);
    if (key.key_flags & (kKeyModifiable | kKeyDuplicates | kKeyNullRules)) {
      raise_status(kStatusIllegalKey);
    }
    if ((key.autokey_flags & kAutoTimestamp) && key.key_size != 8) {
      fail_message("Expected key size of 8", kStatusIllegalKey);
    }
    if (key.autokey_flags & kAutoSequence) {
      if (!(key.seg_type[0] & kSegAscending)) {
        fail_message("Sequence key cannot be descending", kStatusIllegalKey);
      }
      if (key.key_size != 8) fail_message("Expected key size of 8", kStatusIllegalKey);
    }
    if ((key.autokey_flags & kAutoGuid) && key.key_size != 16) {
      fail_message("Expected key size of 16", kStatusIllegalKey);
    }
  }
}

}  // namespace

std::unique_ptr<FileDescription> build_file_description(const char*& cursor, std::string* file_name,
                                                        int revision) {
  std::string scratch;
  if (file_name == nullptr) file_name = &scratch;
  if (cursor == nullptr) raise_status(kStatusXdlString);
  Parser parser(cursor, file_name, revision);
  return parser.run();
}

int store_null_value(FileDescription& description, KeyDescription& key, const char* text,
                     size_t length) {
  auto& area = description.null_area;
  size_t pos = 0;
  while (pos < area.size() && area[pos] != 0) pos += area[pos];
  if (pos >= area.size()) return kNullBlockFull;

  uint8_t entry[256] = {};
  size_t entry_length;
  if (text == nullptr) {
    entry_length = 2;
    entry[1] = static_cast<uint8_t>(length);
  } else if (key.seg_type[0] & (kSegAlpha | kSegNoCase)) {
    if (length + 1 > 255) return kNullBlockFull;
    entry_length = length + 1;
    std::memcpy(entry + 1, text, length);
  } else {
    const uint16_t size = key.seg_length[0];
    if (size + 1u > 255) return kNullBlockFull;
    entry_length = size + 1u;
    FieldDescriptor field{size, kFieldDecimal, entry + 1};
    const uint8_t type = key.seg_type[0] & kSegTypeMask;
    if (type & kSegDecimal) {
      if (text_to_decimal(text, length, 0, field) != kConvertOk) return kNullBadDecimal;
    } else if (type & kSegInteger) {
      const int rc = text_to_integer(text, length, 0, field);
      // The conversion refuses the most negative value of a 1-, 2- or 4-byte
      // field (its bytes are right nonetheless), and the descriptions show a
      // 1- or 2-byte value as the unsigned number of its bytes: both readings
      // give the field's bytes back.
      const int64_t n = description_number(std::string_view(text, length));
      const int64_t half = size == 1 || size == 2 || size == 4 ? int64_t{1} << (8 * size - 1) : 0;
      const bool fits = n >= -half && n < (size <= 2 ? 2 * half : half);
      if (rc != kConvertOk && !(rc == kConvertOverflow && fits)) return kNullBadInteger;
    } else if (type & kSegUnsigned) {
      const int rc = text_to_integer(text, length, 0, field);
      if (rc != kConvertOk && rc != kConvertOverflow) return kNullBadUnsigned;
    }
  }
  if (pos + entry_length > area.size()) return kNullBlockFull;
  entry[0] = static_cast<uint8_t>(entry_length);
  std::memcpy(area.data() + pos, entry, entry_length);
  key.null_offset = static_cast<uint16_t>(pos);
  description.null_area_size = static_cast<uint16_t>(description.null_area_size + entry_length);
  return kNullStored;
}

}  // namespace ismgr
