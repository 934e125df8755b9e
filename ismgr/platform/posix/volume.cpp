// Volume queries answered from the file-system type (statfs magic numbers).
#include <sys/statfs.h>

#include <cerrno>
#include <string>

#include "ismgr/platform/internal.h"
#include "ismgr/platform/platform.h"

namespace ismgr::platform {

namespace {

// File-system magic numbers (as the kernel reports them in f_type).
constexpr uint32_t kNfs = 0x6969;
constexpr uint32_t kSmb = 0x517B;
constexpr uint32_t kCifs = 0xFF534D42;
constexpr uint32_t kSmb2 = 0xFE534D42;
constexpr uint32_t kNcp = 0x564C;
constexpr uint32_t kCoda = 0x73757245;
constexpr uint32_t kAfs = 0x5346414F;
constexpr uint32_t kKernelAfs = 0x6B414653;
constexpr uint32_t k9p = 0x01021997;
constexpr uint32_t kCeph = 0x00C36400;
constexpr uint32_t kOcfs2 = 0x7461636F;
constexpr uint32_t kGfs2 = 0x01161970;
constexpr uint32_t kLustre = 0x0BD00BD0;

constexpr uint32_t kExt = 0xEF53;  // ext2, ext3 and ext4
constexpr uint32_t kXfs = 0x58465342;
constexpr uint32_t kBtrfs = 0x9123683E;
constexpr uint32_t kTmpfs = 0x01021994;
constexpr uint32_t kRamfs = 0x858458F6;
constexpr uint32_t kZfs = 0x2FC12FC1;
constexpr uint32_t kF2fs = 0xF2F52010;
constexpr uint32_t kJfs = 0x3153464A;
constexpr uint32_t kReiserfs = 0x52654973;
constexpr uint32_t kNtfs = 0x5346544E;
constexpr uint32_t kOverlay = 0x794C7630;
constexpr uint32_t kBcachefs = 0xCA451A4E;

bool is_network_type(uint32_t type) {
  switch (type) {
    case kNfs:
    case kSmb:
    case kCifs:
    case kSmb2:
    case kNcp:
    case kCoda:
    case kAfs:
    case kKernelAfs:
    case k9p:
    case kCeph:
    case kOcfs2:
    case kGfs2:
    case kLustre:
      return true;
    default:
      return false;
  }
}

// File systems that keep files with offsets of 2^39 and beyond. FAT and the
// like are left out; so is any type not known to do so.
bool has_large_files_type(uint32_t type) {
  switch (type) {
    case kExt:
    case kXfs:
    case kBtrfs:
    case kTmpfs:
    case kRamfs:
    case kZfs:
    case kF2fs:
    case kJfs:
    case kReiserfs:
    case kNtfs:
    case kOverlay:
    case kBcachefs:
    case kNfs:
    case kCifs:
    case kSmb2:
    case kCeph:
    case kOcfs2:
    case kGfs2:
    case kLustre:
      return true;
    default:
      return false;
  }
}

// The type of the file system holding `name`, or of the nearest existing
// directory above it when the name does not exist (yet).
bool volume_type(const char* name, uint32_t* type) {
  std::string path = internal::to_posix_path(name);
  if (path.empty()) path.assign(1, '.');  // assign(): g++ 12 -O3 misreports "= literal"
  for (;;) {
    struct statfs fs;
    if (::statfs(path.c_str(), &fs) == 0) {
      *type = static_cast<uint32_t>(fs.f_type);
      return true;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
      set_last_error_from_errno(errno);
      return false;
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
      if (path == ".") {
        set_last_error(kErrPathNotFound);
        return false;
      }
      path.assign(1, '.');
    } else {
      path.resize(slash == 0 ? 1 : slash);
    }
  }
}

}  // namespace

bool is_network_path(const char* path) {
  uint32_t type = 0;
  return volume_type(path, &type) && is_network_type(type);
}

bool is_fixed_drive(const char* path) {
  uint32_t type = 0;
  return volume_type(path, &type) && !is_network_type(type);
}

bool volume_has_large_files(const char* path) {
  uint32_t type = 0;
  return volume_type(path, &type) && has_large_files_type(type);
}

}  // namespace ismgr::platform
