// Saved disk maps (ncdu exports or map JSON) read back for the commands that show them, and
// the marks those commands show before a name.
#pragma once

#include <memory>
#include <string>

#include "vantelkit/scanning/DiskMap.h"

namespace vantel {

// Reads a saved map from file ("-" for stdin), or prints why it cannot and answers null.
std::shared_ptr<vantelkit::DiskMap> readSavedMap(const std::string& file);

// The mark ncdu's browser shows before an entry's name (0 for none): ! unreadable or not
// read, > other file system, ^ kernel file system, < cache folder left out, H hard link,
// @ neither file nor folder, . something below unreadable.
inline char markOf(const vantelkit::DiskMap::Entry& entry) {
  using vantelkit::FileNode;
  if (entry.hasMark(FileNode::unreadable) || entry.hasMark(FileNode::notListed)) return '!';
  if (entry.hasMark(FileNode::otherFileSystem)) return '>';
  if (entry.hasMark(FileNode::pseudoFileSystem)) return '^';
  if (entry.hasMark(FileNode::cacheFolder)) return '<';
  if (entry.hasMark(FileNode::hardLink)) return 'H';
  if (!entry.isDirectory() && entry.nodeType() != FileNode::NodeType::file) return '@';
  if (entry.hasMark(FileNode::partlyRead)) return '.';
  return 0;
}

}  // namespace vantel
