#include "vantelkit/routing/AppRouter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "support/CapturingLogger.h"
#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/routing/Routes.h"
#include "vantelkit/service/VantelAPI.h"

namespace vantelkit {
namespace {

using testing::CapturingLogger;
using Context = AppRouter::Context;
using Method = ViewControllerPresentation::Method;

constexpr double kWaitSeconds = 10.0;

URL url(std::string_view text) {
  auto parsed = URL::parse(text);
  if (!parsed) ADD_FAILURE() << "no URL: " << text;
  return parsed ? *parsed : *URL::parse("invalid:");
}

std::shared_ptr<Procedure> nothingToDo() {
  return std::make_shared<BlockProcedure>([] {});
}

class AppRouterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CapturingLogger::shared().clear();
    VantelAPI::setEnvironment(VantelAPI::Environment::custom);
    VantelAPI::Environment::setCustomURL(url("https://base.example.net"));
    callbackIdentifier = router->addDidRouteCallback([this](const URL& routed) { routedURLs.push_back(routed); });
  }
  void TearDown() override {
    VantelAPI::setEnvironment(_environment);
    VantelAPI::Environment::setCustomURL(_customURL);
    ViewControllerPresentation::setDefaultPerformer(nullptr);
  }

  // Runs the main queue until n routings have been reported.
  bool waitForRoutings(std::size_t n) {
    return MainQueue::runUntil([&] { return routedURLs.size() >= n; }, kWaitSeconds);
  }

  std::shared_ptr<AppRouter> router = AppRouter::create();
  std::vector<URL> routedURLs;  // main queue
  UUID callbackIdentifier;

 private:
  testing::ScopedLogLevel _level{LogLevel::info};
  VantelAPI::Environment _environment = VantelAPI::environment();
  URL _customURL = VantelAPI::Environment::customURL();
};

TEST_F(AppRouterTest, ANewRoutingCancelsOneStillWaiting) {
  std::atomic<int> first{0}, second{0};
  router->add("first", [&](const RouteInfo&) { return ++first, nothingToDo(); });
  router->add("second", [&](const RouteInfo&) { return ++second, nothingToDo(); });

  router->operationQueue().setSuspended(true);
  EXPECT_TRUE(router->route(url("https://h/first"), Context::app));
  EXPECT_TRUE(router->route(url("https://h/second"), Context::app));
  router->operationQueue().setSuspended(false);

  ASSERT_TRUE(waitForRoutings(2));
  EXPECT_TRUE(router->operationQueue().waitUntilAllOperationsAreFinished(kWaitSeconds));
  EXPECT_EQ(first.load(), 0);
  EXPECT_EQ(second.load(), 1);
}

TEST_F(AppRouterTest, AFailingMiddlewareStopsTheRestAndTheHandler) {
  std::atomic<bool> secondMiddlewareRan{false}, handlerRan{false};
  std::vector<std::string> middlewareURLs;
  router->add([&](const RouteInfo& info) -> std::shared_ptr<Procedure> {
    middlewareURLs.push_back(info.url.absoluteString());
    return std::make_shared<BlockProcedure>([]() -> ErrorPtr { return makeError<GeneralError>(GeneralError::unknown()); });
  });
  router->add([&](const RouteInfo&) -> std::shared_ptr<Procedure> { return nullptr; });
  router->add([&](const RouteInfo&) -> std::shared_ptr<Procedure> {
    return std::make_shared<BlockProcedure>([&] { secondMiddlewareRan = true; });
  });
  router->add("clean", [&](const RouteInfo&) { return handlerRan = true, nothingToDo(); });

  ::testing::internal::CaptureStdout();
  EXPECT_TRUE(router->route(url("clean"), Context::menu));
  const bool reported = waitForRoutings(1);
  MainQueue::runFor(0.05);
  const std::string output = ::testing::internal::GetCapturedStdout();
  ASSERT_TRUE(reported);
  EXPECT_EQ(middlewareURLs, (std::vector<std::string>{"https://base.example.net/clean"}));
  EXPECT_FALSE(secondMiddlewareRan);
  EXPECT_FALSE(handlerRan);
  EXPECT_EQ(routedURLs.size(), 1u);
  EXPECT_EQ(routedURLs[0].absoluteString(), "clean");
  EXPECT_NE(output.find("Error: Routing failed\n"), std::string::npos);
}

TEST_F(AppRouterTest, MiddlewaresRunInOrderBeforeTheHandler) {
  std::vector<std::string> order;
  std::mutex mutex;
  auto record = [&](std::string what) {
    std::lock_guard lock(mutex);
    order.push_back(std::move(what));
  };
  router->add([&](const RouteInfo&) -> std::shared_ptr<Procedure> {
    return std::make_shared<BlockProcedure>([&] { record("one"); });
  });
  router->add([&](const RouteInfo&) -> std::shared_ptr<Procedure> {
    return std::make_shared<BlockProcedure>([&] { record("two"); });
  });
  router->add("clean/:group", [&](const RouteInfo& info) {
    record("handler:" + info.variables.at("group"));
    return std::make_shared<BlockProcedure>([&] { record("work"); });
  });
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(router->route(url("https://h/clean/logs"), Context::app));
  ASSERT_TRUE(waitForRoutings(1));
  const std::string output = ::testing::internal::GetCapturedStdout();
  std::lock_guard lock(mutex);
  EXPECT_EQ(order, (std::vector<std::string>{"one", "two", "handler:logs", "work"}));
  EXPECT_EQ(output.find("Error: Routing failed"), std::string::npos);
  const auto lines = CapturingLogger::shared().linesContaining("Routing to: https://h/clean/logs");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\xF0\x9F\x9B\xA3"), std::string::npos);
  EXPECT_NE(lines[0].find("procedure(for:with:)"), std::string::npos);
}

TEST_F(AppRouterTest, ASubrouterMatchesUnderItsPathThroughItsParent) {
  auto settings = router->subrouter("settings/");
  EXPECT_EQ(settings->rootPath(), "settings/");
  std::atomic<int> general{0};
  settings->add("general", [&](const RouteInfo& info) {
    EXPECT_EQ(info.context, Context(Context::externalUrl));
    return ++general, nothingToDo();
  });
  EXPECT_TRUE(router->supportsRoute(url("https://h/settings/general")));
  EXPECT_FALSE(router->supportsRoute(url("https://h/general")));
  EXPECT_FALSE(settings->supportsRoute(url("https://h/general")));
  ASSERT_TRUE(router->route(url("https://h/settings/general"), Context::externalUrl));
  ASSERT_TRUE(waitForRoutings(1));
  EXPECT_EQ(general.load(), 1);
}

TEST_F(AppRouterTest, AFragmentLinkReachesTheHandlerNormalised) {
  std::optional<URL> seen;
  std::mutex mutex;
  router->add("#clean", [&](const RouteInfo& info) {
    std::lock_guard lock(mutex);
    seen = info.url;
    return nothingToDo();
  });
  ASSERT_TRUE(router->route(url("#/clean"), Context::handoff));
  ASSERT_TRUE(waitForRoutings(1));
  std::lock_guard lock(mutex);
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->absoluteString(), "https://base.example.net/#/clean");
  EXPECT_EQ(routedURLs[0].absoluteString(), "#/clean");
}

TEST_F(AppRouterTest, SchemesAndLaterRegistrationsDecide) {
  std::atomic<int> early{0}, late{0};
  router->add("vantelfile", "downloads", [&](const RouteInfo&) { return nothingToDo(); });
  EXPECT_TRUE(router->supportsRoute(url("vantelfile://clean/downloads")));
  EXPECT_FALSE(router->supportsRoute(url("https://clean/downloads")));

  router->add("a/:x", [&](const RouteInfo&) { return ++early, nothingToDo(); });
  router->add([](const URL& link) { return link.path() == "/a/b" ? URLRouteResult::matched({}) : URLRouteResult::failed(); },
              [&](const RouteInfo&) { return ++late, nothingToDo(); });
  ASSERT_TRUE(router->route(url("https://h/a/b"), Context::app));
  ASSERT_TRUE(waitForRoutings(1));
  EXPECT_EQ(early.load(), 0);
  EXPECT_EQ(late.load(), 1);
}

TEST_F(AppRouterTest, NoMatchingRouteIsLoggedAndCallsNoCallback) {
  EXPECT_FALSE(router->route(url("https://h/nowhere"), Context::siri, "Fallback"));
  ASSERT_TRUE(MainQueue::runUntil(
      [] { return !CapturingLogger::shared().linesContaining("AppRouterError.noMatchingRoute").empty(); },
      kWaitSeconds));
  const auto lines = CapturingLogger::shared().linesContaining("AppRouterError.noMatchingRoute");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\xF0\x9F\x9A\xA7"), std::string::npos);
  EXPECT_NE(lines[0].find("showNoMatchingRouteProcedure(for:with:fallbackTitle:)"), std::string::npos);
  EXPECT_TRUE(router->operationQueue().waitUntilAllOperationsAreFinished(kWaitSeconds));
  MainQueue::runFor(0.05);
  EXPECT_TRUE(routedURLs.empty());
}

TEST_F(AppRouterTest, RemovedCallbacksAreNotCalled) {
  int other = 0;
  const UUID otherIdentifier = router->addDidRouteCallback([&](const URL&) { ++other; });
  EXPECT_NE(otherIdentifier, callbackIdentifier);
  EXPECT_EQ(router->didRouteCallbacks().size(), 2u);
  router->removeDidRouteCallback(otherIdentifier);
  router->removeDidRouteCallback(UUID::random());
  EXPECT_EQ(router->didRouteCallbacks().size(), 1u);
  router->add("x", [](const RouteInfo&) { return nothingToDo(); });
  ASSERT_TRUE(router->route(url("x"), Context::app));
  ASSERT_TRUE(waitForRoutings(1));
  EXPECT_EQ(other, 0);
}

TEST_F(AppRouterTest, ARouterReachingItselfMatchesNothingThere) {
  router->add(router);
  EXPECT_FALSE(router->supportsRoute(url("https://h/a")));
  // A child whose route asks the parent again: the parent is already matching.
  auto child = router->subrouter("child/");
  std::weak_ptr<AppRouter> parent = router;
  int asked = 0;
  child->add([parent, &asked](const URL& link) {
    ++asked;
    auto strong = parent.lock();
    return strong && strong->supportsRoute(link) ? URLRouteResult::matched({}) : URLRouteResult::failed();
  }, [](const RouteInfo&) { return nothingToDo(); });
  child->add("b", [](const RouteInfo&) { return nothingToDo(); });
  EXPECT_TRUE(router->supportsRoute(url("https://h/child/b")));
  EXPECT_FALSE(router->supportsRoute(url("https://h/child/c")));
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(router->route(url("https://h/nothing"), Context::app));
  // The no-match procedure finishes on the main queue.
  EXPECT_TRUE(MainQueue::runUntil([&] { return router->operationQueue().operationCount() == 0; }, kWaitSeconds));
}

TEST_F(AppRouterTest, TheSharedRouterIsReplaceable) {
  auto original = AppRouter::shared();
  ASSERT_TRUE(original);
  EXPECT_EQ(original->rootPath(), "");
  EXPECT_EQ(AppRouter::shared(), original);
  AppRouter::setShared(router);
  EXPECT_EQ(AppRouter::shared(), router);
  AppRouter::setShared(original);
}

TEST(AppRouterContextTest, DefaultPresentations) {
  EXPECT_EQ(Context(Context::app).defaultPresentation(), Method::push());
  EXPECT_EQ(Context(Context::menu).defaultPresentation(), Method::replaceRoot(true));
  for (const auto context : {Context::handoff, Context::pushNotification, Context::externalUrl, Context::siri}) {
    EXPECT_EQ(Context(context).defaultPresentation(), Method::modal(true));
  }
}

class RecordingPerformer final : public ViewControllerPresentationPerformer {
 public:
  void performPresentation(const ViewControllerPresentation& presentation) override {
    EXPECT_TRUE(MainQueue::isMainThread());
    presentations.push_back(presentation);
    presentations.back().performer.reset();  // a presentation holds its performer
  }
  std::vector<ViewControllerPresentation> presentations;
};

TEST_F(AppRouterTest, PerformersPresentOnTheMainQueueWithTheContextsMethod) {
  auto performer = std::make_shared<RecordingPerformer>();
  ViewControllerPresentation::setDefaultPerformer(performer);
  auto screen = std::make_shared<ViewController>("screen");
  router->add("one", [&](const RouteInfo& info) {
    return Routes::Performers::openViewControllerProcedure(info, [screen] { return screen; });
  });
  router->add("loading", [](const RouteInfo& info) {
    return Routes::Performers::openLoadingViewControllerProcedure(info, LoadableViewControllerConstructor{});
  });
  ASSERT_TRUE(router->route(url("one"), Context::menu));
  ASSERT_TRUE(waitForRoutings(1));
  ASSERT_EQ(performer->presentations.size(), 1u);
  EXPECT_EQ(performer->presentations[0].method, Method::replaceRoot(true));
  EXPECT_EQ(performer->presentations[0].viewControllers, std::vector<std::shared_ptr<ViewController>>{screen});
  EXPECT_TRUE(performer->presentations[0].animated);
  EXPECT_TRUE(performer->presentations[0].acceptsDeference);

  ASSERT_TRUE(router->route(url("loading"), Context::app));
  ASSERT_TRUE(waitForRoutings(2));
  EXPECT_EQ(performer->presentations.size(), 1u);
}

TEST_F(AppRouterTest, DisplayErrorProcedureFinishesOnTheMainQueue) {
  ProcedureQueue queue;
  auto shown = DisplayErrorProcedure(makeError<GeneralError>(GeneralError::unknown()));
  auto cancelled = DisplayErrorProcedure(nullptr);
  cancelled->cancel();
  queue.addOperation(shown);
  queue.addOperation(cancelled);
  EXPECT_TRUE(cancelled->waitUntilFinished(kWaitSeconds));
  ASSERT_TRUE(MainQueue::runUntil([&] { return shown->isFinished(); }, kWaitSeconds));
  EXPECT_FALSE(shown->error());
  EXPECT_TRUE(queue.waitUntilAllOperationsAreFinished(kWaitSeconds));
}

}  // namespace
}  // namespace vantelkit
