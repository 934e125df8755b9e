#include "ismgr/isam/isam_io.h"

#include <cerrno>

#include "ismgr/fileio/file_io.h"
#include "ismgr/fileio/names.h"

namespace ismgr {

namespace p = platform;

namespace {

p::Handle open_isam_file(const std::string& name, bool update, int share, bool write_through,
                         void* buffer, uint32_t count, uint32_t* got) {
  int flags = update ? kOpenReadWrite : 0;
  if (write_through) flags |= kOpenWriteThrough;
  int share_code = kShareDenyNone;
  if (share & kIsamShareDenyReadWrite) {
    share_code = kShareDenyReadWrite;
  } else if (share & kIsamShareDenyWrite) {
    share_code = kShareDenyWrite;
  }
  p::Handle h = buffer != nullptr
                    ? file_open_reading(name.c_str(), flags, share_code, buffer, count, got)
                    : file_open(name.c_str(), flags, share_code, 0666);
  if (h == p::kInvalidHandle && errno == EACCES && p::last_error() == p::kErrSharingViolation) {
    errno = -2;  // in use by another opener
  }
  return h;
}

}  // namespace

p::Handle isam_file_open(const std::string& name, bool update, int share, bool write_through) {
  return open_isam_file(name, update, share, write_through, nullptr, 0, nullptr);
}

p::Handle isam_file_open_reading(const std::string& name, bool update, int share,
                                 bool write_through, void* buffer, uint32_t count, uint32_t* got) {
  return open_isam_file(name, update, share, write_through, buffer, count, got);
}

void isam_file_close(p::Handle handle) {
  if (handle != p::kInvalidHandle) file_close(handle);
}

int64_t isam_seek(p::Handle handle, int64_t position) {
  return file_seek_width(handle, position, 0, 64);
}

int64_t isam_read(p::Handle handle, void* buffer, uint32_t count) {
  uint32_t total = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (total < count) {
    const int64_t done = file_read(handle, out + total, count - total);
    if (done < 0) return -1;
    if (done == 0) break;
    total += static_cast<uint32_t>(done);
  }
  return total;
}

int64_t isam_read_at(p::Handle handle, void* buffer, uint32_t count, int64_t position) {
  if (isam_seek(handle, position) < 0) return -1;
  return isam_read(handle, buffer, count);
}

int64_t isam_pread(p::Handle handle, void* buffer, uint32_t count, int64_t position) {
  return file_pread(handle, buffer, count, position);
}

int64_t isam_write_at(p::Handle handle, const void* buffer, uint32_t count, int64_t position) {
  return file_write_at(handle, buffer, count, position, true);
}

int64_t isam_file_size(p::Handle handle) {
  int64_t size = 0;
  if (!p::file_size(handle, &size)) {
    errno = errno_for_os_error(p::last_error());
    return -1;
  }
  return size;
}

void isam_flush_handle(p::Handle handle) {
  if (handle != p::kInvalidHandle) file_flush(handle, p::kInvalidHandle);
}

int isam_delete_file(const std::string& name) {
  return file_delete(name.c_str());
}

bool isam_file_exists(const std::string& name) {
  FileStat status;
  return file_status(name.c_str(), &status) == 0;
}

bool isam_large_file_probe(p::Handle handle, const std::string& name) {
  return large_file_probe(handle, name.c_str()) == 1;
}

bool isam_on_network(const std::string& name) {
  return on_network_drive(name.c_str());
}

}  // namespace ismgr
