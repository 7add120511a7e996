#include "vantelkit/applications/SimpleMatchSupportingFilesProcedure.h"

#include <algorithm>
#include <unordered_set>

#include "vantelkit/applications/SupportFileMatcher.h"

namespace vantelkit {

namespace {

using Category = ApplicationResourceGroup::Category;
using Files = ApplicationSupportFiles;

std::vector<std::shared_ptr<FileNode>> matched(const SupportFileMatcher& matcher,
                                               const ApplicationSupportFiles::Nodes& candidates) {
  std::unordered_set<std::shared_ptr<FileNode>, FileNodeHash, FileNodeEqual> set;
  for (const auto& node : candidates) {
    if (node && matcher.match(node->name())) set.insert(node);
  }
  std::vector<std::shared_ptr<FileNode>> outermost;
  outermost.reserve(set.size());
  for (const auto& node : set) {
    bool nested = false;
    for (auto parent = node->parent(); parent && !nested; parent = parent->parent()) {
      nested = set.contains(parent);
    }
    if (!nested) outermost.push_back(node);
  }
  // Paths are compared once each, not once per comparison.
  std::vector<std::pair<std::string, std::shared_ptr<FileNode>>> keyed;
  keyed.reserve(outermost.size());
  for (auto& node : outermost) keyed.emplace_back(node->url().path(), std::move(node));
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  outermost.clear();
  for (auto& entry : keyed) outermost.push_back(std::move(entry.second));
  return outermost;
}

}  // namespace

const std::vector<SimpleMatchSupportingFilesProcedure::PlanRow>& SimpleMatchSupportingFilesProcedure::categoryPlan() {
  static const std::vector<PlanRow> plan{
      {Category::preferences, {&Files::libraryPreferences, &Files::userLibraryPreferences}},
      {Category::supportFiles,
       {&Files::userLibrarySavedApplicationState, &Files::libraryApplicationSupport,
        &Files::userLibraryApplicationSupport, &Files::userLibraryCookies}},
      {Category::logs,
       {&Files::libraryLogs, &Files::libraryApplicationSupportCrashReporter,
        &Files::userLibraryApplicationSupportCrashReporter}},
      {Category::caches, {&Files::userLibraryCaches}},
      {Category::containers, {&Files::userLibraryContainers}},
      {Category::groupContainers, {&Files::userLibraryGroupContainers}},
      {Category::scripts, {&Files::userLibraryApplicationScripts}},
      {Category::plugins, {&Files::librarySecuritySecurityAgentsPlugins, &Files::libraryInternetPlugins}},
      {Category::helperTools, {&Files::libraryPrivilegedHelperTools}},
      {Category::loginItems, {&Files::libraryLaunchagents}},
      {Category::other, {&Files::applications, &Files::applicationsUtilities}},
  };
  return plan;
}

SimpleMatchSupportingFilesProcedure::SimpleMatchSupportingFilesProcedure(
    std::vector<BundleInfo> bundles, std::shared_ptr<const ApplicationSupportFiles> supportFiles)
    : _bundles(std::move(bundles)),
      _supportFiles(supportFiles ? std::move(supportFiles) : std::make_shared<const ApplicationSupportFiles>()) {}

bool SimpleMatchSupportingFilesProcedure::passesDefaultBlacklist(const FileNode& node) {
  const std::string& name = node.name();
  return std::none_of(blacklist.begin(), blacklist.end(),
                      [&name](std::string_view word) { return name.find(word) != std::string::npos; });
}

SimpleMatchSupportingFilesProcedure::BlacklistFilter SimpleMatchSupportingFilesProcedure::blacklistFilter() {
  std::lock_guard lock(_filterMutex);
  if (!_blacklistFilter) {
    _blacklistFilter = [](const std::shared_ptr<FileNode>& node) { return node && passesDefaultBlacklist(*node); };
  }
  return _blacklistFilter;
}

void SimpleMatchSupportingFilesProcedure::setBlacklistFilter(BlacklistFilter filter) {
  std::lock_guard lock(_filterMutex);
  _blacklistFilter = std::move(filter);
}

std::vector<std::shared_ptr<FileNode>> SimpleMatchSupportingFilesProcedure::matchingNodes(
    const std::vector<BundleInfo>& bundles, const ApplicationSupportFiles::Nodes& candidates) {
  return matched(SupportFileMatcher(bundles), candidates);
}

void SimpleMatchSupportingFilesProcedure::execute() {
  const SupportFileMatcher matcher(_bundles);
  const BlacklistFilter filter = blacklistFilter();
  std::vector<std::shared_ptr<ApplicationResourceGroup>> groups;
  groups.reserve(categoryPlan().size());
  for (const PlanRow& row : categoryPlan()) {
    ApplicationSupportFiles::Nodes candidates;
    for (CandidateList list : row.lists) {
      for (const auto& node : (*_supportFiles).*list) {
        if (!node) continue;
        // Applications are listed in their own right, never as another one's leftovers.
        if (row.category == Category::other && node->fileExtension() == "app") continue;
        if (filter && !filter(node)) continue;
        candidates.push_back(node);
      }
    }
    std::vector<std::shared_ptr<ApplicationResourceGroup::Resource>> resources;
    for (const auto& node : matched(matcher, candidates)) resources.push_back(ApplicationResourceGroup::Resource::make(*node));
    groups.push_back(ApplicationResourceGroup::make(row.category, std::move(resources)));
  }
  setSuccess(std::move(groups));
  finish();
}

}  // namespace vantelkit
