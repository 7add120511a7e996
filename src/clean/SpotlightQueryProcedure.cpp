#include "vantelkit/clean/SpotlightQueryProcedure.h"

#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit {

SpotlightQueryProcedure::SpotlightQueryProcedure(MetadataPredicate predicate, std::shared_ptr<MetadataIndex> index,
                                                 MetadataSearchOptions options)
    : query(MetadataQuery::make(std::move(index))) {
  query->setPredicate(std::move(predicate));
  query->setSearchOptions(options);
  query->setSearchScopes({platform::Paths::home()});
  query->setSortDescriptors({{"kMDItemFSSize", false}});
}

SpotlightQueryProcedure::~SpotlightQueryProcedure() {
  stopObserving();
  query->stopQuery();
}

void SpotlightQueryProcedure::execute() {
  auto token = platform::NotificationCenter::defaultCenter().addObserver(
      std::string(MetadataQuery::didFinishGatheringNotification),
      [weak = weakReference<SpotlightQueryProcedure>()](const platform::Notification& notification) {
        if (auto self = weak.lock()) self->queryDidFinish(notification);
      });
  {
    std::lock_guard lock(_tokenMutex);
    _token = token;
  }
  _executing.store(true);
  // A cancellation that came before _executing was set could not finish the procedure.
  if (isCancelled()) {
    stopObserving();
    query->stopQuery();
    if (claimFinish()) finish();
    return;
  }
  DispatchQueue::main()->async([weak = weakReference<SpotlightQueryProcedure>()] {
    if (auto self = weak.lock()) self->query->startQuery();
  });
}

void SpotlightQueryProcedure::queryDidFinish(const platform::Notification& notification) {
  const auto* sender = std::any_cast<std::shared_ptr<MetadataQuery>>(&notification.object);
  if (!sender || *sender != query) return;
  if (!claimFinish()) return;
  std::vector<std::shared_ptr<FileNode>> nodes;
  for (const auto& result : query->results()) {
    if (!result) continue;
    auto path = result->valueForAttribute("kMDItemPath");
    const auto* text = path ? std::get_if<std::string>(&*path) : nullptr;
    if (!text) continue;
    auto size = result->valueForAttribute("kMDItemFSSize");
    std::optional<std::int64_t> bytes;
    if (size) {
      if (const auto* integer = std::get_if<std::int64_t>(&*size)) {
        bytes = *integer;
      } else if (const auto* real = std::get_if<double>(&*size)) {
        // A number that does not fit is no size.
        if (*real >= -9.2e18 && *real <= 9.2e18) bytes = static_cast<std::int64_t>(*real);
      }
    }
    if (!bytes) continue;
    auto node = FileNode::make(FileURL::fileURLWithPath(*text), nullptr, *bytes, FileNode::NodeType::file);
    auto physical = result->valueForAttribute("kMDItemPhysicalSize");
    if (const auto* allocated = physical ? std::get_if<std::int64_t>(&*physical) : nullptr) node->setUsage(*allocated);
    nodes.push_back(std::move(node));
  }
  _unreadable = query->unreadable();
  query->stopQuery();
  stopObserving();
  setSuccess(std::move(nodes));
  finish();
}

void SpotlightQueryProcedure::procedureDidCancel(const ErrorPtr&) {
  query->stopQuery();
  stopObserving();
  if (_executing.load() && claimFinish()) finish();
}

void SpotlightQueryProcedure::stopObserving() {
  std::optional<platform::NotificationCenter::ObserverToken> token;
  {
    std::lock_guard lock(_tokenMutex);
    token = _token;
    _token.reset();
  }
  if (token) platform::NotificationCenter::defaultCenter().removeObserver(*token);
}

}  // namespace vantelkit
