// Feeds arbitrary bytes to the XDL reader and the description parser, both
// as an XDL file's contents and directly as a description string.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ismgr/describe/description_reader.h"
#include "ismgr/describe/xdl_parser.h"
#include "ismgr/runtime/status.h"

namespace {

void parse(const std::string& description, int revision) {
  std::string name;
  const char* cursor = description.c_str();
  try {
    ismgr::build_file_description(cursor, &name, revision);
  } catch (const ismgr::StatusError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const int revision = size > 0 && (data[0] & 1) ? 4 : 6;
  parse(input, revision);
  try {
    std::string current;
    parse(ismgr::description_from_xdl(input, "fuzz.xdl", &current), revision);
  } catch (const ismgr::StatusError&) {
  }
  return 0;
}
