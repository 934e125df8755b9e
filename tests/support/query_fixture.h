// Test helper: a crafted ISAM file pair written into a scratch directory and
// opened for input through the channel layer (so that the query slots are
// reached exactly as a host program reaches them), the file information
// query asked through its channel, and the crafted files the tests share.
#ifndef ISMGR_TESTS_SUPPORT_QUERY_FIXTURE_H_
#define ISMGR_TESTS_SUPPORT_QUERY_FIXTURE_H_

#include <cstring>
#include <string>
#include <vector>

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

constexpr int32_t kUntouched = -12345;

struct Answer {
  int64_t rc = 0;
  int32_t number = kUntouched;
  std::string text;
  bool text_written = false;
  int status = -1;
};

// Asks through the channel; the text buffer starts as "#" so an answer that
// writes nothing shows, and the status starts dirty so a success must clear it.
inline Answer ask(const CraftedFile& f, const char* keyword, int key = 0, int segment = 0,
                  bool number = true, bool text = true) {
  Answer r;
  char buffer[300];
  std::memset(buffer, '#', sizeof buffer);
  buffer[sizeof buffer - 1] = '\0';
  f.ctl()->status->code = -7;
  r.rc = channel_file_info(f.ch(), number ? &r.number : nullptr, text ? buffer : nullptr, 256,
                           keyword, key, segment);
  r.status = f.ctl()->status->code;
  r.text_written = buffer[0] != '#';
  r.text = buffer;
  return r;
}

// Revision 6, two keys: CUSTNO (duplicates at the end, modifiable, density
// 80) and a three-segment key of mixed types and order.
inline IsamBuilder two_key_file() {
  IsamBuilder b;
  b.revision(6).record_length(120).record_overhead(5);
  KeySpec custno = KeySpec::alpha("CUSTNO", 4, 10, 0x04 | 0x02 | 0x08);
  custno.density = 80;
  custno.depth = 3;
  KeySpec multi;
  multi.name = "MULTI";
  multi.segments = {SegmentSpec{0x21, 20, 6}, SegmentSpec{0x04, 30, 4}, SegmentSpec{0x28, 40, 2}};
  multi.depth = 2;
  return b.add_key(custno).add_key(multi).counts(77, 1, 3, 0);
}

inline IsamBuilder one_key(int revision) {
  IsamBuilder b;
  return b.revision(revision).record_length(100).add_key(KeySpec::alpha("K", 0, 10));
}

// One key of the given type and null rule, its null value at offset 0.
inline IsamBuilder null_key_file(uint8_t key_flags, uint8_t seg_type,
                                 const std::vector<uint8_t>& value) {
  KeySpec k = KeySpec::alpha("NK", 0, 8, key_flags);
  k.segments[0].type = seg_type;
  std::vector<uint8_t> area = {static_cast<uint8_t>(value.size() + 1)};  // the count, the value
  area.insert(area.end(), value.begin(), value.end());
  IsamBuilder b;
  return b.record_length(100).add_key(k).null_values(area);
}

}  // namespace ismgr::testing

#endif  // ISMGR_TESTS_SUPPORT_QUERY_FIXTURE_H_
