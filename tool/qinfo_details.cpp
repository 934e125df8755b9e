#include "tool/qinfo_details.h"

#include <cstdio>
#include <cstring>

#include "ismgr/runtime/keyword.h"

namespace ismgr::tool {

namespace {

// Details of the information query that only add a number to the message
// before them.
constexpr int kDetailValueGiven = 1191;
constexpr int kDetailHighestAllowed = 1192;
constexpr int kDetailNoNumberResult = 1226;
constexpr int kDetailNoTextResult = 1227;

// The query's own messages, in the user's words.
std::string reword(const std::string& text) {
  if (text == "FQUERY: Invalid key number specified") return "no key has that number";
  if (text == "FQUERY: Invalid segment specified") return "the key has no segment of that number";
  if (text == "Invalid FQUERY option") return "no item of that name (or it abbreviates several)";
  return text;
}

}  // namespace

std::string qinfo_detail_sentence(int code, const char* text, int64_t value,
                                  const char* value_text) {
  const std::string t = text != nullptr ? text : "";
  const std::string n = std::to_string(value);
  switch (code) {
    case kDetailMessage:
      return reword(t);
    case kDetailMessageNumber:
      return t + n;
    case kDetailInvalidOption:
      return "the item asked for was \"" + t + "\"";
    case kDetailValueGiven:
      return "the number given was " + n;
    case kDetailHighestAllowed:
      return value < 0 ? "there is none to choose from" : "the highest number allowed is " + n;
    case kDetailNoNumberResult:
      return "the item gives a number, and no place for it was given";
    case kDetailNoTextResult:
      return "the item gives a text, and no place for it was given";
    default:
      if (value_text != nullptr) return t.empty() ? value_text : t + " " + value_text;
      if (t.empty()) return "detail " + std::to_string(code) + ": " + n;
      return value != 0 ? t + " " + n : t;
  }
}

void print_qinfo_detail(void*, int code, const char* text, int64_t value, const char* value_text) {
  const std::string sentence = qinfo_detail_sentence(code, text, value, value_text);
  if (!sentence.empty()) std::fprintf(stderr, "qinfo: %s\n", sentence.c_str());
}

}  // namespace ismgr::tool
