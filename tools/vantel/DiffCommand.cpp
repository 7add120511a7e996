// vantel diff OLD NEW: what changed between two saved disk maps (ncdu exports or map JSON):
// entries that grew, shrank, appeared or vanished, largest changes first. Folder changes are
// the differences of the folder totals of the two maps, so they agree with both scans.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "Command.h"
#include "SavedMap.h"
#include "TextOutput.h"
#include "vantelkit/diskmap/DiskMapDiff.h"
#include "vantelkit/diskmap/DiskMapImport.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "vantelkit/platform/FileStatus.h"

namespace {

using vantelkit::DiskMap;
using vantelkit::DiskMapDiff;
using vantelkit::FileNode;
using Status = DiskMapDiff::Status;

struct DiffOptions {
  std::string oldFile;
  std::string newFile;
  std::optional<std::string> top;
  bool json = false;
};


std::string signedBytes(std::int64_t bytes) {
  if (bytes == 0) return "0 bytes";
  return (bytes > 0 ? "+" : "-") + vantel::formatBytes(bytes > 0 ? bytes : -bytes);
}

void writeSide(vantelkit::JsonWriter& json, const std::string& file, const DiskMap& map) {
  json.beginObject();
  json.key("file");
  json.value(file);
  json.key("path");
  json.value(map.rootPath());
  json.key("size");
  json.value(map.root().size);
  json.key("filesScanned");
  json.value(map.totalFilesScanned());
  json.endObject();
}

int runDiff(const DiffOptions& options) {
  std::optional<std::int64_t> top;
  if (options.top) {
    top = vantel::parseWholeNumber(*options.top);
    if (!top) {
      fmt::print(stderr, "vantel: --top must be a whole number \u2265 0\n");
      return vantel::kExitUsage;
    }
  }
  if (options.oldFile == "-" && options.newFile == "-") {
    fmt::print(stderr, "vantel: only one of OLD and NEW can be read from stdin\n");
    return vantel::kExitUsage;
  }
  auto before = vantel::readSavedMap(options.oldFile);
  if (!before) return vantel::kExitFailure;
  auto after = vantel::readSavedMap(options.newFile);
  if (!after) return vantel::kExitFailure;

  auto changes = DiskMapDiff::compare(*before, *after);
  std::int64_t counts[4] = {0, 0, 0, 0};
  for (const auto& change : changes) ++counts[static_cast<int>(change.status)];
  const std::int64_t total = after->root().size - before->root().size;
  std::size_t shown = changes.size();
  if (top) shown = std::min<std::size_t>(shown, static_cast<std::size_t>(*top));
  else if (!options.json) shown = std::min<std::size_t>(shown, 20);

  if (options.json) {
    vantelkit::JsonWriter json(vantel::standardOutputSink());
    json.beginObject();
    json.key("version");
    json.value(std::int64_t{1});
    json.key("old");
    writeSide(json, options.oldFile, *before);
    json.key("new");
    writeSide(json, options.newFile, *after);
    json.key("change");
    json.value(total);
    for (Status status : {Status::grew, Status::shrank, Status::appeared, Status::vanished}) {
      json.key(DiskMapDiff::statusName(status));
      json.value(counts[static_cast<int>(status)]);
    }
    json.key("changes");
    json.beginArray();
    for (std::size_t i = 0; i < shown; ++i) {
      const auto& change = changes[i];
      json.beginObject();
      json.key("path");
      json.value(DiskMapDiff::path(change, *before, *after));
      json.key("status");
      json.value(DiskMapDiff::statusName(change.status));
      json.key("type");
      json.value(FileNode::nodeTypeName(change.type));
      json.key("old");
      if (change.oldSize) json.value(*change.oldSize); else json.null();
      json.key("new");
      if (change.newSize) json.value(*change.newSize); else json.null();
      json.key("change");
      json.value(change.change());
      if (change.unreadable) {
        json.key("error");
        json.value(true);
      }
      json.endObject();
    }
    json.endArray();
    json.endObject();
    json.endDocument();
    return vantel::kExitSuccess;
  }

  std::string out = fmt::format("{} -> {}  ({}; {} grew, {} shrank, {} appeared, {} vanished)\n",
                                vantel::formatBytes(before->root().size), vantel::formatBytes(after->root().size),
                                signedBytes(total), counts[0], counts[1], counts[2], counts[3]);
  for (std::size_t i = 0; i < shown; ++i) {
    const auto& change = changes[i];
    out += fmt::format("{:>11}  {:<8} {}{}\n", signedBytes(change.change()), DiskMapDiff::statusName(change.status),
                       change.unreadable ? "! " : "",
                       vantel::escapedForTerminal(DiskMapDiff::path(change, *before, *after)));
  }
  if (shown < changes.size()) out += fmt::format("({} more; --top N shows more)\n", changes.size() - shown);
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return vantel::kExitFailure;
  return vantel::kExitSuccess;
}

vantel::CommandRegistration registration{"diff", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<DiffOptions>();
  auto* command = app.add_subcommand("diff", "What changed between two saved disk maps (map --json or --export files)");
  command->add_option("OLD", options->oldFile, "The earlier map (- for stdin)")->required();
  command->add_option("NEW", options->newFile, "The later map (- for stdin)")->required();
  command->add_option("--top", options->top, "Changes shown, largest first (default 20 in text, all in JSON)")
      ->type_name("N");
  command->add_flag("--json", options->json, "The changes as JSON on stdout");
  command->callback([options, &exitCode] { exitCode = runDiff(*options); });
}};

}  // namespace
