// qcheck: verifies the index trees of ISAM files without changing them, and
// reports how their index space is used.
//
//   qcheck [-s] [-j] [-l] FILE...
//
// Each file is opened as qdesc opens it: for input, without record locking
// (with -l: with the file lock, held for the whole check), and through its
// data file alone when the index cannot be opened, which then leaves no
// trees to check. Exit 0 when every file is sound, 1 when a problem was
// found, 2 when a file could not be opened or read, or on a usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ismgr/channel/channel.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/isam/isam_open.h"
#include "ismgr/isam/tree_check.h"
#include "ismgr/platform/platform.h"
#include "ismgr/platform/terminal.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"
#include "tool/out.h"
#include "tool/qcheck_report.h"

namespace {

// Input, ISAM file, IM_NOLOCK; without IM_NOLOCK when the lock is held.
constexpr uint32_t kCheckMode = 0x1000042;
constexpr uint32_t kLockedCheckMode = 0x42;

struct Options {
  bool statistics = false;
  bool json = false;
  bool lock = false;
  std::vector<std::string> files;
};

int usage(const char* program) {
  std::fprintf(stderr, "usage: %s [-s] [-j] [-l] FILE...\n", program ? program : "qcheck");
  std::fprintf(stderr,
               "  -s  statistics per key (levels, blocks, entries, fill)\n"
               "  -j  one JSON object per file\n"
               "  -l  hold the file lock while checking\n");
  return 2;
}

bool parse(int argc, char** argv, Options* o) {
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (!options_end && a[0] == '-' && a[1] != '\0') {
      if (std::strcmp(a, "--") == 0) {
        options_end = true;
        continue;
      }
      for (const char* c = a + 1; *c; ++c) {
        if (*c == 's') {
          o->statistics = true;
        } else if (*c == 'j') {
          o->json = true;
        } else if (*c == 'l') {
          o->lock = true;
        } else {
          std::fprintf(stderr, "qcheck: unknown option -%c\n", *c);
          return false;
        }
      }
      continue;
    }
    o->files.emplace_back(a);
  }
  return !o->files.empty();
}

// "%QCHECK-E-nn" with the status message, then the file named.
void report_status(int code, const std::string& name) {
  const char* message = ismgr::status_message(code);
  std::fprintf(stderr, "\n%%QCHECK-E-%02d: %s\n", code,
               message != nullptr ? message : "Unknown error code");
  std::fprintf(stderr, "%%QCHECK-I-01: File specified was %s\n", name.c_str());
}

int current_code() {
  const int code = ismgr::default_status()->code;
  return code != 0 ? code : ismgr::kStatusBadFileControl;
}

// An open channel, closed when it goes.
struct Channel {
  ismgr::channel* ch = nullptr;
  ~Channel() {
    if (ch != nullptr) ismgr::channel_close(ch, 0, nullptr);
  }
};

// Opens as the description does; 0 or the status of the failure. A file
// whose index cannot be opened has no trees to check, so the data-file
// retry only tells whether the status of the first open is the one to give.
int open_file(const std::string& name, bool lock, Channel* out) {
  const uint32_t mode = lock ? kLockedCheckMode : kCheckMode;
  ismgr::default_status()->open_flags = ismgr::kOpenFlagNetworkOk;
  out->ch = ismgr::channel_open(name.c_str(), mode, 0, 0, nullptr, nullptr);
  if (out->ch != nullptr) return 0;
  const int first = current_code();
  if (first == ismgr::kStatusIncompatible) return first;
  ismgr::default_status()->open_flags = ismgr::kOpenFlagDataFileOnly;
  Channel retry;
  retry.ch = ismgr::channel_open(name.c_str(), mode, 0, 0, nullptr, nullptr);
  return retry.ch != nullptr ? first : current_code();
}

std::string key_name(const ismgr::KeyDescriptor& k) {
  std::string name(k.key_name.data(), strnlen(k.key_name.data(), k.key_name.size()));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
  return name;
}

// Checks one file: 0 sound, 1 problems, 2 not checked.
int check(const std::string& name, const Options& o, bool progress) {
  Channel file;
  int code = open_file(name, o.lock, &file);
  auto* fc = file.ch != nullptr ? static_cast<ismgr::IsamFileControl*>(file.ch->handle) : nullptr;
  if (code == 0 && (fc == nullptr || fc->index_handle == ismgr::platform::kInvalidHandle)) {
    code = ismgr::kStatusCannotOpenIndex;
  }
  ismgr::TreeCheckReport report;
  if (code == 0) {
    ismgr::TreeCheckOptions options;
    options.hold_lock = o.lock;
    if (progress) {
      options.progress = [&name](uint64_t done, uint64_t size) {
        std::fprintf(
            stderr, "\rqcheck: %s: %3.0f %%", name.c_str(),
            size == 0 ? 100.0 : 100.0 * static_cast<double>(done) / static_cast<double>(size));
      };
    }
    try {
      report = ismgr::check_file_trees(fc, options);
    } catch (const ismgr::StatusError& e) {
      code = e.code();
    } catch (const std::bad_alloc&) {
      code = ismgr::kStatusNoMemory;
    }
    if (progress) std::fprintf(stderr, "\r\033[K");
  }
  if (code != 0) {
    report_status(code, name);
    if (o.json) {
      std::fputs(ismgr::tool::json_failure(name, code, ismgr::status_message(code)).c_str(),
                 stdout);
    }
    return 2;
  }
  std::vector<std::string> names;
  for (const ismgr::KeyDescriptor& k : fc->keys) names.push_back(key_name(k));
  const std::string text = o.json ? ismgr::tool::json_report(name, report, names)
                                  : ismgr::tool::text_report(name, report, names, o.statistics);
  std::fputs(text.c_str(), stdout);
  return report.problem_count == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  ismgr::platform::guard_standard_streams();
  Options o;
  if (!parse(argc, argv, &o)) return usage(argc > 0 ? argv[0] : nullptr);
  ismgr::ismgr_control* ctl = ismgr::ismgr_init();
  if (!o.lock) ismgr::platform::put_env("ENABLE_NOLOCK=1");
  const bool progress = ismgr::platform::is_terminal(2);
  int status = 0;
  bool written = true;
  for (const std::string& name : o.files) {
    const int rc = check(name, o, progress);
    if (rc > status) status = rc;
    // Each file's report goes out before the next file's errors; output
    // that cannot be written is said once, and fails the run.
    if (written && !ismgr::tool::output_complete(stdout, "qcheck")) written = false;
    if (!written) status = 2;
  }
  ismgr::ismgr_shutdown(ctl);
  return status;
}
