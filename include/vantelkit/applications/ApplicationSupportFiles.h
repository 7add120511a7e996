// The candidate support files of every application, gathered once per scan from the fixed
// library folders of the system and of the user, one list per folder.
// Thread safety: each list is written once by the scan of its folder and read only after
// the whole scan has finished.
#pragma once

#include <memory>
#include <vector>

#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class ApplicationSupportFiles {
 public:
  using Nodes = std::vector<std::shared_ptr<FileNode>>;

  ApplicationSupportFiles() = default;
  ApplicationSupportFiles(const ApplicationSupportFiles&) = delete;
  ApplicationSupportFiles& operator=(const ApplicationSupportFiles&) = delete;

  Nodes applications;                            // "/Applications", depth 1
  Nodes applicationsUtilities;                   // "/Applications/Utilities", depth 1
  Nodes libraryPreferences;                      // "/Library/Preferences", depth 2
  Nodes libraryApplicationSupport;               // "/Library/Application Support", depth 1
  Nodes libraryLogs;                             // "/Library/Logs", depth 2
  Nodes libraryApplicationSupportCrashReporter;  // "/Library/Application Support/CrashReporter", depth 2
  Nodes libraryLaunchagents;                     // "/Library/LaunchAgents", depth 1
  Nodes librarySecuritySecurityAgentsPlugins;    // "/Library/Security/SecurityAgentPlugins", depth 1
  Nodes libraryInternetPlugins;                  // "/Library/Internet Plug-Ins", depth 2
  Nodes libraryPrivilegedHelperTools;            // "/Library/PrivilegedHelperTools", depth 1
  Nodes privateVarFolders;                       // never filled
  Nodes userLibraryApplicationSupportCrashReporter;  // home "Library/Application Support/CrashReporter", depth 1
  Nodes userLibrary;                                 // home "Library", depth 1
  Nodes userLibraryApplicationScripts;               // home "Library/Application Scripts", depth 1
  Nodes userLibraryContainers;                       // home "Library/Containers", depth 1
  Nodes userLibraryGroupContainers;                  // home "Library/Group Containers", depth 1
  Nodes userLibraryPreferences;                      // home "Library/Preferences", depth 2
  Nodes userLibrarySavedApplicationState;            // home "Library/Saved Application State", depth 1
  Nodes userLibraryCaches;                           // home "Library/Caches", depth 1
  Nodes userLibraryCookies;                          // home "Library/Cookies", depth 1
  Nodes userLibraryApplicationSupport;               // home "Library/Application Support", depth 1
};

}  // namespace vantelkit
