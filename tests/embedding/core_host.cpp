// A host that only maps folders: links vantelkit_core alone, maps the folder it is given and
// checks that neither X11, the image codecs, libflatpak nor ncursesw were loaded into the process.
// Usage: vantel_core_host FOLDER   (exit 0 when all holds)
#include <cstdio>
#include <fstream>
#include <string>

#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/scanning/FileURL.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  auto scanner = vantelkit::DiskScanner::make();
  auto map = scanner->scanMap(vantelkit::FileURL::fileURLWithPath(argv[1], true));
  if (!map || map->count() < 2 || map->root().size <= 0) {
    std::fprintf(stderr, "the map of %s is empty\n", argv[1]);
    return 1;
  }
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("libxcb") != std::string::npos || line.find("gdk_pixbuf") != std::string::npos ||
        line.find("libncurses") != std::string::npos || line.find("libflatpak") != std::string::npos) {
      std::fprintf(stderr, "loaded: %s\n", line.c_str());
      return 1;
    }
  }
  std::printf("%zu entries, %lld bytes\n", map->count(), static_cast<long long>(map->root().size));
  return 0;
}
