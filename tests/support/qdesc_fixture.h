// Crafted file views and a fake file opener for the description tests.
#ifndef ISMGR_TESTS_SUPPORT_QDESC_FIXTURE_H_
#define ISMGR_TESTS_SUPPORT_QDESC_FIXTURE_H_

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tool/describe_run.h"
#include "tool/report.h"

namespace ismgr::tool::testing {

// Data file contents and file sizes served from memory.
class MemoryIo : public DescribeIo {
 public:
  std::vector<uint8_t> data;
  int64_t index_size = 0;
  bool sizes_fail = false;
  bool read_data(uint64_t offset, void* buffer, uint32_t count) override {
    if (offset > data.size() || count > data.size() - offset) return false;
    std::memcpy(buffer, data.data() + offset, count);
    return true;
  }
  bool index_file_size(int64_t* size) override {
    *size = index_size;
    return !sizes_fail;
  }
  bool data_file_size(int64_t* size) override {
    *size = static_cast<int64_t>(data.size());
    return !sizes_fail;
  }
};

// A revision-6 unpatched file with static vectoring, 4 KB pages, 512-byte
// records and one unsegmented ascending alpha key CUSTNO of 10 bytes at
// position 1.
inline FileView basic_file() {
  FileView f;
  f.magic = 0x5CA5;
  f.revision = 6;
  f.file_flags = 0x18;
  f.key_count = 1;
  f.page_units = 16;
  f.max_key_size = 10;
  f.record_size = 512;
  f.record_overhead = 8;
  f.index_entry_width = 4;
  std::memcpy(f.creation_version.data(), "060112a", 7);
  KeyView k;
  k.seg_type[0] = 0x21;
  k.seg_length[0] = 10;
  k.key_size = 10;
  std::memcpy(k.key_name.data(), "CUSTNO          ", 16);
  k.root_low = 0x1000;
  k.depth = 1;
  f.keys.push_back(k);
  return f;
}

inline void set_name(KeyView* k, const char* name) {
  k->key_name.fill(' ');
  std::memcpy(k->key_name.data(), name, std::min<size_t>(16, std::strlen(name)));
}

// Opens names from a table; a name missing from it fails with status 20.
class FakeOpener : public FileOpener {
 public:
  struct Entry {
    FileView view;
    MemoryIo io;
    bool in_progress_sort = false;
  };
  std::map<std::string, std::shared_ptr<Entry>> files;
  std::vector<std::string> opened;
  int open_channels = 0;

  class Opened : public OpenedFile {
   public:
    Opened(std::shared_ptr<Entry> e, int* channels) : entry_(std::move(e)), channels_(channels) {
      ++*channels_;
    }
    ~Opened() override { --*channels_; }
    const FileView& view() const override { return entry_->view; }
    DescribeIo& io() override { return entry_->io; }

   private:
    std::shared_ptr<Entry> entry_;
    int* channels_;
  };

  Entry& add(const std::string& name, FileView view) {
    auto e = std::make_shared<Entry>();
    e->view = std::move(view);
    files[name] = e;
    return *e;
  }

  std::unique_ptr<OpenedFile> open(DescribeContext& ctx, const std::string& name) override {
    opened.push_back(name);
    auto it = files.find(name);
    StringSink none;
    if (it == files.end()) report_status(ctx.err ? *ctx.err : none, 20, name.c_str());
    ctx.in_progress_sort = it->second->in_progress_sort;
    return std::make_unique<Opened>(it->second, &open_channels);
  }
};

}  // namespace ismgr::tool::testing

#endif  // ISMGR_TESTS_SUPPORT_QDESC_FIXTURE_H_
