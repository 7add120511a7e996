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

void Workspace::setShared(std::shared_ptr<Workspace> workspace) {
  std::lock_guard lock(workspaceMutex);
  installedWorkspace() = std::move(workspace);
}

}  // namespace vantelkit::platform
