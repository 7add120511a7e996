// Reads arbitrary bytes as a disk map (an ncdu export or the map JSON). Whatever is accepted
// must be a consistent tree: every folder's size is the sum of its counted files; whatever is
// refused carries a message and a position inside the input. Any crash, leak, hang or
// sanitizer report is a fault.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "vantelkit/diskmap/DiskMapImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using vantelkit::DiskMapImport;
  using vantelkit::FileNode;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto result = DiskMapImport::read(text);
  if (auto* error = std::get_if<DiskMapImport::Error>(&result)) {
    if (error->message.empty() || error->line == 0 || error->column == 0 || error->line > size + 1)
      __builtin_trap();
    return 0;
  }
  const auto& scan = std::get<std::shared_ptr<vantelkit::DiskScanResult>>(result);
  if (!scan || !scan->root()) __builtin_trap();
  // Post-order check of the sums, without recursion.
  std::vector<std::pair<const FileNode*, std::size_t>> stack{{scan->root().get(), 0}};
  std::vector<std::int64_t> sums{0};
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    if (next < node->children().size()) {
      const FileNode* child = node->children()[next++].get();
      if (child->type() == FileNode::NodeType::directory) {
        stack.push_back({child, 0});
        sums.push_back(0);
      } else if (!child->hasMark(FileNode::duplicateLink)) {
        sums.back() += child->size();
      }
      continue;
    }
    std::int64_t total = sums.back();
    if (total != node->size()) __builtin_trap();
    stack.pop_back();
    sums.pop_back();
    if (!sums.empty()) sums.back() += total;
  }
  return 0;
}
