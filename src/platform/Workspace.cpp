#include "vantelkit/platform/Workspace.h"

#include <mutex>

#include "platform/linux/GioWorkspace.h"

namespace vantelkit::platform {

namespace {
std::mutex workspaceMutex;
std::shared_ptr<Workspace>& installedWorkspace() {
  static std::shared_ptr<Workspace> workspace;  // guarded by workspaceMutex
  return workspace;
}
}  // namespace

Workspace& Workspace::shared() {
  std::lock_guard lock(workspaceMutex);
  auto& installed = installedWorkspace();
  if (!installed) installed = makeGioWorkspace();
  return *installed;
}

std::string Workspace::localizedName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos || path.size() == 1) return std::string(path);
  return std::string(path.substr(slash + 1));
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
  std::lock_guard lock(workspaceMutex);
  installedWorkspace() = std::move(workspace);
}

}  // namespace vantelkit::platform
