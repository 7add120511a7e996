#include "vantelkit/diskmap/DiskMapDiff.h"

#include <algorithm>
#include <utility>

namespace vantelkit {

namespace {

using Index = DiskMap::Index;
using Entry = DiskMap::Entry;
using Change = DiskMapDiff::Change;
using Status = DiskMapDiff::Status;

// A folder's children in path order: walked so, a folder before what it holds, they give
// the byte order of the whole paths.
void sortedChildren(const DiskMap& map, Index folder, std::vector<Index>& into) {
  auto run = map.children(folder);
  into.assign(run.begin(), run.end());
  std::sort(into.begin(), into.end(), [&map](Index a, Index b) { return DiskMap::pathOrderBefore(map[a], map[b]); });
}

Change oneSided(const Entry& entry, Index index, bool appeared) {
  Change change{appeared ? Status::appeared : Status::vanished, entry.nodeType(), {}, {},
                entry.hasMark(FileNode::unreadable), index};
  (appeared ? change.newSize : change.oldSize) = entry.size;
  return change;
}

}  // namespace

std::string_view DiskMapDiff::statusName(Status status) {
  switch (status) {
    case Status::grew: return "grew";
    case Status::shrank: return "shrank";
    case Status::appeared: return "appeared";
    case Status::vanished: return "vanished";
  }
  return "";
}

std::vector<Change> DiskMapDiff::compare(const DiskMap& before, const DiskMap& after) {
  std::vector<Change> changes;
  // The matched folders being compared, outermost first, each with both sides' children in
  // path order and how far the merge of the two has come. Frames are kept when popped, so
  // that their storage is used again.
  struct Frame {
    std::vector<Index> old, now;
    std::size_t nextOld = 0, nextNow = 0;
  };
  std::vector<Frame> stack;
  std::size_t depth = 0;
  auto push = [&](Index oldFolder, Index nowFolder) {
    if (stack.size() == depth) stack.emplace_back();
    Frame& frame = stack[depth++];
    sortedChildren(before, oldFolder, frame.old);
    sortedChildren(after, nowFolder, frame.now);
    frame.nextOld = frame.nextNow = 0;
  };
  // Changes are found in path order, so a stable sort by size leaves equal sizes in it.
  push(DiskMap::rootIndex, DiskMap::rootIndex);
  while (depth > 0) {
    Frame& frame = stack[depth - 1];
    const bool oldLeft = frame.nextOld < frame.old.size(), nowLeft = frame.nextNow < frame.now.size();
    if (!oldLeft && !nowLeft) {
      --depth;
      continue;
    }
    const Index oldIndex = oldLeft ? frame.old[frame.nextOld] : 0, nowIndex = nowLeft ? frame.now[frame.nextNow] : 0;
    if (!nowLeft || (oldLeft && DiskMap::pathOrderBefore(before[oldIndex], after[nowIndex]))) {
      changes.push_back(oneSided(before[oldIndex], oldIndex, false));
      ++frame.nextOld;
      continue;
    }
    if (!oldLeft || DiskMap::pathOrderBefore(after[nowIndex], before[oldIndex])) {
      changes.push_back(oneSided(after[nowIndex], nowIndex, true));
      ++frame.nextNow;
      continue;
    }
    // The same path on both sides.
    ++frame.nextOld;
    ++frame.nextNow;
    const Entry& old = before[oldIndex];
    const Entry& now = after[nowIndex];
    if (old.type != now.type) {
      changes.push_back(oneSided(old, oldIndex, false));
      changes.push_back(oneSided(now, nowIndex, true));
      continue;
    }
    if (now.size != old.size) {
      changes.push_back({now.size > old.size ? Status::grew : Status::shrank, now.nodeType(), old.size, now.size,
                         now.hasMark(FileNode::unreadable) || old.hasMark(FileNode::unreadable), oldIndex});
    }
    // Equal totals may still hide moves inside, so matched folders are always compared.
    if (now.isDirectory()) push(oldIndex, nowIndex);
  }
  std::stable_sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    auto sizeA = a.change() < 0 ? -a.change() : a.change();
    auto sizeB = b.change() < 0 ? -b.change() : b.change();
    return sizeA > sizeB;
  });
  return changes;
}

std::string DiskMapDiff::path(const Change& change, const DiskMap& before, const DiskMap& after) {
  const DiskMap& map = change.status == Status::appeared ? after : before;
  std::string path = map.relativePath(change.entry);
  if (map[change.entry].isDirectory()) path += '/';
  return path;
}

}  // namespace vantelkit
