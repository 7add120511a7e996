// Decides which support-file candidates belong to one application and sorts them into the
// eleven resource groups of the category plan (preferences, support files, logs, caches,
// containers, group containers, scripts, plug-ins, helper tools, login items, other).
// Candidates whose name holds a blacklisted word are dropped first; a candidate matches by
// name or bundle identifier (see SupportFileMatcher); of a matched folder and matched items
// inside it only the folder is kept. Reads no disk: it works on the scanned nodes alone.
// Thread safety: as Procedure. Many may run at once over the same ApplicationSupportFiles,
// which they only read.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "vantelkit/applications/ApplicationResourceGroup.h"
#include "vantelkit/applications/ApplicationSupportFiles.h"
#include "vantelkit/applications/BundleInfo.h"
#include "vantelkit/foundation/OutputProcedure.h"
#include "vantelkit/foundation/Procedure.h"
#include "vantelkit/scanning/FileNode.h"

namespace vantelkit {

class SimpleMatchSupportingFilesProcedure
    : public Procedure,
      public OutputProcedure<std::vector<std::shared_ptr<ApplicationResourceGroup>>> {
 public:
  // False drops the candidate before matching.
  using BlacklistFilter = std::function<bool(const std::shared_ptr<FileNode>&)>;
  using CandidateList = ApplicationSupportFiles::Nodes ApplicationSupportFiles::*;

  // Words that no matched file name may contain (case-sensitive).
  static constexpr std::array<std::string_view, 2> blacklist{"crashreporter", "apple"};

  // One row of the category plan: a category and the candidate lists that feed it, joined
  // in this order.
  struct PlanRow {
    ApplicationResourceGroup::Category category;
    std::vector<CandidateList> lists;
  };
  // The eleven rows in the order the groups are produced.
  static const std::vector<PlanRow>& categoryPlan();

  // bundles: the application's own identity followed by those of the applications nested in
  // it. A null supportFiles counts as one with every list empty.
  SimpleMatchSupportingFilesProcedure(std::vector<BundleInfo> bundles,
                                      std::shared_ptr<const ApplicationSupportFiles> supportFiles);

  const std::vector<BundleInfo>& bundles() const { return _bundles; }
  const std::shared_ptr<const ApplicationSupportFiles>& supportFiles() const { return _supportFiles; }

  // The filter in use, made with the default test (no blacklisted word in the node's name)
  // on first use when none was set.
  BlacklistFilter blacklistFilter();
  void setBlacklistFilter(BlacklistFilter filter);
  // The default test: true when the node's name contains no word of the blacklist.
  static bool passesDefaultBlacklist(const FileNode& node);

  // The nodes of candidates that match bundles, with every node that has a matched ancestor
  // dropped, sorted by path. Duplicates (equal URLs) appear once.
  static std::vector<std::shared_ptr<FileNode>> matchingNodes(const std::vector<BundleInfo>& bundles,
                                                              const ApplicationSupportFiles::Nodes& candidates);

 protected:
  // Builds the eleven groups, stores them as the success output and finishes.
  void execute() override;

 private:
  const std::vector<BundleInfo> _bundles;
  const std::shared_ptr<const ApplicationSupportFiles> _supportFiles;
  std::mutex _filterMutex;
  BlacklistFilter _blacklistFilter;  // guarded by _filterMutex
};

}  // namespace vantelkit
