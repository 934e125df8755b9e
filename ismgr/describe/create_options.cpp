#include "ismgr/describe/create_options.h"

#include <algorithm>

#include "ismgr/describe/description_reader.h"
#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

constexpr int kStatusBadPageSize = 70;
constexpr int kStatusBadDensity = 71;
constexpr int kStatusBadPortIntSize = 76;
constexpr int kStatusPortIntOverlap = 77;
constexpr size_t kMaxOptionDetail = 128;
constexpr size_t kMaxText = 65535;

enum Option : int {
  kOptPage,
  kOptAlloc,
  kOptVariable,
  kOptCompress,
  kOptFixed,
  kOptMultiple,
  kOptS,
  kOptStaticRfa,
  kOptT,
  kOptTbyte,
  kOptDensity,
  kOptI,
  kOptNetworkEncrypt,
  kOptRalloc,
  kOptText,
  kOptSeed,
  kOptTrackChanges,
  kOptSgrfa,
};

const char* const kOptions[] = {
    "page",       "alloc", "variable",      "compress", "fixed", "multiple",        "s",
    "static_rfa", "t",     "tbyte",         "density",  "i",     "network_encrypt", "ralloc",
    "text",       "seed",  "track_changes", "sgrfa",    ""};

constexpr char kMultipleCompressed[] = "Multiple fixed-length records cannot be compressed";

inline bool space(char c) {
  return is_space(static_cast<unsigned char>(c));
}

class OptionParser {
 public:
  OptionParser(std::string_view options, FileDescription& d, std::vector<PortIntEntry>* port_ints,
               std::vector<uint8_t>* map, CreateText* text, int revision)
      : s_(options), d_(d), port_ints_(port_ints), map_(map), text_(text), revision_(revision) {}

  void run() {
    size_t pos = 0;
    while (pos < s_.size()) {
      while (pos < s_.size() && space(s_[pos])) ++pos;
      const size_t word_start = pos;
      while (pos < s_.size() && !space(s_[pos]) && s_[pos] != ',' && s_[pos] != '=') ++pos;
      const std::string_view word = s_.substr(word_start, pos - word_start);
      option_start_ = word_start;
      // Text between the word and the next "=" or comma is skipped.
      while (pos < s_.size() && s_[pos] != '=' && s_[pos] != ',') ++pos;
      const bool has_value = pos < s_.size() && s_[pos] == '=';
      const size_t value_start = has_value ? pos + 1 : pos;
      const size_t comma = std::min(s_.find(',', value_start), s_.size());
      const std::string_view value = s_.substr(value_start, comma - value_start);

      const int option = match_keyword(word, kOptions, nullptr);
      const bool needs_six =
          option == kOptText || option == kOptTrackChanges || option == kOptSgrfa;
      if (option < 0 || (needs_six && revision_ < 6)) invalid_option(comma);

      size_t next = comma;
      if (option == kOptText) {
        if (!has_value) invalid_option(comma);
        next = apply_text(value_start);
        if (next == std::string_view::npos) return;  // an empty value ends the string
      } else {
        apply(option, has_value, value, comma);
      }
      pos = std::min(next, s_.size());
      if (pos < s_.size()) ++pos;  // the comma
    }
  }

 private:
  [[noreturn]] void invalid_option(size_t end) {
    const std::string text(
        s_.substr(option_start_, std::min(end - option_start_, kMaxOptionDetail)));
    report_detail(nullptr, kDetailInvalidOption, text.c_str(), 0);
    raise_status(kStatusInvalidOption);
  }
  [[noreturn]] void fail_message(const char* message) {
    report_detail(nullptr, kDetailMessage, message, 0);
    raise_status(kStatusInvalidOption);
  }

  void apply(int option, bool has_value, std::string_view value, size_t comma) {
    const int64_t n = has_value ? description_number(value) : 0;
    uint8_t& flags = d_.file_flags;
    switch (option) {
      case kOptPage:
        if (n != 512 && n != 1024 && n != 2048 && n != 4096 && n != 8192 && n != 16384 &&
            n != 32768) {
          raise_status(kStatusBadPageSize);
        }
        d_.page_units = static_cast<uint8_t>(n / 256);
        return;
      case kOptAlloc:
      case kOptRalloc:
        if (n < 0 || n > UINT32_MAX) invalid_option(comma);
        d_.allocation = static_cast<uint32_t>(n);
        if (option == kOptRalloc && revision_ == 6) {
          d_.file_flags2 |= kFlags2AllocInRecords | kFlags2Prealloc;
        }
        return;
      case kOptVariable:
        flags = static_cast<uint8_t>((flags & ~kFileMultiple) | kFileVariable | kFileSizedHeaders);
        return;
      case kOptCompress:
        if (flags & kFileMultiple) fail_message(kMultipleCompressed);
        flags |= kFileCompressed | kFileSizedHeaders;
        return;
      case kOptFixed:
        if (!(flags & kFileCompressed)) flags &= static_cast<uint8_t>(~kFileSizedHeaders);
        flags &= static_cast<uint8_t>(~(kFileMultiple | kFileVariable));
        return;
      case kOptMultiple:
        if (flags & kFileCompressed) fail_message(kMultipleCompressed);
        flags |= kFileMultiple | kFileVariable | kFileSizedHeaders;
        return;
      case kOptS:
      case kOptStaticRfa:
        flags |= kFileStaticRfa | kFileStaticVectoring;
        return;
      case kOptT:
      case kOptTbyte:
        flags |= kFileTbyte;
        return;
      case kOptDensity:
        if (n < 50 || n > 100) raise_status(kStatusBadDensity);
        d_.density = static_cast<uint16_t>(n);
        return;
      case kOptI:
        if (map_ != nullptr && has_value) port_int(value);
        return;
      case kOptNetworkEncrypt:
        flags |= kFileNetworkEncrypt;
        return;
      case kOptSeed:
        if (revision_ != 6) return;
        if (n < 1) fail_message("Invalid SEED, positive non-zero value expected");
        d_.seed = n;
        return;
      case kOptTrackChanges: {
        d_.file_flags2 |= kFlags2ChangeTracking | kFlags2TrackChangesOption;
        size_t end = 0;
        const int64_t start = has_value ? description_number_with_base(value, &end) : 0;
        if (has_value && end > 0) {
          if (start < INT32_MIN || start > INT32_MAX) invalid_option(comma);
          d_.change_tracking_start = start == 0 ? -1 : static_cast<int32_t>(start);
        }
        return;
      }
      case kOptSgrfa:
        d_.file_flags2 |= kFlags2StoredGrfa;
        return;
      default:
        return;
    }
  }

  void port_int(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && space(value[i])) ++i;
    const size_t colon = value.find(':', i);
    if (colon == std::string_view::npos) fail_message("Invalid non-key integer data specified");
    const int64_t position = description_number(value.substr(i, colon - i));
    const int64_t length = description_number(value.substr(colon + 1));
    if (length != 1 && length != 2 && length != 4 && length != 8) {
      raise_status(kStatusBadPortIntSize);
    }
    // position is checked against the record size first, so the sum
    // cannot overflow.
    if (position < 1 || position > d_.record_size || position + length - 1 > d_.record_size) {
      fail_message("Non-key integer data spans record boundary");
    }
    if (map_->size() < d_.record_size) map_->resize(d_.record_size, 0);
    const size_t first = static_cast<size_t>(position - 1);
    const size_t last = first + static_cast<size_t>(length) - 1;
    // Options are applied before the keys are marked: any mark is an
    // earlier portable integer.
    for (size_t b = first; b <= last; ++b) {
      if ((*map_)[b] != 0) raise_status(kStatusPortIntOverlap);
    }
    for (size_t b = first; b <= last; ++b) (*map_)[b] = kMapMiddle;
    (*map_)[last] = kMapLast;
    (*map_)[first] = kMapFirst;
    if (port_ints_ != nullptr) {
      port_ints_->push_back({4, static_cast<uint8_t>(length), static_cast<uint16_t>(position)});
    }
  }

  // Applies "text=..." whose value starts at `pos`; returns where the option
  // ends (its comma or the end), or npos when an empty value ends the string.
  size_t apply_text(size_t pos) {
    const auto at_end = [&](size_t p) { return p >= s_.size() || s_[p] == ','; };
    if (pos < s_.size() && s_[pos] >= '0' && s_[pos] <= '9') {
      size_t used = 0;
      const int64_t n = description_number_with_base(s_.substr(pos), &used);
      pos += used;
      int64_t kb;
      if (pos < s_.size() && (s_[pos] == 'K' || s_[pos] == 'k')) {
        kb = n;
        ++pos;
      } else {
        kb = n / 1024 + (n % 1024 != 0 ? 1 : 0);
      }
      if (n < 0 || kb > 255) invalid_option(std::min(s_.find(',', pos), s_.size()));
      d_.text_alloc_kb = static_cast<uint8_t>(kb);
      if (pos >= s_.size() || s_[pos] != ':') return std::min(s_.find(',', pos), s_.size());
      ++pos;
    }
    if (at_end(pos)) return std::string_view::npos;
    const char quote = s_[pos];
    if (quote != '"' && quote != '\'') invalid_option(std::min(s_.find(',', pos), s_.size()));
    std::string collected;
    ++pos;
    for (;;) {
      if (pos >= s_.size()) invalid_option(s_.size());  // no closing quote
      if (s_[pos] == quote) {
        if (pos + 1 < s_.size() && s_[pos + 1] == quote) {
          collected.push_back(quote);
          pos += 2;
          continue;
        }
        ++pos;
        break;
      }
      collected.push_back(s_[pos++]);
      if (collected.size() > kMaxText) {
        report_detail(nullptr, kDetailMessageNumber,
                      "TEXT length exceeds 65535 maximum:", static_cast<int64_t>(collected.size()));
        raise_status(kStatusInvalidOption);
      }
    }
    if (text_ != nullptr) {
      text_->given = true;
      text_->text = std::move(collected);
    }
    return std::min(s_.find(',', pos), s_.size());
  }

  std::string_view s_;
  FileDescription& d_;
  std::vector<PortIntEntry>* port_ints_;
  std::vector<uint8_t>* map_;
  CreateText* text_;
  int revision_;
  size_t option_start_ = 0;
};

}  // namespace

int count_port_int_options(std::string_view options, FileDescription& description) {
  int count = 0;
  size_t pos = 0;
  while (pos < options.size()) {
    while (pos < options.size() && space(options[pos])) ++pos;
    // Counted the way the options are read: whatever stands between the word
    // and the next "=" is skipped, so every "i" option that gets a value has
    // its entry counted and the list can never hold more entries than this.
    if (pos < options.size() && (options[pos] == 'i' || options[pos] == 'I')) {
      size_t p = pos + 1;
      while (p < options.size() && options[p] != ',' && options[p] != '=') ++p;
      if (p < options.size() && options[p] == '=') ++count;
    }
    const size_t comma = options.find(',', pos);
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  if (description.port_int_count + count > 255) {
    report_detail(nullptr, kDetailMessage, "Invalid non-key integer data specified", 0);
    raise_status(kStatusInvalidOption);
  }
  description.port_int_count = static_cast<uint8_t>(description.port_int_count + count);
  return count;
}

uint8_t apply_create_options(std::string* name, FileDescription& description,
                             std::vector<PortIntEntry>* port_ints, std::vector<uint8_t>* byte_map,
                             CreateText* text, int revision) {
  const size_t comma = name->find(',');
  if (comma == std::string::npos) return description.file_flags;
  const std::string options = name->substr(comma + 1);
  name->resize(comma);
  if (port_ints != nullptr) count_port_int_options(options, description);
  OptionParser parser(options, description, port_ints, byte_map, text, revision);
  parser.run();
  uint8_t& flags = description.file_flags;
  if (!((flags & kFileSizedHeaders) && !(flags & kFileMultiple))) {
    flags &= static_cast<uint8_t>(~kFileStaticVectoring);
  }
  return flags;
}

}  // namespace ismgr
