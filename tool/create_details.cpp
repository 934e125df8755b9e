#include "tool/create_details.h"

#include <cstdio>

#include "ismgr/runtime/keyword.h"

namespace ismgr::tool {

std::string create_detail_sentence(int code, const char* text, int64_t value,
                                   const char* value_text) {
  const std::string t = text != nullptr ? text : "";
  const std::string v = value_text != nullptr ? value_text : "";
  const std::string n = std::to_string(value);
  switch (code) {
    case kDetailMessage:
      return t;
    case kDetailKeywordSpecified:
      return t.empty() ? "keyword " + v : t + " " + v;
    case kDetailMessageNumber:
      return t + " " + n;
    case kDetailInvalidOption:
      return "invalid creation option \"" + t + "\"";
    case kDetailCreateFailed:
      return "";  // the error line that follows says why
    case kDetailRecordTooLong:
      return "record size plus record overhead is " + n + " bytes; at most 65535 are possible";
    case kDetailKeywordIgnored:
      return "\"" + t + "\" is not a known keyword and was ignored (with the rest of its line)";
    case kDetailKeywordNotAllowed:
      return "keyword " + t + " is ambiguous or not allowed here";
    case kDetailKeywordTwice:
      return "keyword " + t + " is given more than once";
    case kDetailKeywordMissing:
      return "required keyword " + t + " is missing";
    case kDetailNoValue:
      return "keyword " + t + " needs a value";
    case kDetailValueNotAllowed:
      return "value \"" + v + "\" is not allowed for keyword " + t;
    case kDetailNumberRange:
      return "value " + n + " is out of range for keyword " + t;
    case kDetailValueAmbiguous:
      return "value \"" + v + "\" is ambiguous for keyword " + t;
    case kDetailKeyNumber:
      return "the error is in the description of key " + (t.empty() ? n : t);
    default:
      if (t.empty()) return "detail " + std::to_string(code) + ": " + n;
      return value != 0 ? t + " " + n : t;
  }
}

void print_create_detail(void*, int code, const char* text, int64_t value, const char* value_text) {
  const std::string sentence = create_detail_sentence(code, text, value, value_text);
  if (!sentence.empty()) std::fprintf(stderr, "qcreate: %s\n", sentence.c_str());
}

}  // namespace ismgr::tool
