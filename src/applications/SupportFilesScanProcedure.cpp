#include "vantelkit/applications/SupportFilesScanProcedure.h"

#include <algorithm>

#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/scanning/FileCollector.h"
#include "vantelkit/scanning/FileScanProcedure.h"

namespace vantelkit {

namespace {

using Files = ApplicationSupportFiles;
using platform::Paths;

FileURL folder(const std::string& path) { return FileURL::fileURLWithPath(path, true); }

}  // namespace

std::vector<SupportFilesScanProcedure::Location> SupportFilesScanProcedure::locations() {
  return {
      {&Files::libraryPreferences, folder(Paths::system("/Library/Preferences")), 2},
      {&Files::userLibraryPreferences, folder(Paths::inHome("Library/Preferences")), 2},
      {&Files::userLibrarySavedApplicationState, folder(Paths::inHome("Library/Saved Application State")), 1},
      {&Files::userLibraryContainers, folder(Paths::inHome("Library/Containers")), 1},
      {&Files::libraryApplicationSupport, folder(Paths::system("/Library/Application Support")), 1},
      {&Files::userLibraryCaches, folder(Paths::inHome("Library/Caches")), 1},
      {&Files::userLibraryCookies, folder(Paths::inHome("Library/Cookies")), 1},
      {&Files::userLibraryApplicationSupport, folder(Paths::inHome("Library/Application Support")), 1},
      {&Files::userLibraryApplicationScripts, folder(Paths::inHome("Library/Application Scripts")), 1},
      {&Files::userLibraryGroupContainers, folder(Paths::inHome("Library/Group Containers")), 1},
      {&Files::libraryLogs, folder(Paths::system("/Library/Logs")), 2},
      {&Files::libraryApplicationSupportCrashReporter,
       folder(Paths::system("/Library/Application Support/CrashReporter")), 2},
      {&Files::userLibraryApplicationSupportCrashReporter,
       folder(Paths::inHome("Library/Application Support/CrashReporter")), 1},
      {&Files::userLibrary, folder(Paths::inHome("Library")), 1},
      {&Files::libraryLaunchagents, folder(Paths::system("/Library/LaunchAgents")), 1},
      {&Files::librarySecuritySecurityAgentsPlugins, folder(Paths::system("/Library/Security/SecurityAgentPlugins")),
       1},
      {&Files::libraryInternetPlugins, folder(Paths::system("/Library/Internet Plug-Ins")), 2},
      {&Files::libraryPrivilegedHelperTools, folder(Paths::system("/Library/PrivilegedHelperTools")), 1},
      {&Files::applications, folder(Paths::system("/Applications")), 1},
      {&Files::applicationsUtilities, folder(Paths::system("/Applications/Utilities")), 1},
  };
}

SupportFilesScanProcedure::SupportFilesScanProcedure(Key) : _supportFiles(std::make_shared<ApplicationSupportFiles>()) {}

std::shared_ptr<SupportFilesScanProcedure> SupportFilesScanProcedure::make() {
  auto procedure = std::make_shared<SupportFilesScanProcedure>(Key());
  std::weak_ptr<SupportFilesScanProcedure> weakProcedure = procedure;

  auto scans = std::make_shared<GroupProcedure>();
  for (const Location& location : locations()) {
    auto collector = std::make_shared<FileCollector>();
    auto scan = std::make_shared<FileScanProcedure>(location.url, std::vector<std::shared_ptr<FileCollector>>{collector},
                                                    false, location.depthLimit);
    scan->setQualityOfService(QualityOfService::userInitiated);
    auto store = resultProcessingProcedure(
        scan, [weakProcedure, collector, field = location.field](const std::shared_ptr<DiskScanResult>& result) {
          auto strong = weakProcedure.lock();
          if (!strong) return;
          (*strong->_supportFiles).*field = collector->files();
          if (!result || result->unreadableEntries().empty()) return;
          std::lock_guard lock(strong->_unreadableMutex);
          auto& unreadable = strong->_unreadable;
          unreadable.insert(unreadable.end(), result->unreadableEntries().begin(), result->unreadableEntries().end());
        });
    scans->addChild(std::make_shared<GroupProcedure>(std::vector<std::shared_ptr<Operation>>{scan, store}));
  }

  auto result = std::make_shared<BlockProcedure>([weakProcedure](BlockProcedure& block) {
    if (!block.isCancelled()) {
      if (auto strong = weakProcedure.lock()) strong->setSuccess(strong->_supportFiles);
    }
    block.finish();
  });
  result->addDependency(scans);
  procedure->addChild(scans);
  procedure->addChild(result);
  return procedure;
}

std::vector<DiskScanResult::UnreadableEntry> SupportFilesScanProcedure::unreadable() const {
  std::vector<DiskScanResult::UnreadableEntry> entries;
  {
    std::lock_guard lock(_unreadableMutex);
    entries = _unreadable;
  }
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return entries;
}

}  // namespace vantelkit
