#include "HtmlReport.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "Command.h"
#include "JsonWriter.h"
#include "TextOutput.h"
#include "vantelkit/platform/FileStatus.h"

namespace vantel {

extern const std::string_view kReportPage;
extern const std::string_view kD3Hierarchy;

namespace {

using vantelkit::FileNode;

// Appends text as a JSON string that is also safe inside a <script> element: "<" is written
// as \u003c, so no name can close the element.
void appendScriptSafe(std::string& out, std::string_view text) {
  const std::size_t start = out.size();
  JsonWriter::appendQuoted(out, text);
  if (out.find('<', start) == std::string::npos) return;
  std::string quoted = out.substr(start);
  out.resize(start);
  for (char c : quoted) {
    if (c == '<') out += "\\u003c";
    else out += c;
  }
}

// Writes the map as nested arrays, [name, size, kind, flags, [children]] with kind 0 for a
// file and 1 for a folder, flags 1 for an unreadable entry; without recursion, in pieces
// handed to emit.
template <class Emit>
void writeTreeData(const vantelkit::DiskMap& map, Emit&& emit) {
  using Index = vantelkit::DiskMap::Index;
  constexpr std::size_t kPiece = 1 << 16;
  std::string out;
  out.reserve(2 * kPiece);
  struct Frame {
    Index folder;
    Index next;
  };
  auto open = [&out, &map](Index index) {
    const auto& entry = map[index];
    bool folder = entry.isDirectory();
    out += '[';
    appendScriptSafe(out, entry.nameView());
    out += ',';
    JsonWriter::appendNumber(out, entry.size);
    out += folder ? ",1," : ",0,";
    out += entry.hasMark(FileNode::unreadable) ? '1' : '0';
    if (folder) out += ",[";
    return folder;
  };
  std::vector<Frame> stack;
  if (open(vantelkit::DiskMap::rootIndex)) stack.push_back({vantelkit::DiskMap::rootIndex, 0});
  else out += ']';
  while (!stack.empty()) {
    if (out.size() >= kPiece) {
      emit(out);
      out.clear();
    }
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
  emit(out);
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
  // The data goes in last, so no marker can be found inside it; it is written straight to
  // the file between the page's two halves, never held whole.
  replace(page, "@TITLE@", escapedTitle);
  replace(page, "/*@D3_HIERARCHY@*/", kD3Hierarchy);
  constexpr std::string_view kDataMarker = "@MAP_DATA@";
  const auto marker = page.find(kDataMarker);
  std::string_view head(page), tail;
  if (marker != std::string::npos) {
    head = std::string_view(page).substr(0, marker);
    tail = std::string_view(page).substr(marker + kDataMarker.size());
  }

  std::FILE* out = file == "-" ? stdout : std::fopen(file.c_str(), "wb");
  if (out == nullptr) {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", escapedForTerminal(file),
               vantelkit::platform::errorDescription(vantelkit::platform::lastErrorNumber()));
    return false;
  }
  bool written = true;
  int error = 0;
  auto emit = [out, &written, &error](std::string_view bytes) {
    if (!written || bytes.empty()) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
      written = false;
      error = vantelkit::platform::lastErrorNumber();
    }
  };
  emit(head);
  if (marker != std::string::npos) {
    std::string prefix = "{\"path\":";
    appendScriptSafe(prefix, rootPath);
    prefix += ",\"files\":";
    JsonWriter::appendNumber(prefix, map.totalFilesScanned());
    prefix += ",\"root\":";
    emit(prefix);
    writeTreeData(map, [&emit](const std::string& piece) { emit(piece); });
    emit("}");
    emit(tail);
  }
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
    // A failed write to stdout is said once, by the tool's closing check.
    if (out == stdout) {
      noteStandardOutputError(error);
    } else {
      fmt::print(stderr, "vantel: cannot write {}: {}\n", escapedForTerminal(file),
                 vantelkit::platform::errorDescription(error));
    }
    return false;
  }
  return true;
}

}  // namespace vantel
