// The table of open handles: what each descriptor opened by open_file needs
// beyond the descriptor itself (its lock descriptors, its locked ranges).
#include <mutex>
#include <unordered_map>

#include "ismgr/platform/internal.h"

namespace ismgr::platform::internal {

namespace {
std::mutex& table_mutex() {
  static std::mutex m;
  return m;
}
std::unordered_map<int, HandleInfo>& table() {
  static auto* t = new std::unordered_map<int, HandleInfo>();  // lives until exit
  return *t;
}
}  // namespace

void register_handle(int fd, HandleInfo info) {
  std::lock_guard<std::mutex> lock(table_mutex());
  table()[fd] = std::move(info);
}

bool unregister_handle(int fd, HandleInfo* info) {
  std::lock_guard<std::mutex> lock(table_mutex());
  auto it = table().find(fd);
  if (it == table().end()) return false;
  *info = std::move(it->second);
  table().erase(it);
  return true;
}

bool lookup_handle(int fd, HandleInfo* info) {
  std::lock_guard<std::mutex> lock(table_mutex());
  auto it = table().find(fd);
  if (it == table().end()) return false;
  *info = it->second;
  return true;
}

bool with_handle(int fd, const std::function<void(HandleInfo&)>& fn) {
  std::lock_guard<std::mutex> lock(table_mutex());
  auto it = table().find(fd);
  if (it == table().end()) return false;
  fn(it->second);
  return true;
}

}  // namespace ismgr::platform::internal
