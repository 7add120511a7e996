// Objects attached to other objects under process-wide keys, for the life of the owner (the
// platform's associated objects): a control keeps the helper that forwards its action alive.
// Thread safety: an AttachmentStore is safe to use from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace vantelkit {

// Anything that can be attached; the store owns it (shared ownership) until it is replaced,
// removed or the owner goes away.
class Attachment {
 public:
  virtual ~Attachment() = default;
};

// A key is identified by its address: define one as a static object and pass it by reference.
class AttachmentKey {
 public:
  AttachmentKey() = default;
  AttachmentKey(const AttachmentKey&) = delete;
  AttachmentKey& operator=(const AttachmentKey&) = delete;
};

class AttachmentStore {
 public:
  AttachmentStore() = default;
  AttachmentStore(const AttachmentStore&) = delete;
  AttachmentStore& operator=(const AttachmentStore&) = delete;

  // Attaches value under key, replacing what was there; a null value removes the entry.
  void set(const AttachmentKey& key, std::shared_ptr<Attachment> value);
  // What is attached under key, or null.
  std::shared_ptr<Attachment> get(const AttachmentKey& key) const;
  void remove(const AttachmentKey& key) { set(key, nullptr); }

 private:
  mutable std::mutex _mutex;
  std::vector<std::pair<const AttachmentKey*, std::shared_ptr<Attachment>>> _entries;  // guarded by _mutex
};

// The base of the host-facing platform objects (view controllers, controls, coordinators):
// each carries its own attachments.
class PlatformObject {
 public:
  PlatformObject() = default;
  virtual ~PlatformObject() = default;
  PlatformObject(const PlatformObject&) = delete;
  PlatformObject& operator=(const PlatformObject&) = delete;

  AttachmentStore& attachments() const { return _attachments; }

 private:
  mutable AttachmentStore _attachments;
};

}  // namespace vantelkit
