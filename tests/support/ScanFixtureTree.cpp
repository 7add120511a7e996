#include "ScanFixtureTree.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "vantelkit/platform/PipeAndSocketFiles.h"

namespace fs = std::filesystem;

namespace vantel::testing {

ScanFixtureTree::ScanFixtureTree() {
  static std::atomic<int> counter{0};
  std::random_device device;
  auto base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("vantel-scan-" + std::to_string(device()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      _root = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

ScanFixtureTree::~ScanFixtureTree() {
  std::error_code error;
  fs::remove_all(_root, error);
}

std::string ScanFixtureTree::path(std::string_view relative) const {
  if (relative.empty()) return _root;
  return _root + "/" + std::string(relative);
}

void ScanFixtureTree::makeParents(std::string_view relative) {
  fs::path full(path(relative));
  fs::create_directories(full.parent_path());
}

std::string ScanFixtureTree::directory(std::string_view relative) {
  auto full = path(relative);
  fs::create_directories(full);
  return full;
}

std::string ScanFixtureTree::file(std::string_view relative, std::int64_t size) {
  makeParents(relative);
  auto full = path(relative);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  std::string chunk(4096, 'x');
  for (std::int64_t written = 0; written < size;) {
    auto n = std::min<std::int64_t>(size - written, static_cast<std::int64_t>(chunk.size()));
    out.write(chunk.data(), n);
    written += n;
  }
  if (!out) throw std::runtime_error("cannot write " + full);
  return full;
}

std::string ScanFixtureTree::sparseFile(std::string_view relative, std::int64_t size) {
  auto full = file(relative, 0);
  fs::resize_file(full, static_cast<std::uintmax_t>(size));
  return full;
}

std::string ScanFixtureTree::symbolicLink(std::string_view relative, std::string_view target) {
  makeParents(relative);
  auto full = path(relative);
  fs::create_symlink(std::string(target), full);
  return full;
}

std::string ScanFixtureTree::hardLink(std::string_view relative, std::string_view existingRelative) {
  makeParents(relative);
  auto full = path(relative);
  fs::create_hard_link(path(existingRelative), full);
  return full;
}

bool ScanFixtureTree::fifo(std::string_view relative) {
  makeParents(relative);
  return vantelkit::platform::makeFifo(path(relative));
}

bool ScanFixtureTree::socket(std::string_view relative) {
  makeParents(relative);
  return vantelkit::platform::makeSocketFile(path(relative));
}

}  // namespace vantel::testing

// GIO keeps its shared MIME database caches for the life of the process and never frees
// them; LeakSanitizer would report those as leaks of every test that asks for a file's
// kind or icon. This hook is linked in with the fixture trees that such tests use.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libgio-2.0.so\nleak:libglib-2.0.so\nleak:libgobject-2.0.so\n";
}
