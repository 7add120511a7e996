#include "vantelkit/routing/ViewControllerPresentation.h"

#include <gtest/gtest.h>

#include "support/CapturingLogger.h"

namespace vantelkit {
namespace {

using Method = ViewControllerPresentation::Method;
using testing::CapturingLogger;

class RecordingPerformer final : public ViewControllerPresentationPerformer {
 public:
  void performPresentation(const ViewControllerPresentation& presentation) override {
    presented.push_back(presentation.viewControllers);
    presentation.onPresentationPerformed();
  }
  std::vector<std::vector<std::shared_ptr<ViewController>>> presented;
};

class ViewControllerPresentationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ViewControllerPresentation::setDefaultPerformer(nullptr);
    CapturingLogger::shared().clear();
  }
  void TearDown() override { ViewControllerPresentation::setDefaultPerformer(nullptr); }

  testing::ScopedLogLevel _level{LogLevel::debug};
};

TEST_F(ViewControllerPresentationTest, APerformerShowsTheViewControllers) {
  auto performer = std::make_shared<RecordingPerformer>();
  auto screen = std::make_shared<ViewController>("screen");
  bool done = false;
  ViewControllerPresentation presentation(performer, {screen}, Method::modal(true), false, false, [&] { done = true; });
  EXPECT_EQ(presentation.method, Method::modal(true));
  EXPECT_NE(presentation.method, Method::modal(false));
  EXPECT_NE(Method::push(), Method::overlay());
  presentation.perform();
  ASSERT_EQ(performer->presented.size(), 1u);
  EXPECT_EQ(performer->presented[0][0]->title(), "screen");
  EXPECT_TRUE(done);
  EXPECT_TRUE(CapturingLogger::shared().lines().empty());

  // Without a completion the performer can still call one.
  ViewControllerPresentation quiet(performer, {screen}, Method::push());
  EXPECT_TRUE(quiet.animated);
  EXPECT_TRUE(quiet.acceptsDeference);
  quiet.perform();
  EXPECT_EQ(performer->presented.size(), 2u);
}

TEST_F(ViewControllerPresentationTest, MissingPerformerIsLoggedBeforeMissingViewControllers) {
  ViewControllerPresentation nothing({}, Method::push());
  EXPECT_FALSE(nothing.performer);
  nothing.perform();
  auto lines = CapturingLogger::shared().lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("ViewControllerPresentationError.noPresentationPerformer"), std::string::npos);
  EXPECT_NE(lines[0].find("-> perform() ["), std::string::npos);

  CapturingLogger::shared().clear();
  auto performer = std::make_shared<RecordingPerformer>();
  ViewControllerPresentation(performer, {}, Method::overlay()).perform();
  EXPECT_EQ(CapturingLogger::shared().linesContaining("noViewControllersToPresent").size(), 1u);
  EXPECT_TRUE(performer->presented.empty());
}

TEST_F(ViewControllerPresentationTest, TheDefaultPerformerIsTakenAtConstructionAndReplacingItWarns) {
  auto first = std::make_shared<RecordingPerformer>();
  auto second = std::make_shared<RecordingPerformer>();
  const std::string warning = "Replacing default view controller presentation performer";

  ViewControllerPresentation::setDefaultPerformer(first);
  EXPECT_TRUE(CapturingLogger::shared().linesContaining(warning).empty());
  ViewControllerPresentation early({std::make_shared<ViewController>()}, Method::replaceRoot(true));
  ViewControllerPresentation::setDefaultPerformer(second);
  EXPECT_EQ(CapturingLogger::shared().linesContaining(warning).size(), 1u);
  EXPECT_EQ(CapturingLogger::shared().linesContaining("-> defaultPerformer [").size(), 1u);

  early.perform();
  EXPECT_EQ(first->presented.size(), 1u);
  EXPECT_TRUE(second->presented.empty());

  ViewControllerPresentation::setDefaultPerformer(nullptr);
  EXPECT_EQ(CapturingLogger::shared().linesContaining(warning).size(), 2u);
  ViewControllerPresentation::setDefaultPerformer(nullptr);
  EXPECT_EQ(CapturingLogger::shared().linesContaining(warning).size(), 2u);
}

}  // namespace
}  // namespace vantelkit
