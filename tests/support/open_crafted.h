// Test helper: writes a crafted ISAM file pair into a scratch directory and
// opens it for input through the channel layer, so that the query slots are
// reached exactly as a host program reaches them.
#ifndef ISMGR_TESTS_SUPPORT_OPEN_CRAFTED_H_
#define ISMGR_TESTS_SUPPORT_OPEN_CRAFTED_H_

#include <string>

#include "ismgr/channel/channel.h"
#include "ismgr/isam/file_control.h"
#include "ismgr/runtime/context.h"
#include "support/isam_builder.h"
#include "support/scratch_dir.h"

namespace ismgr::testing {

class CraftedFile {
 public:
  // Writes dir/<base>.ism and its data file and opens them (input, ISAM).
  // ok() tells whether the open succeeded; status() holds its status code.
  explicit CraftedFile(const IsamBuilder& builder, const std::string& base = "cust") {
    ctl_ = current_context();
    if (ctl_ == nullptr || !builder.write_files(dir_.path().string(), base)) return;
    ch_ = channel_open(ctl_, dir_.file(base).c_str(), 0x42, 0, 0, nullptr, nullptr, nullptr);
    status_ = ctl_->status->code;
  }
  ~CraftedFile() {
    if (ch_ != nullptr) channel_close(ch_, 0, nullptr);
  }
  CraftedFile(const CraftedFile&) = delete;
  CraftedFile& operator=(const CraftedFile&) = delete;

  bool ok() const { return ch_ != nullptr; }
  int status() const { return status_; }
  channel* ch() const { return ch_; }
  IsamFileControl* fc() const {
    return ch_ != nullptr ? static_cast<IsamFileControl*>(ch_->handle) : nullptr;
  }
  ismgr_control* ctl() const { return ctl_; }
  // The status code of the last operation on the channel.
  int code() const { return ctl_->status->code; }
  const test::ScratchDir& dir() const { return dir_; }

 private:
  test::ScratchDir dir_;
  ismgr_control* ctl_ = nullptr;
  channel* ch_ = nullptr;
  int status_ = -1;
};

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_OPEN_CRAFTED_H_
