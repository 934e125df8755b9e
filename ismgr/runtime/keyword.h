// The one keyword matcher of the layer and the detail message hook.
//
// match_keyword is shared by the description parser, the creation option
// string and both information queries: keywords are case-insensitive, may be
// shortened to any unambiguous prefix, an exact match wins over earlier
// prefix matches, and a word beginning with "no" is looked up without those
// two letters and reported as negated.
//
// The detail message hook is an optional process-wide function that receives
// the diagnostics of the parser, the open and the queries (which keyword,
// which value, which key). Without a hook details are dropped and only the
// status code reaches the caller.
#ifndef ISMGR_RUNTIME_KEYWORD_H_
#define ISMGR_RUNTIME_KEYWORD_H_

#include <cstdint>
#include <string_view>

namespace ismgr {

inline constexpr int kKeywordNotFound = -1;
inline constexpr int kKeywordAmbiguous = -2;
// Longest text match_keyword looks up; longer texts are not found.
inline constexpr size_t kMaxKeywordLength = 80;

// Looks `text` up in `table`, an array of lower-case keyword strings ended by
// an empty string (or a null pointer). Returns the 0-based index of the match,
// kKeywordNotFound or kKeywordAmbiguous.
//
// Only the ASCII letters A to Z are folded. When the text is longer than one
// character and begins with "no" (any case), the two letters are dropped and
// *negated is set to 1, else 0; the remaining text may be empty, which matches
// every entry. `negated` may be null: callers whose own rule is "strip a
// leading no and ignore it" simply pass null.
int match_keyword(std::string_view text, const char* const* table, int* negated = nullptr);

// Detail codes given to the hook.
enum DetailCode : int {
  kDetailMessage = 1052,           // free text; value 0
  kDetailKeywordSpecified = 1053,  // "Keyword specified:"; value is the keyword (text value)
  kDetailMessageNumber = 1054,     // message; value is a number
  kDetailInvalidOption = 1142,     // the creation option text (at most 128 characters)
  kDetailCreateFailed = 1149,      // file creation failed; no text
  kDetailRecordTooLong = 1164,     // record overhead + size; value is the sum
  kDetailKeywordIgnored =
      1217,  // a word in a section that is no keyword, dropped; text is the word
  kDetailKeywordNotAllowed = 1218,  // keyword ambiguous or not allowed here; text is the keyword
  kDetailKeywordTwice = 1219,       // text is the keyword's name
  kDetailKeywordMissing = 1220,     // text is the missing keyword's name
  kDetailNoValue = 1221,            // text is the keyword as written
  kDetailValueNotAllowed = 1222,    // text is the keyword's name; value is the value (text value)
  kDetailNumberRange = 1223,        // text is the keyword's name; value is the number
  kDetailValueAmbiguous = 1224,     // text is the keyword's name; value is the value (text value)
  kDetailKeyNumber = 1225,          // text is the key number in decimal; value is the key number
};

// The hook: context (always null from this layer), detail code, text (may be
// null) and a 64-bit value. For the codes where detail_value_is_text() is
// true the value carries the address of a NUL-terminated text that is valid
// only during the call; read it with detail_value_text().
using DetailHook = void (*)(void* context, int code, const char* text, int64_t value);

// Installs `hook` (null removes it) and returns the previous one. Install it
// before a second thread enters the layer.
DetailHook set_detail_hook(DetailHook hook);
DetailHook detail_hook();

// Passes one detail to the hook, if any.
void report_detail(void* context, int code, const char* text, int64_t value);
// Passes a detail whose value is a text (1053, 1222, 1224).
void report_detail_text(void* context, int code, const char* text, const char* value_text);

bool detail_value_is_text(int code);
// The text carried in the value of a detail whose value is a text; "" for null.
const char* detail_value_text(int64_t value);

}  // namespace ismgr

#endif  // ISMGR_RUNTIME_KEYWORD_H_
