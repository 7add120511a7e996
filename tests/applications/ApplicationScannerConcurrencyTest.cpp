// Many applications matched and sized at once over shared candidate lists, with listeners
// added and removed from other threads while the scan runs.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "support/ApplicationLayout.h"
#include "support/BoundedWait.h"
#include "vantelkit/applications/ApplicationScanner.h"
#include "vantelkit/applications/SimpleMatchSupportingFilesProcedure.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Workspace.h"

namespace vantelkit {
namespace {

using testing::ApplicationLayout;
using Category = ApplicationResourceGroup::Category;

// The platform's workspace asks GLib, whose own locks ThreadSanitizer cannot see; these tests
// are about the scanner's threads, so a plain workspace stands in.
class PlainWorkspace : public platform::Workspace {
 public:
  std::string localizedTypeDescription(std::string_view) override { return {}; }
  platform::Image iconForFile(std::string_view) override {
    platform::Image icon;
    icon.iconName = "text-x-generic";
    return icon;
  }
};

class ScopedWorkspace {
 public:
  ScopedWorkspace() { platform::Workspace::setShared(std::make_shared<PlainWorkspace>()); }
  ~ScopedWorkspace() { platform::Workspace::setShared(nullptr); }
};

class Finish : public ApplicationScannerListener {
 public:
  void scanDidFinish() override { finished = true; }
  bool finished = false;  // main queue only
};

class Quiet : public ApplicationScannerListener {
 public:
  void progressUpdate(double, const std::string&) override { updates.fetch_add(1); }
  std::atomic<int> updates{0};
};

TEST(ApplicationScannerConcurrencyTest, ManyApplicationsAreMatchedAndSizedAtOnce) {
  constexpr int kApplications = 24;
  ScopedWorkspace workspace;
  ApplicationLayout layout;
  for (int i = 0; i < kApplications; ++i) {
    const std::string id = "org.example.app" + std::to_string(i) + "x";
    const std::string name = "App " + std::to_string(i);
    layout.application(layout.system("Applications/" + name + ".app"), id, name, 100 + i);
    layout.file(layout.home("Library/Preferences/" + id + ".plist"), 10);
    layout.file(layout.home("Library/Caches/" + id + "/a"), 100);
    layout.file(layout.home("Library/Caches/" + id + "/b"), 5);
    layout.file(layout.home("Library/Application Support/" + name + "/data"), i);
    // A system log per application, in one folder that every matching procedure reads.
    layout.file(layout.system("Library/Logs/shared." + id + ".log"), 1);
  }
  auto scanner = ApplicationScanner::make();
  auto finish = std::make_shared<Finish>();
  scanner->addListener(finish);
  scanner->start();

  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop.load()) {
      auto quiet = std::make_shared<Quiet>();
      scanner->addListener(quiet);
      (void)scanner->isRunning();
      scanner->removeListener(quiet);
    }
  });
  const bool finished = MainQueue::runUntil([&] { return finish->finished; }, 120);
  stop.store(true);
  churn.join();
  ASSERT_TRUE(finished);

  auto applications = scanner->applications();
  ASSERT_EQ(applications.size(), static_cast<std::size_t>(kApplications));
  for (const auto& item : applications) {
    ASSERT_EQ(item->resources.size(), 11u);
    std::map<Category, std::vector<std::shared_ptr<ApplicationResourceGroup::Resource>>> groups;
    for (const auto& group : item->resources) groups[group->category] = group->files;
    ASSERT_EQ(groups[Category::caches].size(), 1u) << item->identifier();
    EXPECT_EQ(groups[Category::caches][0]->size, 105);
    EXPECT_EQ(groups[Category::preferences].size(), 1u);
    EXPECT_EQ(groups[Category::logs].size(), 1u);
    EXPECT_EQ(groups[Category::supportFiles].size(), 1u);
    EXPECT_GT(item->binaries->files[0]->size, 100);
  }
}

TEST(ApplicationScannerConcurrencyTest, MatchingProceduresShareOneCandidateSet) {
  ScopedWorkspace workspace;
  auto files = std::make_shared<ApplicationSupportFiles>();
  auto root = FileNode::make(FileURL::fileURLWithPath("/home/u/Library/Caches", true), nullptr, 0,
                             FileNode::NodeType::directory);
  for (int i = 0; i < 200; ++i) {
    auto folder = FileNode::make(root->url().appendingPathComponent("org.example.app" + std::to_string(i) + "x", true),
                                 root, 0, FileNode::NodeType::directory);
    files->userLibraryCaches.push_back(folder);
    files->userLibraryCaches.push_back(
        FileNode::make(folder->url().appendingPathComponent("org.example.app" + std::to_string(i) + "x.db"), folder, 3,
                       FileNode::NodeType::file));
  }
  ProcedureQueue queue;
  std::vector<std::shared_ptr<SimpleMatchSupportingFilesProcedure>> procedures;
  for (int i = 0; i < 40; ++i) {
    const std::string id = "org.example.app" + std::to_string(i) + "x";
    procedures.push_back(std::make_shared<SimpleMatchSupportingFilesProcedure>(
        std::vector<BundleInfo>{BundleInfo("App", id, BundleVersion())}, files));
  }
  for (const auto& procedure : procedures) queue.addOperation(procedure);
  ASSERT_TRUE(queue.waitUntilAllOperationsAreFinished(60));
  for (int i = 0; i < 40; ++i) {
    auto groups = procedures[static_cast<std::size_t>(i)]->successValue();
    ASSERT_TRUE(groups);
    ASSERT_EQ((*groups)[3]->files.size(), 1u);
    EXPECT_EQ((*groups)[3]->files[0]->name, "org.example.app" + std::to_string(i) + "x");
  }
}

// Cancelled from another thread while the support files are gathered: the scan still ends
// as usual, with the applications found before and no matching.
TEST(ApplicationScannerConcurrencyTest, ACancelledScanEndsWithTheApplicationsFoundSoFar) {
  ScopedWorkspace workspace;
  ApplicationLayout layout;
  layout.application(layout.system("Applications/Editor.app"), "org.example.editor", "Editor", 100);
  layout.file(layout.home("Library/Caches/org.example.editor/a"), 10);
  auto scanner = ApplicationScanner::make();
  scanner->cancel();
  auto finish = std::make_shared<Finish>();
  scanner->addListener(finish);
  std::atomic<bool> reached{false};
  testing::Gate release;
  scanner->setWillAddProcedureHandler([&](Procedure& step) {
    if (step.name() != "support files scan") return;
    step.addWillExecuteBlockObserver([&](Procedure&) {
      reached.store(true);
      EXPECT_TRUE(release.wait());
    });
  });
  scanner->start();
  ASSERT_TRUE(MainQueue::runUntil([&] { return reached.load(); }, 30));
  std::thread([&] {
    scanner->cancel();
    scanner->cancel();
  }).join();
  release.open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return finish->finished; }, 30));
  EXPECT_FALSE(scanner->isRunning());
  EXPECT_TRUE(scanner->wasCancelled());
  auto applications = scanner->applications();
  ASSERT_EQ(applications.size(), 1u);
  EXPECT_TRUE((*applications.begin())->resources.empty());
  scanner->setWillAddProcedureHandler({});
}

}  // namespace
}  // namespace vantelkit
