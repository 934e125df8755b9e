#include "support/description_generator.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

#include "ismgr/describe/xdl_keywords.h"
#include "ismgr/runtime/keyword.h"

namespace ismgr::test {
namespace {

enum Type { kAlpha = 1, kDecimal = 2, kInteger = 4, kUnsigned = 8, kNoCase = 16 };
struct Field {
  int start, length, type;
};
struct Segment {
  int start, length, type;
  bool ascending;
};

// Text written twice: whole, and as far as a description carries it.
struct Lines {
  std::string all, carried;
  void add(const std::string& line, bool carried_too = true) {
    all += line + "\n";
    if (carried_too) carried += line + "\n";
  }
};

class Generator {
 public:
  explicit Generator(uint64_t seed) : rng_(seed) {}
  GeneratedDescription run();

 private:
  int pick(int lo, int hi) { return lo + static_cast<int>(rng_() % uint64_t(hi - lo + 1)); }
  bool chance(int percent) { return pick(0, 99) < percent; }
  template <typename T, size_t N>
  const T& one(const T (&a)[N]) {
    return a[pick(0, N - 1)];
  }
  std::string text(int n, const char* chars) {
    std::string s;
    const int count = static_cast<int>(std::char_traits<char>::length(chars));
    while (static_cast<int>(s.size()) < n) s += chars[pick(0, count - 1)];
    return s;
  }
  // A field of `length` bytes after the ones laid out so far; -1 when full.
  int fresh(int length) {
    int start = cursor_ + (chance(30) ? pick(0, 3) : 0);
    if (start + length > limit_) start = cursor_;
    if (start + length > limit_) return -1;
    cursor_ = start + length;
    return start;
  }
  void ignored(Lines& out, int first, int last) {
    for (int i = first; i <= last; ++i) {
      if (i == kKwFileMonitoring || !chance(12)) continue;
      out.add(std::string("  ") + kMainKeywords[i] + (is_section_word(i) ? "" : " 1"));
    }
  }
  std::string number_value(int type, int length);
  bool key(int number, Lines& out);

  std::mt19937_64 rng_;
  int revision_ = 6, size_ = 0, cursor_ = 0, limit_ = 0, page_ = 0, null_used_ = 0;
  bool variable_ = false, any_autokey_ = false;
  std::vector<Field> fields_;
};

const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

std::string Generator::number_value(int type, int length) {
  if (type == kDecimal) {
    return (chance(30) ? "-" : "") + text(pick(1, std::min(length, 18)), "0123456789");
  }
  const int bits = 8 * std::min(length, 8);
  const uint64_t raw = rng_() >> (64 - bits);
  if (type == kUnsigned) return std::to_string(raw);
  return std::to_string(static_cast<int64_t>(raw << (64 - bits)) >> (64 - bits));
}

bool Generator::key(int number, Lines& out) {
  static const int kTypes[] = {kAlpha, kNoCase, kDecimal, kInteger, kUnsigned};
  // The TYPE words of each type: alpha, integer, unsigned, decimal, nocase.
  static const char* const kWords[] = {"a",     "alpha",    "string", "dstring", "integer",
                                       "int2",  "int4",     "int8",   "dint2",   "dint4",
                                       "dint8", "unsigned", "bin2",   "bin4",    "bin8",
                                       "dbin2", "dbin4",    "dbin8",  "decimal", "nocase"};
  const auto word = [&](int type) -> std::string {
    const int first = type == kAlpha      ? 0
                      : type == kInteger  ? 4
                      : type == kUnsigned ? 11
                      : type == kDecimal  ? 18
                                          : 19;
    const int count = type == kAlpha ? 4 : type == kInteger || type == kUnsigned ? 7 : 1;
    return (chance(10) ? "case:" : "") + std::string(kWords[first + pick(0, count - 1)]);
  };
  int autokey = number > 0 || chance(50) ? (revision_ == 6 && chance(12) ? pick(0, 2) : -1) : -1;
  const bool dup = autokey < 0 && chance(35);
  const int form = pick(0, 2);  // START, POSITION, SEGn_POSITION
  const int nulls = number > 0 && autokey < 0 && chance(45) ? pick(0, 2) : -1;
  int budget = std::min(255, (page_ == 512 ? 100 : 254) - (dup ? 4 : 0));
  std::vector<Segment> segs;
  const int wanted = autokey >= 0 ? 1 : chance(30) ? pick(2, 8) : 1;
  for (int j = 0; j < wanted && budget > 0; ++j) {
    Segment s{0, 0, one(kTypes), chance(75)};
    if (autokey >= 0)
      s = {0, autokey == 2 ? 16 : 8, autokey == 2 ? 0 : kInteger, autokey == 1 || chance(70)};
    if (j > 0 && form != 0) s.type = segs[0].type, s.ascending = segs[0].ascending;
    if (nulls == 1 && wanted > 1 && (segs.empty() || form != 0) && s.type != kNoCase)
      s.type = kAlpha;
    const bool text_type = s.type == kAlpha || s.type == kNoCase;
    if (autokey < 0) {
      s.length = text_type            ? pick(1, chance(80) ? 24 : budget)
                 : s.type == kDecimal ? pick(1, 18)
                 : chance(80)         ? 1 << pick(0, 3)
                                      : pick(1, 8);
    }
    std::vector<Field> fits;
    for (const Field& f : fields_) {
      const bool f_text = f.type == kAlpha || f.type == kNoCase;
      if (autokey < 0 && (text_type ? f_text : f.type == s.type) && f.type != 0) fits.push_back(f);
    }
    if (!fits.empty() && chance(25)) {
      const Field& f = fits[pick(0, static_cast<int>(fits.size()) - 1)];
      s.start = f.start, s.length = f.length;
    } else {
      s.start = s.length <= budget ? fresh(s.length) : -1;
      if (s.start < 0 && segs.empty()) {  // a key's first byte, where there is room
        autokey = -1;
        s.length = 1;
        s.start = fresh(1);
      }
    }
    if (s.start < 0 || s.length > budget) break;
    budget -= s.length;
    segs.push_back(s);
    fields_.push_back({s.start, s.length, autokey >= 0 ? 0 : s.type});
  }
  if (segs.empty()) return false;  // no room: the key is left out (and the keys after it)
  if (autokey >= 0) any_autokey_ = true;
  out.add("KEY " + std::to_string(number));
  const auto list = [&](auto value) {
    std::string s;
    for (const Segment& g : segs) s += (s.empty() ? "" : ":") + value(g);
    return s;
  };
  if (form == 0) {
    out.add("  START " + list([](const Segment& g) { return std::to_string(g.start + 1); }));
  } else if (form == 1) {
    out.add("  POSITION " + list([](const Segment& g) { return std::to_string(g.start); }));
  } else {
    for (size_t j = 0; j < segs.size(); ++j) {
      out.add("  SEG" + std::to_string(j + 1) + "_POSITION " + std::to_string(segs[j].start));
    }
  }
  if (chance(50)) {
    out.add("  LENGTH " + list([](const Segment& g) { return std::to_string(g.length); }));
  } else {
    for (const Segment& g : segs)
      out.add("  SEG" + std::to_string(pick(1, 8)) + "_LENGTH " + std::to_string(g.length));
  }
  const bool one_type =
      std::all_of(segs.begin(), segs.end(), [&](auto& g) { return g.type == segs[0].type; });
  const bool one_order = std::all_of(segs.begin(), segs.end(),
                                     [&](auto& g) { return g.ascending == segs[0].ascending; });
  static const char* const kAutoWords[] = {"timestamp", "sequence", "guid"};
  if (autokey >= 0) {
    out.add(std::string("  TYPE ") + kAutoWords[autokey]);
  } else if (!one_type || segs[0].type != kAlpha || chance(50)) {
    out.add("  TYPE " + (one_type && chance(50) ? word(segs[0].type) : list([&](const Segment& g) {
              return word(g.type);
            })));
  }
  if (form != 0 || !one_order || !segs[0].ascending || chance(30)) {
    out.add("  ORDER " + (one_order && chance(50)
                              ? std::string(segs[0].ascending ? "ascending" : "descending")
                              : list([](const Segment& g) {
                                  return std::string(g.ascending ? "ascending" : "descending");
                                })));
  }
  if (chance(60)) out.add("  NAME \"" + (chance(5) ? "" : text(pick(1, 15), kAlnum)) + "\"");
  if (dup || chance(30)) out.add(std::string("  DUPLICATES ") + (dup ? "yes" : "no"));
  if (chance(40)) {
    const bool lifo = chance(50);
    out.add(std::string("  DUPLICATE_ORDER ") + (lifo ? "lifo" : "fifo"), dup || !lifo);
  }
  if (autokey < 0 && number > 0 && chance(40))
    out.add(std::string(chance(50) ? "  MODIFIABLE " : "  CHANGES ") + (chance(50) ? "yes" : "no"));
  if (chance(20))
    out.add(std::string(chance(50) ? "  DENSITY " : "  INDEX_FILL ") +
            std::to_string(pick(50, 100)));
  if (nulls < 0) return true;
  const bool text_key = std::any_of(segs.begin(), segs.end(),
                                    [](auto& g) { return g.type == kAlpha || g.type == kNoCase; });
  const bool text_first = segs[0].type == kAlpha || segs[0].type == kNoCase;
  int text_run = 0;
  for (size_t j = 0; j < segs.size() && (segs[j].type == kAlpha || segs[j].type == kNoCase); ++j)
    text_run += segs[j].length;
  const std::string value_word = chance(50) ? "  VALUE_NULL " : "  NULL_VALUE ";
  const std::string some_text = text(pick(1, std::max(1, std::min(254, text_run))), kAlnum);
  const std::string value =
      text_first ? "'" + some_text + "'" : number_value(segs[0].type, segs[0].length);
  // Integers convert to 1, 2, 4 or 8 bytes only.
  const int length = segs[0].length;
  const bool convertible = text_first || segs[0].type == kDecimal || (length & (length - 1)) == 0;
  if (nulls == 1 && !convertible) return true;
  const bool given = nulls == 0   ? chance(70)
                     : nulls == 1 ? text_key || chance(70)
                                  : convertible && chance(50);
  // The null-value block holds 1024 bytes: a rule whose entry would not fit
  // is left out.
  const int entry = text_first ? static_cast<int>(some_text.size()) + 1 : segs[0].length + 1;
  const int cost = nulls == 0 ? 2 : nulls == 1 || given ? entry : 0;
  if (null_used_ + cost > 1020) return true;
  null_used_ += cost;
  if (nulls == 0) {
    out.add(chance(70) ? "  NULL replicate" : "  NULL_KEY yes");
    if (given) out.add(value_word + std::to_string(pick(1, 254)), text_key);
  } else if (nulls == 1) {
    out.add("  NULL noreplicate");
    if (given) out.add(value_word + value);
  } else {
    out.add("  NULL short");
    if (given) out.add(value_word + value, false);
  }
  return true;
}

GeneratedDescription Generator::run() {
  GeneratedDescription d;
  revision_ = d.revision = chance(25) ? 4 : 6;
  static const int kPages[] = {512, 1024, 2048, 4096, 8192, 16384, 32768};
  page_ = chance(40) ? one(kPages) : 0;
  const bool tbyte = chance(25), tracking = revision_ == 6 && chance(25);
  const int format = pick(0, 2);
  const bool compressed = format != 2 && chance(35);
  variable_ = format == 1;
  const int r = pick(0, 99);
  const int max_keys = r < 70 ? pick(1, 4) : r < 98 ? pick(5, 20) : tracking ? 254 : 255;
  const int max_size = std::min(65534, 65535 - (33 + 4 * max_keys));
  const int s = pick(0, 99);
  size_ = s < 45   ? pick(tbyte || tracking ? 6 : 4, 64)
          : s < 85 ? pick(65, 4000)
          : s < 97 ? pick(4001, max_size)
                   : max_size;
  // Portable integers in the first half of the record, and often one in its
  // last bytes; the keys have the rest (at least one byte).
  limit_ = size_ / 2;
  int tail = size_;
  Lines file;
  std::vector<std::string> items;
  for (int n = chance(40) ? pick(1, 4) : 0; n > 0; --n) {
    const int length = 1 << pick(0, 3);
    int start = -1;
    if (n == 1 && chance(50) && cursor_ + length < size_) {
      start = size_ - length;
    } else {
      start = fresh(length);
    }
    if (start < 0) continue;
    fields_.push_back({start, length, kInteger});
    items.push_back("  PORT_INT " + std::to_string(start + 1) + ":" + std::to_string(length));
    tail = start + length == size_ ? start : size_;
  }
  limit_ = tail;
  Lines keys;
  int count = 0;
  while (count < max_keys && key(count, keys)) {
    ++count;
    if (chance(3)) {
      keys.add(std::string("AREA 0"));
      ignored(keys, kKwAnalysisOfArea, kMainKeywordCount - 1);
    }
  }
  if (limit_ == size_ && chance(50))
    size_ = std::max(cursor_, tbyte || tracking ? 6 : 4);  // the last field ends the record
  // File-level items, in any order over the FILE and RECORD sections.
  const auto yes_no = [&](const char* keyword, bool yes) {
    items.push_back(std::string("  ") + keyword + (yes ? " yes" : " no"));
  };
  static const char* const kFormats[] = {"fixed", "variable", "multiple"};
  items.push_back("  SIZE " + std::to_string(size_));
  if (format != 0 || chance(50)) items.push_back(std::string("  FORMAT ") + kFormats[format]);
  if (compressed || chance(30))
    yes_no(chance(50) ? "COMPRESS_DATA" : "DATA_RECORD_COMPRESSION", compressed);
  if (chance(60)) items.push_back("  NAME \"" + text(pick(1, 12), kAlnum) + "\"");
  if (tbyte || chance(30))
    items.push_back(std::string("  ADDRESSING ") + (tbyte ? (chance(50) ? "40" : "48") : "32"));
  if (page_ != 0) items.push_back("  PAGE_SIZE " + std::to_string(page_));
  if (chance(20))
    items.push_back(std::string(chance(50) ? "  DENSITY " : "  INDEX_FILL ") +
                    std::to_string(pick(50, 100)));
  if (chance(30)) items.push_back("  KEYS " + std::to_string(count));
  if (chance(30)) yes_no("NETWORK_ENCRYPT", chance(50));
  if (chance(30))
    items.push_back("  RECORD_ALLOCATION " +
                    std::to_string(pick(0, std::min(64, (1 << 20) / (size_ + 64)))));
  if (chance(15)) items.push_back("  ALLOCATION " + std::to_string(pick(0, 100)));
  if (tracking || chance(20)) yes_no("TRACK_CHANGES", tracking);
  if (chance(25)) yes_no("STORED_GRFA", chance(50));
  if (chance(15)) {
    items.push_back("  FILE_MONITORING 1");
  } else if (chance(30)) {
    yes_no("STATIC_RFA", chance(50));
  }
  if (revision_ == 6 && any_autokey_ && chance(50))
    items.push_back("  SEED " + std::to_string(rng_() >> pick(1, 63) | 1));
  std::shuffle(items.begin(), items.end(), rng_);
  const size_t split = static_cast<size_t>(pick(0, static_cast<int>(items.size())));
  if (chance(30)) file.add("TITLE 1\nIDENT 1");
  file.add("FILE");
  for (size_t i = 0; i < items.size(); ++i) {
    if (i == split) file.add("RECORD");
    file.add(items[i]);
  }
  if (split == items.size()) file.add("RECORD");
  ignored(file, kKwReserved1, kKwConnect);
  ignored(file, kKwFileMonitoring + 1, kMainKeywordCount - 1);
  // The file text, before the first key.
  if (chance(40)) {
    std::vector<std::string> pieces;
    size_t total = 0;
    for (int n = pick(1, 4); n > 0; --n) {
      pieces.push_back(text(chance(90) ? pick(0, 120) : pick(121, 500),
                            "abcdefghijklmnopqrstuvwxyz ABC0123456789.,;:!'?()/\\-+*#@"));
      total += pieces.back().size();
    }
    if (chance(50)) {
      const int least = std::max<int>(1, (total + 1023) / 1024);
      const int kb = pick(least, chance(10) ? 255 : least + 2);
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%x", kb * 1024);
      file.add("  TEXT_ALLOCATION " + (chance(50) ? std::to_string(kb) + "k" : std::string(hex)));
    }
    for (const std::string& p : pieces) file.add("  TEXT \"" + p + "\"");
  }
  d.xdl = file.all + keys.all;
  d.carried = file.carried + keys.carried;
  return d;
}

}  // namespace

GeneratedDescription generate_description(uint64_t seed) {
  return Generator(seed).run();
}

std::string break_description(const GeneratedDescription& valid, uint64_t seed, std::string* what) {
  // Each breakage: a keyword, a value it cannot take, and where it goes:
  // replacing the keyword's first line at or after the section word, or
  // inserted right after that word when the keyword is not there.
  struct Breakage {
    const char* section;
    const char* keyword;
    const char* value;
  };
  static const Breakage kBreakages[] = {
      {"FILE", "SIZE", "0"},          {"FILE", "SIZE", "3"},
      {"FILE", "SIZE", "65535"},      {"FILE", "PAGE_SIZE", "1000"},
      {"FILE", "FORMAT", "sideways"}, {"FILE", "ADDRESSING", "fixed"},
      {"FILE", "ADDRESSING", "4"},    {"FILE", "DENSITY", "49"},
      {"FILE", "KEYS", "256"},        {"FILE", "PORT_INT", "1:3"},
      {"FILE", "PORT_INT", "0:4"},    {"FILE", "SEED", "0"},
      {"FILE", "NAME", "\"\""},       {"KEY 0", "KEY", "1"},
      {"KEY 0", "START", "0"},        {"KEY 0", "START", "65535"},
      {"KEY 0", "POSITION", "-1"},    {"KEY 0", "LENGTH", "0"},
      {"KEY 0", "LENGTH", "200:100"}, {"KEY 0", "TYPE", "float"},
      {"KEY 0", "ORDER", "sideways"}, {"KEY 0", "DUPLICATE_ORDER", "both"},
      {"KEY 0", "DENSITY", "101"},    {"KEY 0", "NULL", "replicate"},
      {"KEY 0", "MODIFIABLE", "yes"},
  };
  std::mt19937_64 rng(seed);
  Breakage b = kBreakages[rng() % (sizeof kBreakages / sizeof kBreakages[0])];
  if (valid.revision == 4 && std::string(b.keyword) == "SEED")
    b = kBreakages[0];  // ignored below 6
  const std::string keyword = b.keyword;
  *what = keyword + " " + b.value;
  std::string text = valid.xdl;
  const size_t section = text.find(std::string(b.section) + "\n");
  if (keyword == "KEY") return text.replace(section, 5, "KEY 1");
  const size_t body = section + std::string(b.section).size() + 1;
  const size_t end = std::min(text.find("\nKEY ", body), text.size());
  const std::string line = "  " + keyword + " " + b.value + "\n";
  const size_t at = text.find("\n  " + keyword + " ", body - 1);
  if (at < end) return text.replace(at + 1, text.find('\n', at + 1) - at, line);
  return text.insert(body, line);
}

std::set<int> keywords_used(const std::string& xdl) {
  std::set<int> used;
  std::istringstream in(xdl);
  std::string word;
  for (std::string line; std::getline(in, line);) {
    std::istringstream(line) >> word;
    if (word.rfind("SEG", 0) == 0)
      word = word.find("POSITION") != std::string::npos ? "segpos" : "seglen";
    const int index = match_keyword(word, kMainKeywords);
    if (index >= 0) used.insert(index);
  }
  return used;
}

}  // namespace ismgr::test
