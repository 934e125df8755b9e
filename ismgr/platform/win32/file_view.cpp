// A file view on Windows reads every stretch into the view's buffer with a
// positioned read; mapped windows are a speed-up of the POSIX build only.
#include "ismgr/platform/platform.h"

namespace ismgr::platform {

bool FileView::map_window(uint64_t, size_t) {
  return false;
}

void FileView::unmap_window() {}

bool FileView::shrunk() const {
  return false;
}

}  // namespace ismgr::platform
