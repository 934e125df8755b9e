#include "ismgr/runtime/keyword.h"

#include <atomic>
#include <cstring>

namespace ismgr {

namespace {

std::atomic<DetailHook> g_detail_hook{nullptr};

inline char fold_ascii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

int match_keyword(std::string_view text, const char* const* table, int* negated) {
  if (negated != nullptr) *negated = 0;
  if (text.empty() || text.size() > kMaxKeywordLength) return kKeywordNotFound;

  char word[kMaxKeywordLength];
  size_t length = text.size();
  for (size_t i = 0; i < length; ++i) word[i] = fold_ascii(text[i]);

  const char* start = word;
  if (length > 1 && word[0] == 'n' && word[1] == 'o') {
    if (negated != nullptr) *negated = 1;
    start += 2;
    length -= 2;
  }
  if (table == nullptr) return kKeywordNotFound;

  int found = kKeywordNotFound;
  int candidates = 0;
  for (int i = 0; table[i] != nullptr && table[i][0] != '\0'; ++i) {
    const char* entry = table[i];
    const size_t entry_length = std::strlen(entry);
    if (entry_length < length || std::memcmp(entry, start, length) != 0) continue;
    if (entry_length == length) return i;  // an exact match wins at once
    if (++candidates == 1) found = i;
  }
  if (candidates > 1) return kKeywordAmbiguous;
  return found;
}

DetailHook set_detail_hook(DetailHook hook) {
  return g_detail_hook.exchange(hook);
}

DetailHook detail_hook() {
  return g_detail_hook.load();
}

void report_detail(void* context, int code, const char* text, int64_t value) {
  DetailHook hook = g_detail_hook.load();
  if (hook != nullptr) hook(context, code, text, value);
}

void report_detail_text(void* context, int code, const char* text, const char* value_text) {
  report_detail(
      context, code, text,
      static_cast<int64_t>(reinterpret_cast<intptr_t>(value_text != nullptr ? value_text : "")));
}

bool detail_value_is_text(int code) {
  return code == kDetailKeywordSpecified || code == kDetailValueNotAllowed ||
         code == kDetailValueAmbiguous;
}

const char* detail_value_text(int64_t value) {
  const char* text = reinterpret_cast<const char*>(static_cast<intptr_t>(value));
  return text != nullptr ? text : "";
}

}  // namespace ismgr
