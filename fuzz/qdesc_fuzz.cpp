// Describes a mutated index/data file pair, as PAR and as XDL: the whole
// open and description must finish with a description or an error status.
//
// Input: u32 little-endian length n of the index file, then n bytes of index
// file, then the data file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "tool/describe_run.h"
#include "tool/open_description.h"

namespace {

void write_file(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() /
             ("qdesc-fuzz-" + std::to_string(ismgr::platform::process_id()));
    std::filesystem::create_directories(d);
    return d.string();
  }();
  static ismgr::ismgr_control* ctl = ismgr::ismgr_init();
  static std::FILE* sink = std::fopen("/dev/null", "w");
  if (size < 4 || ctl == nullptr || sink == nullptr) return 0;
  size_t n = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8 |
             static_cast<size_t>(data[2]) << 16 | static_cast<size_t>(data[3]) << 24;
  data += 4;
  size -= 4;
  if (n > size) n = size;
  const std::string base = dir + "/f";
  write_file(base + ".ism", data, n);
  write_file(base + ".is1", data + n, size - n);
  ismgr::tool::ChannelOpener opener(ctl);
  const char* par_args[] = {"qdesc", base.c_str()};
  ismgr::tool::run_qdesc(2, par_args, opener, sink, sink);
  const char* xdl_args[] = {"qdesc", "-x", base.c_str()};
  ismgr::tool::run_qdesc(3, xdl_args, opener, sink, sink);
  return 0;
}
