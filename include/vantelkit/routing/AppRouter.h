// The application router: turns a link and the context it came from into navigation work.
// It normalises and matches the link, runs the registered middlewares and then the route's
// handler as one procedure tree on its own queue, and tells listeners when a routing ended.
// A new routing cancels the one in progress. Routers nest under a path prefix.
// Thread safety: registration, route(), supportsRoute() and the did-route callbacks belong to
// the main queue; handlers run on a queue thread, callbacks on the main queue. shared() and
// setShared() are safe from any thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/ProcedureQueue.h"
#include "vantelkit/platform/URL.h"
#include "vantelkit/platform/UUID.h"
#include "vantelkit/routing/URLRouter.h"
#include "vantelkit/routing/ViewControllerPresentation.h"

namespace vantelkit {

class Procedure;
class GroupProcedure;

class AppRouter : public std::enable_shared_from_this<AppRouter> {
 public:
  // Where a link came from; it decides how its screens are shown by default.
  class Context {
   public:
    enum Case { handoff, pushNotification, externalUrl, app, menu, siri };

    constexpr Context(Case value) : _value(value) {}  // NOLINT: a case is a context
    constexpr Case value() const { return _value; }
    // push for app, replaceRoot(true) for menu, modal(true) for the others.
    ViewControllerPresentation::Method defaultPresentation() const;

    friend constexpr bool operator==(Context, Context) = default;

   private:
    Case _value;
  };

  struct RouteInfo {
    URLRouteVariables variables;
    Context context;
    // The link after normalisation.
    URL url;
  };

  // Builds the work for a matched link; it may answer null for nothing to do.
  using Handler = std::function<std::shared_ptr<Procedure>(const RouteInfo& info)>;
  // Called while a routing is built, in registration order; a returned procedure runs before
  // the handler, and its failure stops the routing. Null for nothing to run.
  using Middleware = std::function<std::shared_ptr<Procedure>(const RouteInfo& info)>;
  using DidRouteCallback = std::function<void(const URL& url)>;

  // rootPath is put before every path pattern registered on this router, with no separator.
  static std::shared_ptr<AppRouter> create(std::string rootPath = {});
  ~AppRouter();
  AppRouter(const AppRouter&) = delete;
  AppRouter& operator=(const AppRouter&) = delete;

  // The process-wide router, created with an empty root path on first use.
  static std::shared_ptr<AppRouter> shared();
  static void setShared(std::shared_ptr<AppRouter> router);

  void add(Middleware middleware);
  // Registers rootPath + path for any scheme.
  void add(std::string_view path, Handler handler);
  // Registers rootPath + path for that scheme only.
  void add(std::string_view scheme, std::string_view path, Handler handler);
  // Registers a route function as it is.
  void add(URLRoute route, Handler handler);
  // Registers router as one route: a link it matches is routed by its procedure. The router
  // is held strongly (weakly when it is this one). A router that reaches itself again through
  // its subrouters matches nothing there; routers that hold each other stay alive.
  void add(const std::shared_ptr<AppRouter>& router);
  // A new router with the given root path (alone, not prefixed with this router's), already
  // added to this one.
  std::shared_ptr<AppRouter> subrouter(std::string path);

  // Whether some route matches the normalised link.
  bool supportsRoute(const URL& url) const;
  // The routing group for the link: middlewares, then the route step that calls the handler;
  // null when no route matches.
  std::shared_ptr<GroupProcedure> procedure(const URL& url, Context context) const;
  // Cancels the routing in progress and starts this one. False when no route matches: the
  // noMatchingRoute error is then logged on the main queue. fallbackTitle is for the host.
  bool route(const URL& url, Context context, std::optional<std::string> fallbackTitle = std::nullopt);

  // The callback is called on the main queue with the link as passed to route() whenever a
  // routing ended, failed or not. Answers the identifier that removes it.
  UUID addDidRouteCallback(DidRouteCallback callback);
  // Removes the callback; an unknown identifier changes nothing.
  void removeDidRouteCallback(const UUID& identifier);

  const std::map<UUID, DidRouteCallback>& didRouteCallbacks() const { return _didRouteCallbacks; }
  const std::vector<Middleware>& middlewares() const { return _middlewares; }
  ProcedureQueue& operationQueue() { return *_operationQueue; }
  const URLRouter<Handler>& urlRouter() const { return _urlRouter; }
  const std::string& rootPath() const { return _rootPath; }

 private:
  explicit AppRouter(std::string rootPath);
  std::shared_ptr<Procedure> showNoMatchingRouteProcedure(const URL& url, Context context,
                                                          const std::optional<std::string>& fallbackTitle) const;

  std::map<UUID, DidRouteCallback> _didRouteCallbacks;
  std::vector<Middleware> _middlewares;
  std::unique_ptr<ProcedureQueue> _operationQueue;
  URLRouter<Handler> _urlRouter;
  const std::string _rootPath;
};

using RouteInfo = AppRouter::RouteInfo;

// The router's error: no route matched the link (its absolute text).
class AppRouterError final : public Error {
 public:
  enum class Case { noMatchingRoute };

  static AppRouterError noMatchingRoute(std::string url) { return AppRouterError(std::move(url)); }

  Case value() const { return Case::noMatchingRoute; }
  const std::string& url() const { return _url; }

  std::string typeName() const override { return "AppRouterError"; }
  std::string description() const override { return "noMatchingRoute"; }
  std::string localizedDescription() const override { return "No matching route: " + _url; }

 private:
  explicit AppRouterError(std::string url) : _url(std::move(url)) {}
  std::string _url;
};

}  // namespace vantelkit
