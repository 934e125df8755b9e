#include "ismgr/describe/description_reader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "ismgr/describe/xdl_keywords.h"
#include "ismgr/runtime/char_class.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"

namespace ismgr {

namespace {

constexpr int kEnd = -1;  // end of the XDL text
constexpr char kTooLong[] = "String exceeds maximum length";

inline bool space(int c) {
  return c >= 0 && is_space(static_cast<unsigned char>(c));
}

bool starts_with(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

// SEGn_POSITION and SEGn_LENGTH are taken in the order they appear; the
// segment number in the word is dropped.
void rewrite_segment_word(std::string* word) {
  if (!starts_with(*word, "SEG")) return;
  if (word->find("LENGTH") != std::string::npos) {
    *word = "SEGLEN";
  } else if (word->find("POSITION") != std::string::npos) {
    *word = "SEGPOS";
  }
}

// The XDL text as a character source, read the way a Windows text-mode
// stream reads it: a CR before an LF is dropped and a Ctrl-Z ends the text.
class XdlSource {
 public:
  explicit XdlSource(std::string_view raw) {
    text_.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
      const char c = raw[i];
      if (c == '\x1a') break;
      if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
      text_.push_back(c);
    }
  }
  int get() { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_++]) : kEnd; }
  void skip_line() {
    int c;
    do {
      c = get();
    } while (c != kEnd && c != '\n');
  }

 private:
  std::string text_;
  size_t pos_ = 0;
};

// Builds the description string from an XDL text.
class XdlReader {
 public:
  XdlReader(std::string_view text, const char* path, std::string* current_name)
      : source_(text), path_(path != nullptr ? path : ""), current_name_(current_name) {}

  std::string run() {
    bool in_section = false;
    std::string word;
    int terminator = kEnd;
    while (read_word(&word, &terminator)) {
      const std::string written = word;
      rewrite_segment_word(&word);
      int index = match_keyword(word, kMainKeywords, nullptr);
      bool ended_line = terminator == '\n' && word != "FILE" && word != "RECORD";
      if (index == kKwFile || index == kKwRecord || index == kKwKey) in_section = true;
      if (index == kKwFileMonitoring) {
        // Whatever its value, file monitoring asks for static RFAs.
        if (terminator != '\n' && terminator != '!' && terminator != kEnd) source_.skip_line();
        word = "static_rfa yes";
        ended_line = true;
        index = kKwStaticRfa;
      }
      if (ends_copied_section(index)) in_section = false;

      if (in_section && index != kKeywordNotFound && index < kKwTitle) {
        if (starts_with(word, "FILE") || word == "RECORD") {
          out_ += word;
          out_ += ';';
        } else if (ended_line) {
          out_ += word;
          out_ += " ;";
        } else {
          const std::string value = read_value(written);
          out_ += word;
          out_ += ' ';
          out_ += value;
          out_ += ';';
        }
      } else {
        // A word of a section that is no keyword is dropped (descriptions may
        // carry keywords of other tools); the hook hears of it, so that a
        // mistyped keyword can be told from a missing one.
        if (in_section && index == kKeywordNotFound) {
          report_detail(nullptr, kDetailKeywordIgnored, written.c_str(), 0);
        }
        if (!is_section_word(index) && terminator != '\n' && terminator != '!' &&
            terminator != kEnd) {
          source_.skip_line();  // a dropped word takes the rest of its line with it
        }
      }
    }
    return std::move(out_);
  }

 private:
  // Reads the next keyword word (upper case, cut to kMaxXdlWord characters).
  // Returns false at the end of the text.
  bool read_word(std::string* word, int* terminator) {
    int c;
    for (;;) {
      c = source_.get();
      if (c == kEnd) return false;
      if (space(c)) continue;
      if (c == '!') {
        source_.skip_line();
        continue;
      }
      break;
    }
    word->clear();
    while (c != kEnd && !space(c) && c != '!') {
      if (word->size() < kMaxXdlWord) word->push_back(static_cast<char>(to_upper(c)));
      c = source_.get();
    }
    *terminator = c;
    // A comment after the word: its value is looked for on the next line.
    if (c == '!') source_.skip_line();
    return true;
  }

  std::string read_value(const std::string& keyword) {
    std::string value;
    int c = source_.get();
    if (c == kEnd) return value;
    while (space(c)) {
      c = source_.get();
      if (c == '\n' || c == kEnd) return value;
    }
    if (c == '!') fail(keyword, false);
    value.push_back(static_cast<char>(c));
    if (c == '"' || c == '\'') {
      const int quote = c;
      for (;;) {
        c = source_.get();
        if (c == kEnd) break;
        value.push_back(static_cast<char>(c));
        if (value.size() > kMaxXdlValue) fail(keyword, true);
        if (c == quote) break;
      }
      return value;
    }
    for (;;) {
      c = source_.get();
      if (c == kEnd || space(c) || c == '!') break;
      value.push_back(static_cast<char>(c));
      if (value.size() > kMaxXdlValue) fail(keyword, true);
    }
    return value;
  }

  [[noreturn]] void fail(const std::string& keyword, bool too_long) {
    if (too_long) report_detail(nullptr, kDetailMessage, kTooLong, 0);
    report_detail(nullptr, kDetailMessage, "No value supplied before comment", 0);
    report_detail_text(nullptr, kDetailKeywordSpecified, "Keyword specified:", keyword.c_str());
    if (current_name_ != nullptr) *current_name_ = path_;
    raise_status(kStatusXdlFile);
  }

  XdlSource source_;
  std::string path_;
  std::string* current_name_;
  std::string out_;
};

size_t scan_value(const char*& cursor, std::string* value, bool report) {
  const char* p = cursor;
  value->clear();
  while (*p != '\0' && space(static_cast<unsigned char>(*p))) ++p;
  if (*p == '\0') {
    cursor = p;
    return 0;
  }
  const char* start;
  size_t length = 0;
  if (*p == '"' || *p == '\'') {
    const char quote = *p++;
    start = p;
    while (*p != '\0' && *p != quote) ++p;
    length = static_cast<size_t>(p - start);
  } else {
    start = p;
    while (*p != '\0' && !space(static_cast<unsigned char>(*p)) && *p != ';') ++p;
    length = static_cast<size_t>(p - start);
  }
  if (*p != '\0' && space(static_cast<unsigned char>(*p))) {
    while (*p != '\0' && space(static_cast<unsigned char>(*p))) ++p;
  } else if (*p != '\0') {
    ++p;  // the closing quote or the ";"
  }
  if (*p == ';') ++p;
  cursor = p;
  if (length > kMaxStringValue) {
    if (report) report_detail(nullptr, kDetailMessage, kTooLong, 0);
    return 0;
  }
  value->assign(start, length);
  return length;
}

}  // namespace

std::string description_from_xdl(std::string_view text, const char* path,
                                 std::string* current_name) {
  XdlReader reader(text, path, current_name);
  return reader.run();
}

std::string read_description_file(const char* path, std::string* current_name) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file(path != nullptr ? std::fopen(path, "rb") : nullptr);
  if (!file) {
    if (current_name != nullptr) *current_name = path != nullptr ? path : "";
    raise_status(kStatusFileNotFound);
  }
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, got);
  file.reset();
  return description_from_xdl(text, path, current_name);
}

int next_keyword(const char*& cursor, std::string* word) {
  const char* p = cursor;
  while (*p != '\0' && space(static_cast<unsigned char>(*p))) ++p;
  word->clear();
  while (*p != '\0' && !space(static_cast<unsigned char>(*p)) && *p != ';') {
    if (word->size() < kMaxStringKeyword) {
      word->push_back(static_cast<char>(to_upper(static_cast<unsigned char>(*p))));
    }
    ++p;
  }
  if (*p == ';') ++p;
  while (*p != '\0' && space(static_cast<unsigned char>(*p))) ++p;
  cursor = p;
  rewrite_segment_word(word);
  return match_keyword(*word, kMainKeywords, nullptr);
}

size_t next_value(const char*& cursor, std::string* value) {
  return scan_value(cursor, value, true);
}

int64_t next_list_item(const char*& cursor, int64_t& remaining, int* more, int mode,
                       std::string* item) {
  if (item != nullptr) item->clear();
  *more = 0;
  if (remaining <= 0 || cursor == nullptr) return mode == kListText ? 0 : -1;

  const char* p = cursor;
  int64_t left = remaining;
  char quote = 0;
  bool literal = false;
  if (*p == '"' || *p == '\'') {
    quote = *p++;
    --left;
    if (left > 0 && *p == '\\') {
      ++p;
      --left;
    } else {
      literal = true;
    }
  }
  const char* start = p;
  size_t length = 0;
  char terminator = 0;
  while (left > 0) {
    const char c = *p;
    const bool ends = quote != 0 ? c == quote : (c == ' ' || c == ',' || c == ':');
    ++p;
    --left;
    if (ends) {
      terminator = c;
      break;
    }
    ++length;
  }
  *more = (left > 0 && quote == 0 && terminator == ':') ? 1 : 0;
  if (quote == 0 && terminator == ' ') {
    while (left > 0 && space(static_cast<unsigned char>(*p))) {
      ++p;
      --left;
    }
    if (left > 0 && (*p == ',' || *p == ':')) {
      ++p;
      --left;
      while (left > 0 && space(static_cast<unsigned char>(*p))) {
        ++p;
        --left;
      }
    }
  }
  cursor = p;
  remaining = left;

  if (length == 0) return mode == kListText ? 0 : -1;
  if (length > kMaxListItem) return -1;
  if (mode == kListText) {
    if (item != nullptr) item->assign(start, length);
    return static_cast<int64_t>(length);
  }
  if (literal) return static_cast<unsigned char>(start[0]);
  return description_number(std::string_view(start, std::min(length, kListNumberChars)));
}

int count_key_sections(const char* description) {
  if (description == nullptr) return 0;
  const char* p = description;
  int count = 0;
  std::string word;
  std::string value;
  while (*p != '\0') {
    const int index = next_keyword(p, &word);
    if (*p == '\0') break;
    if (word == "KEY") ++count;
    if (index != kKwFile && index != kKwRecord && !is_section_word(index)) {
      scan_value(p, &value, false);
    }
  }
  return count;
}

int64_t description_number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && space(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? (uint64_t{1} << 63) : uint64_t{0x7FFFFFFFFFFFFFFF};
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (magnitude > (limit - digit) / 10) {
      magnitude = limit;
    } else {
      magnitude = magnitude * 10 + digit;
    }
  }
  return negative ? static_cast<int64_t>(~magnitude + 1) : static_cast<int64_t>(magnitude);
}

int64_t description_number_with_base(std::string_view text, size_t* end) {
  size_t i = 0;
  while (i < text.size() && space(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  auto digit_of = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
  };
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      i + 2 < text.size() && digit_of(text[i + 2]) < 16) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '0') {
    base = 8;
  }
  const size_t first = i;
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? (uint64_t{1} << 63) : uint64_t{0x7FFFFFFFFFFFFFFF};
  for (; i < text.size() && digit_of(text[i]) < base; ++i) {
    const uint64_t digit = static_cast<uint64_t>(digit_of(text[i]));
    if (magnitude > (limit - digit) / static_cast<uint64_t>(base)) {
      magnitude = limit;
    } else {
      magnitude = magnitude * static_cast<uint64_t>(base) + digit;
    }
  }
  if (end != nullptr) *end = i > first || base == 8 ? i : 0;
  return negative ? static_cast<int64_t>(~magnitude + 1) : static_cast<int64_t>(magnitude);
}

}  // namespace ismgr
