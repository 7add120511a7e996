#include "vantelkit/clean/CleanScanItem.h"

#include <functional>

#include "vantelkit/formats/ApplicationIcon.h"

namespace vantelkit {

namespace {

void combine(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
}

}  // namespace

CleanScanItem::CleanScanItem(std::shared_ptr<FileNode> file, std::vector<std::shared_ptr<CleanScanItem>> children,
                             std::optional<std::string> name, std::optional<platform::Image> icon)
    : file(std::move(file)), children(std::move(children)), _name(std::move(name)), _icon(std::move(icon)) {
  if (this->file) {
    const std::int64_t nodeSize = this->file->size();
    size = nodeSize > 0 ? static_cast<std::uint64_t>(nodeSize) : 0;
  } else {
    for (const auto& child : this->children) {
      if (child) size += child->size;
    }
  }
}

std::shared_ptr<CleanScanItem> CleanScanItem::make(std::shared_ptr<FileNode> file,
                                                   std::vector<std::shared_ptr<CleanScanItem>> children,
                                                   std::optional<std::string> name,
                                                   std::optional<platform::Image> icon) {
  return std::make_shared<CleanScanItem>(std::move(file), std::move(children), std::move(name), std::move(icon));
}

std::optional<std::string> CleanScanItem::name() const {
  if (_name) return _name;
  if (file) return file->url().lastPathComponent();
  return std::nullopt;
}

std::optional<platform::Image> CleanScanItem::icon() const {
  if (_icon) return _icon;
  if (file) return iconForFile(file->url().path());
  return std::nullopt;
}

bool CleanScanItem::operator==(const CleanScanItem& other) const {
  if (static_cast<bool>(file) != static_cast<bool>(other.file)) return false;
  if (file && !(file->url() == other.file->url())) return false;
  if (name() != other.name()) return false;
  if (children.size() != other.children.size()) return false;
  for (std::size_t k = 0; k < children.size(); ++k) {
    if (!CleanScanItemEqual{}(children[k], other.children[k])) return false;
  }
  return true;
}

std::size_t CleanScanItem::hash() const {
  std::size_t seed = 0;
  combine(seed, file ? 1 : 0);
  if (file) combine(seed, file->url().hash());
  const auto itemName = name();
  combine(seed, itemName ? 1 : 0);
  if (itemName) combine(seed, std::hash<std::string>{}(*itemName));
  combine(seed, children.size());
  for (const auto& child : children) combine(seed, CleanScanItemHash{}(child));
  return seed;
}

}  // namespace vantelkit
