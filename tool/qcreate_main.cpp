// qcreate: creates a new, empty ISAM file pair from an XDL description.
//
//   qcreate [-r] description [file]
//
// A host of the public interface: the file is created by ismgr_create()
// with the description "@description", which opens a channel in output ISAM
// mode and closes it again. The file name may carry creation options after a
// comma; without one the description's NAME names the file. -r replaces
// existing files. When the open or the close that follows a successful
// creation fails, ismgr_create() deletes the two files the creation made
// before the failure is reported: a failed qcreate leaves nothing it made
// behind.
#include <cstdio>
#include <cstring>
#include <string>

#include "ismgr/ismgr.h"
#include "ismgr/platform/terminal.h"
#include "tool/create_details.h"

namespace {

// The status of a start-up without memory.
constexpr int kNoMemory = 31;

int usage() {
  std::fputs("usage: qcreate [-r] description [file]\n", stderr);
  return 1;
}

int report(int code, const std::string& name) {
  std::fprintf(stderr, "\n%%QCREATE-E-%02d: ", code);
  const char* message = ismgr_status_text(code);
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "Unknown error code");
  std::fprintf(stderr, "%%QCREATE-I-01: File specified was %s\n", name.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  ismgr::platform::guard_standard_streams();
  bool replace = false;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "-r") == 0) {
    replace = true;
    ++arg;
  }
  const int rest = argc - arg;
  if (rest < 1 || rest > 2 || argv[arg][0] == '-' || argv[arg][0] == '\0') return usage();
  const std::string description = std::string("@") + argv[arg];
  const std::string name = rest == 2 ? argv[arg + 1] : "";

  ismgr_control* ctl = ismgr_init();
  if (ctl == nullptr) return report(kNoMemory, name);
  ismgr_set_detail_hook(ismgr::tool::print_create_detail, nullptr);

  int result = 0;
  const int code = ismgr_create(name.c_str(), description.c_str(), replace ? 1 : 0);
  if (code != 0) {
    // The name the open or close failed on (the expanded file name, or the
    // description file); the name given when there is none.
    const char* failed = ismgr_last_file_name();
    result = report(code, failed[0] != '\0' ? failed : name);
  }
  ismgr_set_detail_hook(nullptr, nullptr);
  ismgr_shutdown(ctl);
  return result;
}
