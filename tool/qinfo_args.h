// The command line of qinfo:
//
//   qinfo FILE ITEM [KEY [SEGMENT]]   the file information query for ITEM
//   qinfo -k FILE KEY                 the key parameter text of KEY
//   qinfo -s FILE                     the file statistics text
//   qinfo -n FILE NAME                the number of the key named NAME
//   qinfo -p FILE START LENGTH        the number of the key at START
//                                     (counted from 1) and LENGTH
#ifndef ISMGR_TOOL_QINFO_ARGS_H_
#define ISMGR_TOOL_QINFO_ARGS_H_

#include <cstdint>
#include <string>

namespace ismgr::tool {

enum class QinfoMode { kItem, kKeyText, kStatistics, kKeyByName, kKeyByPosition };

struct QinfoArgs {
  QinfoMode mode = QinfoMode::kItem;
  std::string file;
  std::string item;     // kItem: the item; kKeyByName: the key name
  int32_t key = 0;      // kItem, kKeyText
  int32_t segment = 0;  // kItem
  int32_t start = 0;    // kKeyByPosition: counted from 0, as the key descriptors count
  int32_t length = 0;   // kKeyByPosition
};

constexpr const char* kQinfoUsage = "usage: qinfo [-k|-s|-n|-p] file item [key [segment]]\n";

enum class QinfoParse {
  kOk,
  kUsage,      // wrong option or number of arguments: print the usage
  kBadNumber,  // *error holds the message (without a line end)
};

// Parses argv[1..argc-1].
QinfoParse parse_qinfo_args(int argc, const char* const* argv, QinfoArgs* args, std::string* error);

// A whole number of `minimum` or more that fits 32 bits, written with decimal
// digits only (no sign, no blanks).
bool parse_count(const char* text, int32_t minimum, int32_t* out);

}  // namespace ismgr::tool

#endif  // ISMGR_TOOL_QINFO_ARGS_H_
