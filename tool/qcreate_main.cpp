// qcreate: creates a new, empty ISAM file pair from an XDL description.
//
//   qcreate [-r] description [file]
//
// The file is created by opening a channel in output ISAM mode with the
// description "@description" and closing it again. The file name may carry
// creation options after a comma; without one the description's NAME names
// the file. -r replaces existing files. When the open or the close that
// follows a successful creation fails, the two files the creation made are
// deleted again before the failure is reported: a failed qcreate leaves
// nothing it made behind.
#include <cstdio>
#include <cstring>
#include <string>

#include "ismgr/channel/channel.h"
#include "ismgr/describe/file_creation.h"
#include "ismgr/describe/open_create.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/isam/open_creation.h"
#include "ismgr/platform/platform.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/keyword.h"
#include "ismgr/runtime/status.h"
#include "tool/create_details.h"

namespace {

int usage() {
  std::fputs("usage: qcreate [-r] description [file]\n", stderr);
  return 1;
}

int report(int code, const std::string& name) {
  std::fprintf(stderr, "\n%%QCREATE-E-%02d: ", code);
  const char* message = ismgr::status_message(code);
  std::fprintf(stderr, "%s\n", message != nullptr ? message : "Unknown error code");
  std::fprintf(stderr, "%%QCREATE-I-01: File specified was %s\n", name.c_str());
  return 1;
}

// The index and data file names of the pair this run created, if any.
struct CreatedFiles {
  bool made = false;
  std::string index;
  std::string data;
};
CreatedFiles g_created;

// The open's file creation, noting the names of the pair it made.
int create_and_note(ismgr::ismgr_control* ctl, const char* description, std::string* name,
                    uint32_t sprced, std::string* failed_name) {
  const int result = ismgr::create_from_description(ctl, description, name, sprced, failed_name);
  if (result == 0) {
    g_created.made = ismgr::creation_file_names(*name, &g_created.index, &g_created.data) == 0;
  }
  return result;
}

// Deletes the pair this run created (nothing when the creation itself
// failed: it removes its own files, and files that existed before are not
// this run's).
void remove_created() {
  if (!g_created.made) return;
  ismgr::platform::delete_file(g_created.index.c_str());
  ismgr::platform::delete_file(g_created.data.c_str());
  g_created.made = false;
}

}  // namespace

int main(int argc, char** argv) {
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

  ismgr::ismgr_control* ctl = ismgr::ismgr_init();
  if (ctl == nullptr) return report(ismgr::kStatusNoMemory, name);
  ismgr::set_isam_create(create_and_note);
  ismgr::set_detail_hook(ismgr::tool::print_create_detail);

  uint32_t mode = ismgr::kModeOutput | ismgr::kModeIsam;
  if (replace) mode |= ismgr::IM_SPRCED;
  ismgr::channel* ch =
      ismgr::channel_open(ctl, name.c_str(), mode, 0, 0, nullptr, description.c_str(), nullptr);
  int result = 0;
  if (ch == nullptr) {
    const int code = ismgr::default_status()->code;
    // The open leaves the name it failed on (the expanded file name, or the
    // description file) in the current-name buffer.
    std::string shown = name;
    if (ctl->current_name != nullptr && ctl->current_name[0] != '\0') shown = ctl->current_name;
    remove_created();
    result = report(code != 0 ? code : ismgr::kStatusCannotCreate, shown);
  } else {
    const std::string opened = ch->file_name;
    int32_t code = 0;
    const int64_t closed = ismgr::channel_close(ch, 0, &code);
    if (closed < 0 || code != 0) {
      result = report(code != 0 ? code : ismgr::kStatusCannotCreate, opened);
      // A failed close leaves the channel open: release it regardless.
      if (closed < 0) ismgr::channel_close(ch, ismgr::kClosePurge, nullptr);
      remove_created();
    }
  }
  ismgr::set_detail_hook(nullptr);
  ismgr::ismgr_shutdown(ctl);
  return result;
}
