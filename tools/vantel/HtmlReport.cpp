#include "HtmlReport.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "JsonWriter.h"
#include "TextOutput.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantel {

extern const std::string_view kReportPage;
extern const std::string_view kD3Hierarchy;

namespace {

using vantelkit::FileNode;

// A JSON string that is also safe inside a <script> element: "<" is written as \u003c, so no
// name can close the element.
std::string scriptSafe(std::string_view text) {
  std::string quoted = JsonWriter::quoted(text);
  std::string out;
  out.reserve(quoted.size());
  for (char c : quoted) {
    if (c == '<') out += "\\u003c";
    else out += c;
  }
  return out;
}

// The tree as nested arrays: [name, size, kind, flags, [children]] with kind 0 for a file and
// 1 for a folder, flags 1 for an unreadable entry. Written without recursion.
std::string treeData(const vantelkit::DiskMap& map) {
  using Index = vantelkit::DiskMap::Index;
  std::string out;
  struct Frame {
    Index folder;
    Index next;
  };
  auto open = [&out, &map](Index index) {
    const auto& entry = map[index];
    bool folder = entry.isDirectory();
    int flags = entry.hasMark(FileNode::unreadable) ? 1 : 0;
    out += fmt::format("[{},{},{},{}", scriptSafe(entry.nameView()), entry.size, folder ? 1 : 0, flags);
    if (folder) out += ",[";
    return folder;
  };
  std::vector<Frame> stack;
  if (open(vantelkit::DiskMap::rootIndex)) stack.push_back({vantelkit::DiskMap::rootIndex, 0});
  else out += ']';
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const auto& folder = map[frame.folder];
    if (frame.next == folder.childCount) {
      out += "]]";
      stack.pop_back();
      continue;
    }
    if (frame.next > 0) out += ',';
    Index child = folder.firstChild + frame.next++;
    if (open(child)) stack.push_back({child, 0});
    else out += ']';
  }
  return out;
}

void replace(std::string& text, std::string_view marker, std::string_view with) {
  auto at = text.find(marker);
  if (at != std::string::npos) text.replace(at, marker.size(), with);
}

}  // namespace

bool htmlReportAvailable() { return !kD3Hierarchy.empty(); }

bool writeHtmlReport(const std::string& file, const vantelkit::DiskMap& map, const std::string& rootPath) {
  if (!htmlReportAvailable()) {
    fmt::print(stderr, "vantel: this build has no HTML report (d3-hierarchy was not found when it was built)\n");
    return false;
  }
  std::string page(kReportPage);
  std::string title = rootPath;
  std::string escapedTitle;
  for (char c : title) {
    switch (c) {
      case '<': escapedTitle += "&lt;"; break;
      case '>': escapedTitle += "&gt;"; break;
      case '&': escapedTitle += "&amp;"; break;
      case '"': escapedTitle += "&quot;"; break;
      case '@': escapedTitle += "&#64;"; break;  // no marker can come in with the path
      default: escapedTitle += c;
    }
  }
  // The data goes in last, so no marker can be found inside it.
  replace(page, "@TITLE@", escapedTitle);
  replace(page, "/*@D3_HIERARCHY@*/", kD3Hierarchy);
  std::string data = fmt::format("{{\"path\":{},\"files\":{},\"root\":{}}}", scriptSafe(rootPath),
                                 map.totalFilesScanned(), treeData(map));
  replace(page, "@MAP_DATA@", data);

  std::FILE* out = file == "-" ? stdout : std::fopen(file.c_str(), "wb");
  if (out == nullptr) {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", escapedForTerminal(file),
               vantelkit::platform::errorDescription(vantelkit::platform::lastErrorNumber()));
    return false;
  }
  bool written = std::fwrite(page.data(), 1, page.size(), out) == page.size();
  int error = written ? 0 : vantelkit::platform::lastErrorNumber();
  if (out == stdout) {
    if (std::fflush(out) != 0 && written) {
      written = false;
      error = vantelkit::platform::lastErrorNumber();
    }
  } else if (std::fclose(out) != 0 && written) {
    written = false;
    error = vantelkit::platform::lastErrorNumber();
  }
  if (!written) {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", escapedForTerminal(file),
               vantelkit::platform::errorDescription(error));
    return false;
  }
  return true;
}

}  // namespace vantel
