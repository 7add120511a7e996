#include "vantelkit/platform/ObjectAttachments.h"

#include <algorithm>

namespace vantelkit {

void AttachmentStore::set(const AttachmentKey& key, std::shared_ptr<Attachment> value) {
  std::shared_ptr<Attachment> previous;
  {
    std::lock_guard lock(_mutex);
    auto entry = std::find_if(_entries.begin(), _entries.end(), [&](const auto& e) { return e.first == &key; });
    if (entry != _entries.end()) {
      previous = std::move(entry->second);
      if (value) {
        entry->second = std::move(value);
      } else {
        _entries.erase(entry);
      }
    } else if (value) {
      _entries.emplace_back(&key, std::move(value));
    }
  }
  // previous is released here, outside the lock: its destructor may use this store.
}

std::shared_ptr<Attachment> AttachmentStore::get(const AttachmentKey& key) const {
  std::lock_guard lock(_mutex);
  auto entry = std::find_if(_entries.begin(), _entries.end(), [&](const auto& e) { return e.first == &key; });
  return entry == _entries.end() ? nullptr : entry->second;
}

}  // namespace vantelkit
