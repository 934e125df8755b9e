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

// Segment types by index, and the TYPE words of each.
enum { kAlpha, kNoCase, kDecimal, kInteger, kUnsigned, kAutokey };
const std::vector<std::vector<std::string>> kTypeWords = {
    {"a", "alpha", "string", "dstring"},
    {"nocase"},
    {"decimal"},
    {"integer", "int2", "int4", "int8", "dint2", "dint4", "dint8"},
    {"unsigned", "bin2", "bin4", "bin8", "dbin2", "dbin4", "dbin8"}};
const std::string kAlnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
const std::string kTextChars = "abcdefghijklmnopqrstuvwxyz ABC0123456789.,;:!'?()/\\-+*#@";

struct Segment {
  int start, length, type;
  bool ascending = true;
  bool text() const { return type == kAlpha || type == kNoCase; }
};

// Lines written twice: all of them, and those a description of the file
// carries.
struct Lines {
  std::string all, carried;
  void add(const std::string& line, bool carried_too = true) {
    all += line + "\n";
    if (carried_too) carried += line + "\n";
  }
};

struct Generator {
  std::mt19937_64 rng_;
  int revision_ = 6, size_ = 0, cursor_ = 0, limit_ = 0, page_ = 0, null_used_ = 0;
  bool autokeys_ = false;
  std::vector<Segment> fields_ = {};

  int pick(int lo, int hi) { return lo + static_cast<int>(rng_() % uint64_t(hi - lo + 1)); }
  bool chance(int percent) { return pick(0, 99) < percent; }
  std::string yes_no(int percent) { return chance(percent) ? "yes" : "no"; }
  template <class C>
  auto one_of(const C& c) {
    return c[pick(0, static_cast<int>(c.size()) - 1)];
  }
  std::string text(int n, const std::string& chars) {
    std::string s(n, ' ');
    for (char& c : s) c = one_of(chars);
    return s;
  }
  // A field of `length` bytes after those laid out so far; -1 when full.
  int fresh(int length) {
    int start = cursor_ + (chance(30) ? pick(0, 3) : 0);
    if (start + length > limit_) start = cursor_;
    return start + length > limit_ ? -1 : (cursor_ = start + length) - length;
  }
  // Keywords recognised and ignored, each now and then.
  void ignored(Lines& out, int first, int last) {
    for (int i = first; i <= last; ++i)
      if (i != kKwFileMonitoring && chance(12))
        out.add(std::string("  ") + kMainKeywords[i] + (is_section_word(i) ? "" : " 1"));
  }
  std::string number(int type, int length) {
    if (type == kDecimal)
      return (chance(30) ? "-" : "") + text(pick(1, std::min(length, 18)), "0123456789");
    const int shift = 64 - 8 * std::min(length, 8);
    const uint64_t raw = rng_() >> shift;
    return type == kUnsigned ? std::to_string(raw) : std::to_string(int64_t(raw << shift) >> shift);
  }
  bool key(int number, Lines& out);
  void null_rule(int rule, const std::vector<Segment>& segs, Lines& out);
  GeneratedDescription run();
};

bool Generator::key(int number, Lines& out) {
  int autokey = (number > 0 || chance(50)) && revision_ == 6 && chance(12) ? pick(0, 2) : -1;
  const bool dup = autokey < 0 && chance(35);
  const int form = pick(0, 2);  // START, POSITION, SEGn_POSITION: the last two give one type
  const int rule = number > 0 && autokey < 0 && chance(45) ? pick(0, 2) : -1;
  int budget = std::min(255, (page_ == 512 ? 100 : 254) - (dup ? 4 : 0));
  const int wanted = autokey >= 0 ? 1 : chance(30) ? pick(2, 8) : 1;
  std::vector<Segment> segs;
  for (int j = 0; j < wanted && budget > 0; ++j) {
    Segment s{0, 0, pick(kAlpha, kUnsigned), chance(75)};
    if (autokey >= 0) s = {0, autokey == 2 ? 16 : 8, kAutokey, autokey == 1 || chance(70)};
    if (j > 0 && form != 0) s.type = segs[0].type, s.ascending = segs[0].ascending;
    // A segmented non-replicating null key begins with text.
    if (rule == 1 && wanted > 1 && (j == 0 || form != 0) && !s.text()) s.type = kAlpha;
    if (autokey < 0)
      s.length = s.text()             ? pick(1, chance(80) ? 24 : budget)
                 : s.type == kDecimal ? pick(1, 18)
                 : chance(80)         ? 1 << pick(0, 3)
                                      : pick(1, 8);
    std::vector<Segment> fits;  // fields a segment may share: text, or numeric of its type
    for (const Segment& f : fields_)
      if (autokey < 0 && f.type != kAutokey && (s.text() ? f.text() : f.type == s.type))
        fits.push_back(f);
    if (!fits.empty() && chance(25)) {
      const Segment f = one_of(fits);
      s.start = f.start, s.length = f.length;
    } else if ((s.start = s.length <= budget ? fresh(s.length) : -1) < 0 && segs.empty()) {
      autokey = -1;  // the key's one byte, where there is room
      s = {fresh(1), 1, s.type == kAutokey ? kAlpha : s.type, s.ascending};
    }
    if (s.start < 0 || s.length > budget) break;
    budget -= s.length, segs.push_back(s), fields_.push_back(s);
  }
  if (segs.empty()) return false;  // no room: the key is left out, and those after it
  autokeys_ |= autokey >= 0;
  out.add("KEY " + std::to_string(number));
  std::string starts, positions, lengths, types, orders, first_type;
  bool one_type = true, one_order = true;
  for (size_t j = 0; j < segs.size(); ++j) {
    const Segment& g = segs[j];
    const std::string colon = j == 0 ? "" : ":";
    starts += colon + std::to_string(g.start + 1), positions += colon + std::to_string(g.start);
    lengths += colon + std::to_string(g.length),
        orders += colon + (g.ascending ? "ascending" : "descending");
    if (g.type != kAutokey)
      types += colon + (chance(10) ? "case:" : "") + one_of(kTypeWords[g.type]);
    if (j == 0) first_type = types;
    one_type &= g.type == segs[0].type, one_order &= g.ascending == segs[0].ascending;
  }
  if (form == 0) out.add("  START " + starts);
  if (form == 1) out.add("  POSITION " + positions);
  for (size_t j = 0; form == 2 && j < segs.size(); ++j)
    out.add("  SEG" + std::to_string(j + 1) + "_POSITION " + std::to_string(segs[j].start));
  const bool length_list = chance(50);
  if (length_list) out.add("  LENGTH " + lengths);
  for (size_t j = 0; !length_list && j < segs.size(); ++j)
    out.add("  SEG" + std::to_string(pick(1, 8)) + "_LENGTH " + std::to_string(segs[j].length));
  static const char* const kAutoWords[] = {"timestamp", "sequence", "guid"};
  if (autokey >= 0)
    out.add(std::string("  TYPE ") + kAutoWords[autokey]);
  else if (!one_type || segs[0].type != kAlpha || chance(50))
    out.add("  TYPE " + (one_type && chance(50) ? first_type : types));
  if (form != 0 || !one_order || !segs[0].ascending || chance(30))
    out.add("  ORDER " + (one_order && chance(50) ? orders.substr(0, orders.find(':')) : orders));
  if (chance(60)) out.add("  NAME \"" + (chance(5) ? "" : text(pick(1, 15), kAlnum)) + "\"");
  if (dup || chance(30)) out.add(std::string("  DUPLICATES ") + (dup ? "yes" : "no"));
  const bool lifo = chance(50);
  if (chance(40))
    out.add(std::string("  DUPLICATE_ORDER ") + (lifo ? "lifo" : "fifo"), dup || !lifo);
  if (autokey < 0 && number > 0 && chance(40))
    out.add((chance(50) ? "  MODIFIABLE " : "  CHANGES ") + yes_no(50));
  if (chance(20))
    out.add((chance(50) ? "  DENSITY " : "  INDEX_FILL ") + std::to_string(pick(50, 100)));
  if (rule >= 0) null_rule(rule, segs, out);
  return true;
}

// Rule 0 replicating, 1 non-replicating, 2 short.
void Generator::null_rule(int rule, const std::vector<Segment>& segs, Lines& out) {
  const Segment& first = segs[0];
  const bool text_key =
      std::any_of(segs.begin(), segs.end(), [](const Segment& g) { return g.text(); });
  int text_run = 0;  // a non-replicating null value may not reach a numeric segment
  for (size_t j = 0; j < segs.size() && segs[j].text(); ++j) text_run += segs[j].length;
  const std::string chars = text(pick(1, std::max(1, std::min(254, text_run))), kAlnum);
  const std::string value = first.text() ? "'" + chars + "'" : number(first.type, first.length);
  // Integers convert to 1, 2, 4 or 8 bytes only.
  const bool convertible =
      first.text() || first.type == kDecimal || (first.length & (first.length - 1)) == 0;
  if (rule == 1 && !convertible) return;
  const bool given = rule == 0   ? chance(70)
                     : rule == 1 ? text_key || chance(70)
                                 : convertible && chance(50);
  // The null-value block holds 1024 bytes.
  const int entry = 1 + (first.text() ? static_cast<int>(chars.size()) : first.length);
  const int cost = rule == 0 ? 2 : rule == 1 || given ? entry : 0;
  if (null_used_ + cost > 1020) return;
  null_used_ += cost;
  const std::string value_word = chance(50) ? "  VALUE_NULL " : "  NULL_VALUE ";
  if (rule == 0) out.add(chance(70) ? "  NULL replicate" : "  NULL_KEY yes");
  if (rule == 0 && given) out.add(value_word + std::to_string(pick(1, 254)), text_key);
  if (rule == 1) out.add("  NULL noreplicate");
  if (rule == 2) out.add("  NULL short");
  if (rule != 0 && given) out.add(value_word + value, rule == 1);
}

GeneratedDescription Generator::run() {
  revision_ = chance(25) ? 4 : 6;
  page_ = chance(40) ? 256 << pick(1, 7) : 0;
  const bool tbyte = chance(25), tracking = revision_ == 6 && chance(25);
  const int format = pick(0, 2), least = tbyte || tracking ? 6 : 4;
  const bool compressed = format != 2 && chance(35);
  const int r = pick(0, 99), s = pick(0, 99);
  const int max_keys = r < 70 ? pick(1, 4) : r < 98 ? pick(5, 20) : tracking ? 254 : 255;
  const int max_size = std::min(65534, 65535 - (33 + 4 * max_keys));
  size_ = s < 45   ? pick(least, 64)
          : s < 85 ? pick(65, 4000)
          : s < 97 ? pick(4001, max_size)
                   : max_size;
  // Portable integers in the first half of the record, and often one in its
  // last bytes; the keys have the rest.
  std::vector<std::string> items;
  const auto item = [&](const std::string& keyword, const std::string& value) {
    items.push_back("  " + keyword + " " + value);
  };
  limit_ = size_ / 2;
  int tail = size_;
  for (int n = chance(40) ? pick(1, 4) : 0; n > 0; --n) {
    const int length = 1 << pick(0, 3);
    const int start =
        n == 1 && chance(50) && cursor_ + length < size_ ? size_ - length : fresh(length);
    if (start < 0) continue;
    fields_.push_back({start, length, kInteger});
    item("PORT_INT", std::to_string(start + 1) + ":" + std::to_string(length));
    tail = start + length == size_ ? start : size_;
  }
  limit_ = tail;
  Lines file, keys;
  int count = 0;
  for (; count < max_keys && key(count, keys); ++count)
    if (chance(3)) keys.add("AREA 0"), ignored(keys, kKwAnalysisOfArea, kMainKeywordCount - 1);
  if (limit_ == size_ && chance(50))
    size_ = std::max(cursor_, least);  // the last field ends the record
  // File-level items, in any order over the FILE and RECORD sections.
  static const char* const kFormats[] = {"fixed", "variable", "multiple"};
  item("SIZE", std::to_string(size_));
  if (format != 0 || chance(50)) item("FORMAT", kFormats[format]);
  if (compressed || chance(30))
    item(chance(50) ? "COMPRESS_DATA" : "DATA_RECORD_COMPRESSION", compressed ? "yes" : "no");
  if (chance(60)) item("NAME", "\"" + text(pick(1, 12), kAlnum) + "\"");
  if (tbyte || chance(30)) item("ADDRESSING", tbyte ? (chance(50) ? "40" : "48") : "32");
  if (page_ != 0) item("PAGE_SIZE", std::to_string(page_));
  if (chance(20)) item(chance(50) ? "DENSITY" : "INDEX_FILL", std::to_string(pick(50, 100)));
  if (chance(30)) item("KEYS", std::to_string(count));
  if (chance(30)) item("NETWORK_ENCRYPT", yes_no(50));
  if (chance(30))
    item("RECORD_ALLOCATION", std::to_string(pick(0, std::min(64, (1 << 20) / (size_ + 64)))));
  if (chance(15)) item("ALLOCATION", std::to_string(pick(0, 100)));
  if (tracking || chance(20)) item("TRACK_CHANGES", tracking ? "yes" : "no");
  if (chance(25)) item("STORED_GRFA", yes_no(50));
  if (chance(15)) {
    item("FILE_MONITORING", "1");  // read as STATIC_RFA yes
  } else if (chance(30)) {
    item("STATIC_RFA", yes_no(50));
  }
  if (revision_ == 6 && autokeys_ && chance(50))
    item("SEED", std::to_string(rng_() >> pick(1, 63) | 1));
  std::shuffle(items.begin(), items.end(), rng_);
  items.insert(items.begin() + pick(0, static_cast<int>(items.size())), "RECORD");
  file.add("FILE");
  for (const std::string& line : items) file.add(line);
  ignored(file, kKwReserved1, kKwConnect);
  ignored(file, kKwFileMonitoring + 1, kMainKeywordCount - 1);
  if (chance(40)) {  // the file text, before the first key
    Lines texts;
    int total = 0;
    for (int n = pick(1, 4); n > 0; --n) {
      const std::string p = text(chance(90) ? pick(0, 120) : pick(121, 500), kTextChars);
      total += static_cast<int>(p.size()), texts.add("  TEXT \"" + p + "\"");
    }
    const int least_kb = std::max(1, (total + 1023) / 1024),
              kb = pick(least_kb, chance(10) ? 255 : least_kb + 2);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", kb * 1024);
    if (chance(50))
      file.add("  TEXT_ALLOCATION " + (chance(50) ? std::to_string(kb) + "k" : std::string(hex)));
    file.all += texts.all, file.carried += texts.all;
  }
  return {revision_, file.all + keys.all, file.carried + keys.carried};
}

}  // namespace

GeneratedDescription generate_description(uint64_t seed) {
  return Generator{std::mt19937_64(seed)}.run();
}

std::string break_description(const GeneratedDescription& valid, uint64_t seed, std::string* what) {
  // A section word, a keyword and a value it cannot take there: the value
  // replaces the keyword's first line in the section, or the line is added
  // after the section word.
  static const std::string kBreakages =
      "FILE SIZE 0,FILE SIZE 3,FILE SIZE 65535,FILE PAGE_SIZE 1000,FILE FORMAT sideways,"
      "FILE ADDRESSING fixed,FILE ADDRESSING 4,FILE DENSITY 49,FILE KEYS 256,FILE PORT_INT 1:3,"
      "FILE PORT_INT 0:4,FILE SEED 0,FILE NAME \"\",KEY START 0,KEY START 65535,KEY POSITION -1,"
      "KEY LENGTH 0,KEY LENGTH 200:100,KEY TYPE float,KEY ORDER sideways,KEY DENSITY 101,"
      "KEY DUPLICATE_ORDER both,KEY NULL replicate,KEY NULL yes,KEY MODIFIABLE yes,KEY KEY 1,";
  const uint64_t n =
      std::mt19937_64(seed)() % std::count(kBreakages.begin(), kBreakages.end(), ',');
  std::istringstream list(kBreakages);
  std::string entry, section, keyword, value;
  for (uint64_t i = 0; i <= n; ++i) std::getline(list, entry, ',');
  std::istringstream(entry) >> section >> keyword >> value;
  if (valid.revision == 4 && keyword == "SEED") keyword = "SIZE";  // SEED is ignored below 6
  *what = keyword + " " + value;
  std::string text = valid.xdl;
  section += section == "KEY" ? " 0\n" : "\n";  // key 0
  const size_t body = text.find(section) + section.size();
  if (keyword == "KEY") return text.replace(body - 2, 1, "1");
  const size_t end = text.find("\nKEY ", body), at = text.find("\n  " + keyword + " ", body - 1);
  const std::string line = "  " + keyword + " " + value + "\n";
  return at < end ? text.replace(at + 1, text.find('\n', at + 1) - at, line)
                  : text.insert(body, line);
}

}  // namespace ismgr::test
