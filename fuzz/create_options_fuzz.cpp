// Feeds arbitrary option strings to the creation options. The first two
// bytes choose the record size, the rest is the name with its options.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ismgr/describe/create_options.h"
#include "ismgr/runtime/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  ismgr::FileDescription description;
  description.record_size = static_cast<uint16_t>(data[0] | (data[1] << 8));
  std::string name(reinterpret_cast<const char*>(data + 2), size - 2);
  std::vector<ismgr::PortIntEntry> ports;
  std::vector<uint8_t> map(description.record_size / 2);
  ismgr::CreateText text;
  try {
    ismgr::apply_create_options(&name, description, &ports, &map, &text, data[0] & 1 ? 6 : 4);
    if (ports.size() > description.port_int_count) __builtin_trap();
  } catch (const ismgr::StatusError&) {
  }
  return 0;
}
