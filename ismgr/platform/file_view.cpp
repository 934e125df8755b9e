// The system-independent half of a file view: windows where the system maps
// them (map_window, one per system), a positioned read into the view's own
// buffer otherwise.
#include <new>

#include "ismgr/platform/platform.h"

namespace ismgr::platform {

namespace {

// Page-aligned, since the kernel copies into an unaligned buffer several
// times more slowly.
constexpr std::align_val_t kBufferAlign{4096};

}  // namespace

void FileView::FreeAligned::operator()(uint8_t* p) const {
  ::operator delete[](p, kBufferAlign);
}

FileView::~FileView() {
  unmap_window();
}

const uint8_t* FileView::view(uint64_t offset, size_t length) {
  if (offset > size_ || length > size_ - offset || length > UINT32_MAX ||
      offset > static_cast<uint64_t>(INT64_MAX)) {
    set_last_error(kErrInvalidParameter);
    return nullptr;
  }
  static const uint8_t nothing = 0;
  if (length == 0) return &nothing;
  if (window_ != nullptr && offset >= window_offset_ &&
      offset + length <= window_offset_ + window_length_) {
    return window_ + (offset - window_offset_);
  }
  if (!map_refused_ && map_window(offset, length)) return window_ + (offset - window_offset_);
  map_refused_ = true;  // a file that cannot be mapped is read from here on
  if (length > buffer_size_) {
    buffer_.reset(static_cast<uint8_t*>(::operator new[](length, kBufferAlign)));
    buffer_size_ = length;
  }
  uint32_t done = 0;
  if (!read_at(handle_, buffer_.get(), static_cast<uint32_t>(length), static_cast<int64_t>(offset),
               &done)) {
    return nullptr;
  }
  if (done != length) {  // the file is shorter than the caller knew it
    set_last_error(kErrHandleEof);
    return nullptr;
  }
  return buffer_.get();
}

}  // namespace ismgr::platform
