#include "vantelkit/diskmap/DiskMapHtmlReport.h"

#include <string>

#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/JsonWriter.h"

namespace vantelkit {

namespace internal {
// The page and the script, embedded by src/diskmap/report/embed.cmake.
extern const std::string_view kReportPage;
extern const std::string_view kD3Hierarchy;
}  // namespace internal

namespace {

using Index = DiskMap::Index;

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
// file and 1 for a folder, flags 1 for an unreadable entry; in the map's order, in pieces
// handed to emit.
template <class Emit>
void writeTreeData(const DiskMap& map, Emit&& emit) {
  constexpr std::size_t kPiece = 1 << 16;
  std::string out;
  out.reserve(2 * kPiece);
  bool firstInFolder = true;
  auto enter = [&](Index index, std::size_t) {
    if (out.size() >= kPiece) {
      emit(out);
      out.clear();
    }
    if (!firstInFolder) out += ',';
    const auto& entry = map[index];
    const bool folder = entry.isDirectory();
    out += '[';
    appendScriptSafe(out, entry.nameView());
    out += ',';
    // A further link to a file counted elsewhere takes no area, as it adds nothing to the sums.
    JsonWriter::appendNumber(out, entry.hasMark(FileNode::duplicateLink) ? 0 : entry.size);
    out += folder ? ",1," : ",0,";
    out += entry.hasMark(FileNode::unreadable) ? '1' : '0';
    if (folder) {
      out += ",[";
      firstInFolder = true;
      return true;
    }
    out += ']';
    firstInFolder = false;
    return false;
  };
  auto leave = [&](Index, std::size_t) {
    out += "]]";
    firstInFolder = false;
  };
  map.visit(DiskMap::rootIndex, DiskMap::Order::map, enter, leave);
  emit(out);
}

void replace(std::string& text, std::string_view marker, std::string_view with) {
  auto at = text.find(marker);
  if (at != std::string::npos) text.replace(at, marker.size(), with);
}

}  // namespace

bool DiskMapHtmlReport::isAvailable() { return !internal::kD3Hierarchy.empty(); }

Result<void> DiskMapHtmlReport::write(const DiskMap& map, std::string_view path, const OutputSink& sink) {
  if (!isAvailable()) return std::make_shared<const GeneralError>(GeneralError::featureNotAvalable());
  std::string page(internal::kReportPage);
  std::string escapedTitle;
  for (char c : path) {
    switch (c) {
      case '<': escapedTitle += "&lt;"; break;
      case '>': escapedTitle += "&gt;"; break;
      case '&': escapedTitle += "&amp;"; break;
      case '"': escapedTitle += "&quot;"; break;
      case '@': escapedTitle += "&#64;"; break;  // no marker can come in with the path
      default: escapedTitle += c;
    }
  }
  // The data goes in last, so no marker can be found inside it; it is handed to the sink
  // between the page's two halves, never held whole.
  replace(page, "@TITLE@", escapedTitle);
  replace(page, "/*@D3_HIERARCHY@*/", internal::kD3Hierarchy);
  constexpr std::string_view kDataMarker = "@MAP_DATA@";
  const auto marker = page.find(kDataMarker);
  std::string_view head(page), tail;
  if (marker != std::string::npos) {
    head = std::string_view(page).substr(0, marker);
    tail = std::string_view(page).substr(marker + kDataMarker.size());
  }

  std::error_code error;
  auto emit = [&sink, &error](std::string_view bytes) {
    if (!error && !bytes.empty()) error = sink(bytes);
  };
  emit(head);
  if (marker != std::string::npos) {
    std::string prefix = "{\"path\":";
    appendScriptSafe(prefix, path);
    prefix += ",\"files\":";
    JsonWriter::appendNumber(prefix, map.totalFilesScanned());
    prefix += ",\"root\":";
    emit(prefix);
    writeTreeData(map, emit);
    emit("}");
    emit(tail);
  }
  if (!error) error = sink({});
  if (error) return std::make_shared<const OutputError>(error);
  return {};
}

}  // namespace vantelkit
