// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes away. In a Windows child's re-run of a test it
// is the parent's directory, and neither writes nor removes anything.
#ifndef ISMGR_TESTS_SUPPORT_SCRATCH_DIR_H_
#define ISMGR_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/child_process.h"

namespace ismgr::test {

// The whole file at `path` ("" when it cannot be read), in one bulk copy.
inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return std::move(text).str();
}

// `text` with every CR LF made LF: a text file as Windows writes it, read as
// it reads on POSIX systems.
inline std::string without_cr(std::string text) {
  for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
  return text;
}

class ScratchDir {
 public:
  // `in_memory`: on the memory file system where there is one, for tests
  // that make and delete thousands of files.
  explicit ScratchDir(bool in_memory = false) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const bool shm = in_memory && std::filesystem::is_directory("/dev/shm");
    // Written with "/" on every system, as the library writes the names it
    // builds.
    path_ = scratch_path(
                (shm ? std::filesystem::path("/dev/shm") : std::filesystem::temp_directory_path()) /
                ("ismgr-test-" + std::to_string(stamp) + "-" + std::to_string(counter++)))
                .generic_string();
    if (!in_child_rerun()) std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    if (in_child_rerun()) return;
    std::error_code ec;
#ifdef _WIN32
    // A read-only file cannot be deleted there.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ec)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
    }
#endif
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;

  const std::filesystem::path& path() const {
    return path_;
  }
  std::string file(const std::string& leaf) const {
    return (path_ / leaf).generic_string();
  }
  // Creates (or replaces) `leaf` with `contents`; returns its full name.
  std::string write(const std::string& leaf, const std::string& contents) const {
    if (!in_child_rerun()) std::ofstream(file(leaf), std::ios::binary) << contents;
    return file(leaf);
  }
  std::string read(const std::string& leaf) const {
    return read_file(file(leaf));
  }
  bool exists(const std::string& leaf) const {
    return std::filesystem::exists(path_ / leaf);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_SCRATCH_DIR_H_
