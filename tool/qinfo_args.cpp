#include "tool/qinfo_args.h"

#include <cstring>

namespace ismgr::tool {

bool parse_count(const char* text, int32_t minimum, int32_t* out) {
  if (text == nullptr || *text == '\0') return false;
  int64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) return false;
  }
  if (value < minimum) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

namespace {

bool number(const char* text, int32_t minimum, const char* what, int32_t* out, std::string* error) {
  if (parse_count(text, minimum, out)) return true;
  *error = std::string(what) + " \"" + text + "\" is not a whole number of " +
           std::to_string(minimum) + " or more";
  return false;
}

}  // namespace

QinfoParse parse_qinfo_args(int argc, const char* const* argv, QinfoArgs* args,
                            std::string* error) {
  int at = 1;
  QinfoMode mode = QinfoMode::kItem;
  if (at < argc && argv[at][0] == '-') {
    const char* option = argv[at];
    if (std::strcmp(option, "-k") == 0) {
      mode = QinfoMode::kKeyText;
    } else if (std::strcmp(option, "-s") == 0) {
      mode = QinfoMode::kStatistics;
    } else if (std::strcmp(option, "-n") == 0) {
      mode = QinfoMode::kKeyByName;
    } else if (std::strcmp(option, "-p") == 0) {
      mode = QinfoMode::kKeyByPosition;
    } else {
      return QinfoParse::kUsage;
    }
    ++at;
  }
  const int rest = argc - at;
  const char* const* a = argv + at;
  args->mode = mode;
  switch (mode) {
    case QinfoMode::kItem:
      if (rest < 2 || rest > 4) return QinfoParse::kUsage;
      args->item = a[1];
      if (rest >= 3 && !number(a[2], 0, "key", &args->key, error)) return QinfoParse::kBadNumber;
      if (rest == 4 && !number(a[3], 0, "segment", &args->segment, error)) {
        return QinfoParse::kBadNumber;
      }
      break;
    case QinfoMode::kKeyText:
      if (rest != 2) return QinfoParse::kUsage;
      if (!number(a[1], 0, "key", &args->key, error)) return QinfoParse::kBadNumber;
      break;
    case QinfoMode::kStatistics:
      if (rest != 1) return QinfoParse::kUsage;
      break;
    case QinfoMode::kKeyByName:
      if (rest != 2) return QinfoParse::kUsage;
      args->item = a[1];
      break;
    case QinfoMode::kKeyByPosition: {
      if (rest != 3) return QinfoParse::kUsage;
      int32_t start = 0;
      if (!number(a[1], 1, "start", &start, error)) return QinfoParse::kBadNumber;
      if (!number(a[2], 1, "length", &args->length, error)) return QinfoParse::kBadNumber;
      args->start = start - 1;
      break;
    }
  }
  args->file = a[0];
  if (args->file.empty()) return QinfoParse::kUsage;
  return QinfoParse::kOk;
}

}  // namespace ismgr::tool
