#include "vantelkit/routing/AppRouter.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "vantelkit/foundation/BlockProcedure.h"
#include "vantelkit/foundation/GroupProcedure.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/foundation/ProcedureHelpers.h"
#include "vantelkit/routing/RouteURLNormalizer.h"

namespace vantelkit {
namespace {

constexpr std::string_view kRoutingMark = "\xF0\x9F\x9B\xA3";       // motorway
constexpr std::string_view kNoRouteMark = "\xF0\x9F\x9A\xA7";       // construction sign

struct SharedRouter {
  std::mutex mutex;
  std::shared_ptr<AppRouter> router;  // guarded by mutex
};

SharedRouter& sharedRouter() {
  static SharedRouter storage;
  return storage;
}

// The routers whose tables this thread is matching against: a router reached again through
// its own subrouters matches nothing there instead of recursing without end.
thread_local std::vector<const AppRouter*> tMatchingRouters;

class MatchingScope {
 public:
  explicit MatchingScope(const AppRouter* router) : _entered(!isMatching(router)) {
    if (_entered) tMatchingRouters.push_back(router);
  }
  ~MatchingScope() {
    if (_entered) tMatchingRouters.pop_back();
  }
  MatchingScope(const MatchingScope&) = delete;
  MatchingScope& operator=(const MatchingScope&) = delete;
  bool entered() const { return _entered; }

 private:
  static bool isMatching(const AppRouter* router) {
    return std::find(tMatchingRouters.begin(), tMatchingRouters.end(), router) != tMatchingRouters.end();
  }
  bool _entered;
};

}  // namespace

ViewControllerPresentation::Method AppRouter::Context::defaultPresentation() const {
  switch (_value) {
    case app: return ViewControllerPresentation::Method::push();
    case menu: return ViewControllerPresentation::Method::replaceRoot(true);
    case handoff:
    case pushNotification:
    case externalUrl:
    case siri: return ViewControllerPresentation::Method::modal(true);
  }
  return ViewControllerPresentation::Method::modal(true);
}

AppRouter::AppRouter(std::string rootPath)
    : _operationQueue(std::make_unique<ProcedureQueue>("AppRouter")), _rootPath(std::move(rootPath)) {}

AppRouter::~AppRouter() = default;

std::shared_ptr<AppRouter> AppRouter::create(std::string rootPath) {
  return std::shared_ptr<AppRouter>(new AppRouter(std::move(rootPath)));
}

std::shared_ptr<AppRouter> AppRouter::shared() {
  auto& storage = sharedRouter();
  std::lock_guard lock(storage.mutex);
  if (!storage.router) storage.router = create();
  return storage.router;
}

void AppRouter::setShared(std::shared_ptr<AppRouter> router) {
  auto& storage = sharedRouter();
  std::lock_guard lock(storage.mutex);
  storage.router.swap(router);
}

void AppRouter::add(Middleware middleware) {
  if (middleware) _middlewares.push_back(std::move(middleware));
}

void AppRouter::add(std::string_view path, Handler handler) {
  _urlRouter.add(URLPathRoute(URLRouterWildcard, _rootPath + std::string(path)), std::move(handler));
}

void AppRouter::add(std::string_view scheme, std::string_view path, Handler handler) {
  _urlRouter.add(URLPathRoute(scheme, _rootPath + std::string(path)), std::move(handler));
}

void AppRouter::add(URLRoute route, Handler handler) { _urlRouter.add(std::move(route), std::move(handler)); }

void AppRouter::add(const std::shared_ptr<AppRouter>& router) {
  if (!router) return;
  // A router added to itself holds itself weakly, so that it does not keep itself alive.
  const bool isSelf = router.get() == this;
  std::weak_ptr<AppRouter> weakRouter = router;
  std::shared_ptr<AppRouter> strongRouter = isSelf ? nullptr : router;
  URLRoute route = [weakRouter, strongRouter](const URL& url) {
    auto router = strongRouter ? strongRouter : weakRouter.lock();
    if (!router) return URLRouteResult::failed();
    MatchingScope scope(router.get());
    if (!scope.entered()) return URLRouteResult::failed();
    auto match = router->_urlRouter.match(RouteURLNormalizer::normalize(url));
    return match ? URLRouteResult::matched(std::move(match->second)) : URLRouteResult::failed();
  };
  Handler handler = [weakRouter, strongRouter](const RouteInfo& info) -> std::shared_ptr<Procedure> {
    auto router = strongRouter ? strongRouter : weakRouter.lock();
    return router ? router->procedure(info.url, info.context) : nullptr;
  };
  _urlRouter.add(std::move(route), std::move(handler));
}

std::shared_ptr<AppRouter> AppRouter::subrouter(std::string path) {
  auto router = create(std::move(path));
  add(router);
  return router;
}

bool AppRouter::supportsRoute(const URL& url) const {
  MatchingScope scope(this);
  return scope.entered() && _urlRouter.match(RouteURLNormalizer::normalize(url)).has_value();
}

std::shared_ptr<GroupProcedure> AppRouter::procedure(const URL& url, Context context) const {
  const URL normalized = RouteURLNormalizer::normalize(url);
  std::optional<std::pair<Handler, URLRouteVariables>> match;
  {
    MatchingScope scope(this);
    if (!scope.entered()) return nullptr;
    match = _urlRouter.match(normalized);
  }
  if (!match) return nullptr;

  RouteInfo info{std::move(match->second), context, normalized};
  auto group = std::make_shared<GroupProcedure>();

  std::vector<std::shared_ptr<Procedure>> middlewareProcedures;
  for (const auto& middleware : _middlewares) {
    if (auto procedure = middleware(info)) middlewareProcedures.push_back(std::move(procedure));
  }
  auto middlewareGroup = GroupProcedure::serial(middlewareProcedures);

  std::weak_ptr<GroupProcedure> weakGroup = group;
  auto routeStep = std::make_shared<BlockProcedure>(
      [weakGroup, handler = std::move(match->first), info = std::move(info), url]() {
        LogInfo("Routing to: " + url.absoluteString(), kRoutingMark,
                LogLocation(__FILE__, "procedure(for:with:)", __LINE__));
        auto routingGroup = weakGroup.lock();
        if (!routingGroup || !handler) return;
        if (auto work = handler(info)) routingGroup->addChild(std::move(work));
      });
  routeStep->addDependency(middlewareGroup);
  routeStep->addCondition(std::make_shared<NoFailedDependenciesCondition>(true));

  group->addChildren(std::vector<std::shared_ptr<Operation>>{middlewareGroup, routeStep});
  return group;
}

std::shared_ptr<Procedure> AppRouter::showNoMatchingRouteProcedure(const URL& url, Context context,
                                                                   const std::optional<std::string>& fallbackTitle) const {
  (void)context;
  (void)fallbackTitle;
  return std::make_shared<MainQueueBlockProcedure>([text = url.absoluteString()] {
    LogError(AppRouterError::noMatchingRoute(text), kNoRouteMark,
             LogLocation(__FILE__, "showNoMatchingRouteProcedure(for:with:fallbackTitle:)", __LINE__));
  });
}

bool AppRouter::route(const URL& url, Context context, std::optional<std::string> fallbackTitle) {
  _operationQueue->cancelAllOperations();
  auto group = procedure(url, context);
  if (!group) {
    _operationQueue->addOperation(showNoMatchingRouteProcedure(url, context, fallbackTitle));
    return false;
  }
  std::weak_ptr<AppRouter> weakRouter = weak_from_this();
  group->addObserver(std::make_shared<MainQueueFinishObserver<Procedure>>(
      [weakRouter, url](const std::shared_ptr<Procedure>&, const ErrorPtr& error) {
        if (error) {
          std::fputs("Error: Routing failed\n", stdout);
          std::fflush(stdout);
        }
        auto router = weakRouter.lock();
        if (!router) return;
        // A callback may add or remove callbacks: call the ones registered now.
        const auto callbacks = router->_didRouteCallbacks;
        for (const auto& [identifier, callback] : callbacks) {
          if (callback) callback(url);
        }
      }));
  _operationQueue->addOperation(std::move(group));
  return true;
}

UUID AppRouter::addDidRouteCallback(DidRouteCallback callback) {
  UUID identifier = UUID::random();
  while (_didRouteCallbacks.contains(identifier)) identifier = UUID::random();
  _didRouteCallbacks.emplace(identifier, std::move(callback));
  return identifier;
}

void AppRouter::removeDidRouteCallback(const UUID& identifier) { _didRouteCallbacks.erase(identifier); }

}  // namespace vantelkit
