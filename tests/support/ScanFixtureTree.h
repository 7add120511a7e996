// Builds file trees for scanning tests in a fresh temporary folder, removed again when the
// builder goes away. Paths are bytes: names need not be valid UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantel::testing {

class ScanFixtureTree {
 public:
  ScanFixtureTree();
  ~ScanFixtureTree();
  ScanFixtureTree(const ScanFixtureTree&) = delete;
  ScanFixtureTree& operator=(const ScanFixtureTree&) = delete;

  // The temporary folder (absolute, no trailing "/").
  const std::string& root() const { return _root; }
  // root() + "/" + relative.
  std::string path(std::string_view relative) const;

  // Each makes the missing parent folders of relative first and returns the full path.
  std::string directory(std::string_view relative);
  // A file of size bytes, written in full (each byte 'x').
  std::string file(std::string_view relative, std::int64_t size = 0);
  // A file whose logical size is size but which holds no data blocks.
  std::string sparseFile(std::string_view relative, std::int64_t size);
  std::string symbolicLink(std::string_view relative, std::string_view target);
  std::string hardLink(std::string_view relative, std::string_view existingRelative);
  // False (and nothing made) where the platform refuses, as for a long socket path.
  bool fifo(std::string_view relative);
  bool socket(std::string_view relative);

 private:
  void makeParents(std::string_view relative);
  std::string _root;
};

}  // namespace vantel::testing
