// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes away.
#ifndef ISMGR_TESTS_SUPPORT_SCRATCH_DIR_H_
#define ISMGR_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace ismgr::test {

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("ismgr-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& leaf) const { return (path_ / leaf).string(); }
  // Creates (or replaces) `leaf` with `contents`; returns its full name.
  std::string write(const std::string& leaf, const std::string& contents) const {
    std::ofstream(file(leaf), std::ios::binary) << contents;
    return file(leaf);
  }
  std::string read(const std::string& leaf) const {
    std::ifstream in(file(leaf), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool exists(const std::string& leaf) const { return std::filesystem::exists(path_ / leaf); }

 private:
  std::filesystem::path path_;
};

}  // namespace ismgr::test

#endif  // ISMGR_TESTS_SUPPORT_SCRATCH_DIR_H_
