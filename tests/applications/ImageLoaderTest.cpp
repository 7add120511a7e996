#include "vantelkit/applications/ImageLoader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "support/BoundedWait.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/platform/DispatchQueue.h"

namespace vantelkit {
namespace {

using testing::Gate;
constexpr double kWaitSeconds = 10.0;

platform::Image namedImage(const std::string& name) {
  platform::Image image;
  image.iconName = name;
  return image;
}

// An image procedure that waits for its gate, then yields the image called name (or fails).
std::shared_ptr<ImageProcedure> gatedImage(const std::string& name, const std::shared_ptr<Gate>& gate,
                                           bool fails = false) {
  auto procedure = std::make_shared<ImageProcedure>();
  std::weak_ptr<ImageProcedure> weak = procedure;
  procedure->addChild(std::make_shared<BlockProcedure>([weak, gate, name, fails]() -> ErrorPtr {
    gate->wait();
    auto strong = weak.lock();
    if (!strong || strong->isCancelled()) return nullptr;
    if (fails) return makeError<GeneralError>(GeneralError::unknown());
    strong->setSuccess(namedImage(name));
    return nullptr;
  }));
  return procedure;
}

// Records what the loader reports for one load, in order.
struct Events {
  std::vector<std::string> log;
  ErrorPtr failure;
  ImageLoader::FailureHandler failed() {
    return [this](const ErrorPtr& error) {
      failure = error;
      log.push_back("failed");
    };
  }
  ImageLoader::ImageHandler loaded() {
    return [this](const platform::Image& image) { log.push_back("loaded " + image.iconName.value_or("?")); };
  }
  ImageLoader::FinallyHandler finally() {
    return [this] { log.push_back("finally"); };
  }
  bool finished() const { return !log.empty() && log.back() == "finally"; }
};

class ImageLoaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    gateA->open();
    gateB->open();
    loader.cancelAllOperations();
    MainQueue::runFor(0.05);
  }

  GeneratorImageEntity entity(const std::string& identifier, const std::shared_ptr<Gate>& gate, bool fails = false) {
    return GeneratorImageEntity(identifier, [this, identifier, gate, fails](std::optional<Size> size) {
      ++made;
      requestedSizes.push_back(size);
      auto procedure = gatedImage(identifier, gate, fails);
      procedures.push_back(procedure);
      return procedure;
    });
  }

  std::vector<std::shared_ptr<ProgressIndicator>> indicatorsOf(const View& view) {
    std::vector<std::shared_ptr<ProgressIndicator>> indicators;
    for (const auto& subview : view.subviews()) {
      if (auto indicator = std::dynamic_pointer_cast<ProgressIndicator>(subview)) indicators.push_back(indicator);
    }
    return indicators;
  }

  ImageLoader loader;
  std::shared_ptr<Gate> gateA = std::make_shared<Gate>();
  std::shared_ptr<Gate> gateB = std::make_shared<Gate>();
  std::atomic<int> made{0};
  std::vector<std::optional<Size>> requestedSizes;
  std::vector<std::shared_ptr<ImageProcedure>> procedures;
  std::shared_ptr<ImageView> view = std::make_shared<ImageView>(Rect{{5, 5}, {40, 30}});
};

TEST_F(ImageLoaderTest, ShowsASpinnerThenTheImageAndReportsInOrder) {
  Events events;
  auto a = entity("a", gateA);
  loader.load(a, view, ImageLoader::SizeStrategy::imageView(), ImageLoader::Placeholder::indicator(), events.failed(),
              events.loaded(), events.finally());
  ASSERT_TRUE(MainQueue::runUntil([&] { return indicatorsOf(*view).size() == 1; }, kWaitSeconds));
  auto spinner = indicatorsOf(*view).front();
  EXPECT_EQ(spinner->frame(), (Rect{{0, 0}, {40, 30}}));
  EXPECT_EQ(spinner->style(), ProgressIndicator::Style::spinning);
  EXPECT_EQ(spinner->autoresizingMask(), 0x12u);
  EXPECT_TRUE(spinner->isAnimating());
  EXPECT_TRUE(loader.isLoading(a, *view));
  EXPECT_EQ(ImageLoader::identifierTag(*view), "a");

  gateA->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return events.finished() && view->subviews().empty(); }, kWaitSeconds));
  EXPECT_EQ(events.log, (std::vector<std::string>{"loaded a", "finally"}));
  EXPECT_EQ(view->image(), namedImage("a"));
  EXPECT_FALSE(spinner->isAnimating());
  EXPECT_EQ(requestedSizes, (std::vector<std::optional<Size>>{Size{40, 30}}));
  EXPECT_TRUE(MainQueue::runUntil([&] { return !loader.isLoading(a, *view); }, kWaitSeconds));
}

TEST_F(ImageLoaderTest, ASecondLoadOfTheSameEntityIntoTheSameViewStartsNothing) {
  Events first;
  Events second;
  auto a = entity("a", gateA);
  loader.load(a, view, ImageLoader::SizeStrategy::original(), ImageLoader::Placeholder::none(), first.failed(),
              first.loaded(), first.finally());
  loader.load(a, view, ImageLoader::SizeStrategy::original(), ImageLoader::Placeholder::none(), second.failed(),
              second.loaded(), second.finally());
  EXPECT_EQ(made.load(), 1);

  // The same entity into another view is a load of its own.
  auto other = std::make_shared<ImageView>(Rect{{0, 0}, {10, 10}});
  Events third;
  loader.load(a, other, ImageLoader::SizeStrategy::custom({64, 64}), ImageLoader::Placeholder::none(), third.failed(),
              third.loaded(), third.finally());
  EXPECT_EQ(made.load(), 2);

  gateA->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return first.finished() && third.finished(); }, kWaitSeconds));
  MainQueue::runFor(0.05);
  EXPECT_TRUE(second.log.empty());
  EXPECT_EQ(requestedSizes, (std::vector<std::optional<Size>>{std::nullopt, Size{64, 64}}));
}

TEST_F(ImageLoaderTest, AReusedViewNeverShowsTheFirstEntitysImage) {
  Events eventsA;
  Events eventsB;
  auto a = entity("a", gateA);
  auto b = entity("b", gateB);
  loader.load(a, view, ImageLoader::SizeStrategy::imageView(), ImageLoader::Placeholder::indicator(), eventsA.failed(),
              eventsA.loaded(), eventsA.finally());
  loader.load(b, view, ImageLoader::SizeStrategy::imageView(), ImageLoader::Placeholder::indicator(), eventsB.failed(),
              eventsB.loaded(), eventsB.finally());
  ASSERT_TRUE(MainQueue::runUntil([&] { return !indicatorsOf(*view).empty(); }, kWaitSeconds));
  MainQueue::runFor(0.02);
  ASSERT_EQ(indicatorsOf(*view).size(), 1u) << "one spinner for the entity the view shows";
  auto spinnerB = indicatorsOf(*view).front();

  gateA->open();
  ASSERT_EQ(procedures.size(), 2u);
  ASSERT_TRUE(MainQueue::runUntil([&] { return procedures[0]->isFinished(); }, kWaitSeconds));
  MainQueue::runFor(0.05);
  EXPECT_TRUE(eventsA.log.empty());
  EXPECT_FALSE(view->image().has_value());
  EXPECT_EQ(indicatorsOf(*view), (std::vector<std::shared_ptr<ProgressIndicator>>{spinnerB}));
  EXPECT_TRUE(spinnerB->isAnimating());

  gateB->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return eventsB.finished(); }, kWaitSeconds));
  EXPECT_EQ(eventsB.log, (std::vector<std::string>{"loaded b", "finally"}));
  EXPECT_EQ(view->image(), namedImage("b"));
  ASSERT_TRUE(MainQueue::runUntil([&] { return view->subviews().empty(); }, kWaitSeconds));
}

TEST_F(ImageLoaderTest, ALateResultOfTheFirstEntityLeavesTheSecondsImage) {
  Events eventsA;
  Events eventsB;
  auto a = entity("a", gateA);
  auto b = entity("b", gateB);
  loader.load(a, view, ImageLoader::SizeStrategy::imageView(), ImageLoader::Placeholder::none(), eventsA.failed(),
              eventsA.loaded(), eventsA.finally());
  loader.load(b, view, ImageLoader::SizeStrategy::imageView(), ImageLoader::Placeholder::none(), eventsB.failed(),
              eventsB.loaded(), eventsB.finally());
  gateB->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return eventsB.finished(); }, kWaitSeconds));
  gateA->open();
  ASSERT_EQ(procedures.size(), 2u);
  ASSERT_TRUE(MainQueue::runUntil([&] { return procedures[0]->isFinished(); }, kWaitSeconds));
  MainQueue::runFor(0.05);
  EXPECT_TRUE(eventsA.log.empty());
  EXPECT_EQ(view->image(), namedImage("b"));
}

TEST_F(ImageLoaderTest, CancellingByIdentifierEndsOnlyThatEntitysLoads) {
  Events eventsA;
  Events eventsB;
  auto a = entity("a", gateA);
  auto b = entity("b", gateB);
  auto otherView = std::make_shared<ImageView>(Rect{{0, 0}, {8, 8}});
  const platform::Image placeholder = namedImage("placeholder");
  loader.load(a, view, ImageLoader::SizeStrategy::original(), ImageLoader::Placeholder::image(placeholder),
              eventsA.failed(), eventsA.loaded(), eventsA.finally());
  EXPECT_EQ(view->image(), placeholder) << "the placeholder image is set at once";
  loader.load(b, otherView, ImageLoader::SizeStrategy::original(), ImageLoader::Placeholder::none(), eventsB.failed(),
              eventsB.loaded(), eventsB.finally());

  loader.cancelOperations(a);
  gateA->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return eventsA.finished(); }, kWaitSeconds));
  EXPECT_EQ(eventsA.log, (std::vector<std::string>{"failed", "finally"}));
  EXPECT_EQ(view->image(), placeholder);
  EXPECT_TRUE(loader.isLoading(b, *otherView));

  gateB->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return eventsB.finished(); }, kWaitSeconds));
  EXPECT_EQ(eventsB.log, (std::vector<std::string>{"loaded b", "finally"}));
}

TEST_F(ImageLoaderTest, AFailedProcedureReportsItsError) {
  Events events;
  auto a = entity("a", gateA, /*fails=*/true);
  loader.load(a, view, ImageLoader::SizeStrategy::original(), ImageLoader::Placeholder::indicator(), events.failed(),
              events.loaded(), events.finally());
  gateA->open();
  ASSERT_TRUE(MainQueue::runUntil([&] { return events.finished() && view->subviews().empty(); }, kWaitSeconds));
  EXPECT_EQ(events.log, (std::vector<std::string>{"failed", "finally"}));
  ASSERT_NE(events.failure, nullptr);
  EXPECT_EQ(events.failure->qualifiedDescription(), "GeneralError.unknown");
  EXPECT_FALSE(view->image().has_value());
}

TEST_F(ImageLoaderTest, AnEntityWithoutAProcedureChangesNothing) {
  Events events;
  GeneratorImageEntity nothing("nothing", [](std::optional<Size>) { return nullptr; });
  loader.load(nothing, view, ImageLoader::SizeStrategy::imageView(),
              ImageLoader::Placeholder::image(namedImage("placeholder")), events.failed(), events.loaded(),
              events.finally());
  loader.load(nothing, view, ImageLoader::SizeStrategy::imageView(), ImageLoader::Placeholder::indicator(),
              events.failed(), events.loaded(), events.finally());
  MainQueue::runFor(0.05);
  EXPECT_TRUE(events.log.empty());
  EXPECT_FALSE(view->image().has_value());
  EXPECT_TRUE(view->subviews().empty());
  EXPECT_FALSE(ImageLoader::identifierTag(*view).has_value());
}

}  // namespace
}  // namespace vantelkit
