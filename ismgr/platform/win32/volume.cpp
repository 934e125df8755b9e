// Volume queries from the volume API: the drive type of the volume holding a
// name, and the name of its file system.
#include <cwchar>
#include <string>

#include "ismgr/platform/platform.h"
#include "ismgr/platform/win32/win32_internal.h"

namespace ismgr::platform {

namespace {

// The root of the volume holding `name` ("C:\", "\\server\share\", a mount
// point). The name need not exist.
bool volume_root(const char* name, std::wstring* root) {
  std::wstring wide;
  if (!internal::widen(name, &wide)) return false;
  if (wide.empty()) wide = L".";
  DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return internal::fail_with_system_error();
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return internal::fail_with_system_error();
  full.resize(n);
  std::wstring volume(full.size() + 2, L'\0');
  if (!::GetVolumePathNameW(full.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    return internal::fail_with_system_error();
  }
  volume.resize(std::wcslen(volume.c_str()));
  *root = volume;
  return true;
}

UINT drive_type(const char* name) {
  std::wstring root;
  if (!volume_root(name, &root)) return DRIVE_UNKNOWN;
  return ::GetDriveTypeW(root.c_str());
}

}  // namespace

// A UNC name ("\\server\share\...") is remote even where no server answers.
bool is_network_path(const char* path) {
  if (path != nullptr && (path[0] == '\\' || path[0] == '/') &&
      (path[1] == '\\' || path[1] == '/') && path[2] != '?' && path[2] != '.') {
    return true;
  }
  return drive_type(path) == DRIVE_REMOTE;
}

bool is_fixed_drive(const char* path) {
  return drive_type(path) == DRIVE_FIXED;
}

// NTFS, ReFS and exFAT keep offsets of 2^39 and more; FAT and the rest do not.
// The file system's name is asked of an open handle of the volume's root:
// the name-based query also reads the volume label from the device.
bool volume_has_large_files(const char* path) {
  std::wstring root;
  if (!volume_root(path, &root)) return false;
  HANDLE dir = ::CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (dir == INVALID_HANDLE_VALUE) return internal::fail_with_system_error();
  wchar_t file_system[MAX_PATH + 1] = {};
  const bool known = ::GetVolumeInformationByHandleW(dir, nullptr, 0, nullptr, nullptr, nullptr,
                                                     file_system, MAX_PATH + 1);
  if (!known) internal::fail_with_system_error();
  ::CloseHandle(dir);
  if (!known) return false;
  for (const wchar_t* large : {L"NTFS", L"ReFS", L"exFAT"}) {
    if (::_wcsicmp(file_system, large) == 0) return true;
  }
  return false;
}

}  // namespace ismgr::platform
