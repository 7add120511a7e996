#include "vantelkit/diskmap/DiskMapDiff.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace vantelkit {

namespace {

using Index = DiskMap::Index;
using Entry = DiskMap::Entry;
using Change = DiskMapDiff::Change;
using Status = DiskMapDiff::Status;

std::string entryPath(const std::string& folder, const Entry& entry) {
  std::string path = folder;
  path += entry.nameView();
  if (entry.isDirectory()) path += '/';
  return path;
}

Change oneSided(const std::string& folder, const Entry& entry, bool appeared) {
  Change change{entryPath(folder, entry), appeared ? Status::appeared : Status::vanished, entry.nodeType(), {}, {},
                entry.hasMark(FileNode::unreadable)};
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
  // The folders of before whose counterpart in after is known and whose children are yet to
  // be compared: the counterpart, and the folder's path below the roots with a trailing "/".
  std::unordered_map<Index, std::pair<Index, std::string>> matched;
  matched.emplace(DiskMap::rootIndex, std::make_pair(DiskMap::rootIndex, std::string()));
  std::unordered_map<std::string_view, Index> afterByName;
  auto enter = [&](Index index, std::size_t) {
    auto pair = matched.find(index);
    if (pair == matched.end()) return false;
    const Index counterpart = pair->second.first;
    const std::string& folder = pair->second.second;
    afterByName.clear();
    afterByName.reserve(after[counterpart].childCount);
    for (Index child : after.children(counterpart)) afterByName.emplace(after[child].nameView(), child);
    for (Index child : before.children(index)) {
      const Entry& old = before[child];
      auto found = afterByName.find(old.nameView());
      if (found == afterByName.end() || after[found->second].type != old.type) {
        changes.push_back(oneSided(folder, old, false));
        continue;
      }
      const Index nowIndex = found->second;
      const Entry& now = after[nowIndex];
      afterByName.erase(found);
      if (now.size != old.size) {
        changes.push_back({entryPath(folder, now), now.size > old.size ? Status::grew : Status::shrank, now.nodeType(),
                           old.size, now.size,
                           now.hasMark(FileNode::unreadable) || old.hasMark(FileNode::unreadable)});
      }
      // Equal totals may still hide moves inside, so matched folders are always compared.
      if (now.isDirectory()) matched.emplace(child, std::make_pair(nowIndex, entryPath(folder, now)));
    }
    for (Index child : after.children(counterpart)) {
      if (afterByName.count(after[child].nameView()) != 0) changes.push_back(oneSided(folder, after[child], true));
    }
    return true;
  };
  auto leave = [&matched](Index index, std::size_t) { matched.erase(index); };
  before.visit(DiskMap::rootIndex, DiskMap::Order::map, enter, leave);
  std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
    auto sizeA = a.change() < 0 ? -a.change() : a.change();
    auto sizeB = b.change() < 0 ? -b.change() : b.change();
    if (sizeA != sizeB) return sizeA > sizeB;
    return a.path < b.path;
  });
  return changes;
}

}  // namespace vantelkit
