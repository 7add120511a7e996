#include "LinuxApps.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "Command.h"
#include "ScanTarget.h"
#include "ScannerProgressLine.h"
#include "TextOutput.h"
#include "vantelkit/applications/LinuxApplicationScanner.h"
#include "vantelkit/foundation/JsonWriter.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/InterruptSignals.h"
#include "vantelkit/platform/TextCase.h"

namespace vantel {

namespace {

using vantelkit::LinuxApplication;
using vantelkit::LinuxApplicationRecord;
using vantelkit::LinuxApplicationResource;
using vantelkit::LinuxLeftover;
using vantelkit::LinuxStorageEvidence;
using Unreadable = vantelkit::LinuxApplicationScanner::Unreadable;

constexpr std::int64_t kJsonVersion = 1;

std::string_view kindText(LinuxApplication::Kind kind) {
  switch (kind) {
    case LinuxApplication::Kind::systemPackage: return "system package";
    case LinuxApplication::Kind::flatpak: return "Flatpak";
    case LinuxApplication::Kind::snap: return "Snap";
    case LinuxApplication::Kind::appImage: return "AppImage launcher";
    case LinuxApplication::Kind::userEntry: return "user entry";
  }
  return "system package";
}

std::string_view matchText(LinuxStorageEvidence::Match match) {
  switch (match) {
    case LinuxStorageEvidence::Match::equalIgnoringCase: return "equal ignoring case";
    case LinuxStorageEvidence::Match::equalAfterRemovingSuffix: return "equal after removing";
    case LinuxStorageEvidence::Match::contained: return "contained";
  }
  return "";
}

bool selected(const LinuxApplicationRecord& record, const std::string& wanted) {
  const std::string lowered = vantelkit::platform::lowercased(wanted);
  const auto& entry = record.application.entry;
  std::string stem = entry.desktopId;
  if (stem.ends_with(".desktop")) stem.resize(stem.size() - 8);
  for (const auto& candidate : {std::optional(entry.desktopId), std::optional(stem), std::optional(entry.name),
                                entry.executableName, entry.flatpakId, entry.snapName}) {
    if (candidate && vantelkit::platform::lowercased(*candidate) == lowered) return true;
  }
  return false;
}

void optionalString(vantelkit::JsonWriter& json, std::string_view key, const std::optional<std::string>& value) {
  json.key(key);
  if (value) json.value(*value);
  else json.null();
}

void optionalSize(vantelkit::JsonWriter& json, std::string_view key, const std::optional<std::int64_t>& value) {
  json.key(key);
  if (value) json.value(*value);
  else json.null();
}

void writeResourceJson(vantelkit::JsonWriter& json, const LinuxApplicationResource& resource) {
  json.beginObject();
  json.key("category");
  json.value(LinuxApplicationResource::categoryName(resource.category));
  json.key("path");
  json.value(resource.path);
  json.key("type");
  json.value(resource.isDirectory ? "directory" : "file");
  optionalSize(json, "size", resource.size);
  if (resource.error) {
    json.key("error");
    json.value(*resource.error);
  }
  json.key("matchedBy");
  json.beginObject();
  json.key("key");
  json.value(LinuxStorageEvidence::keyName(resource.evidence.key));
  json.key("value");
  json.value(resource.evidence.value);
  json.key("match");
  json.value(LinuxStorageEvidence::matchName(resource.evidence.match));
  if (!resource.evidence.removedSuffix.empty()) {
    json.key("removedSuffix");
    json.value(resource.evidence.removedSuffix);
  }
  json.key("otherCandidates");
  json.beginArray();
  for (const auto& other : resource.otherCandidates) json.value(other);
  json.endArray();
  json.endObject();
  json.endObject();
}

void writeApplicationJson(vantelkit::JsonWriter& json, const LinuxApplicationRecord& record) {
  const auto& entry = record.application.entry;
  json.beginObject();
  json.key("desktopId");
  json.value(entry.desktopId);
  json.key("name");
  json.value(entry.name);
  json.key("kind");
  json.value(LinuxApplication::kindName(record.application.kind));
  json.key("entry");
  json.value(entry.path);
  optionalString(json, "executable", entry.executableName);
  optionalString(json, "version", record.version);
  optionalString(json, "versionSource", record.versionSource);
  optionalString(json, "package", record.package);
  optionalString(json, "runtime", record.runtime);
  optionalString(json, "icon", record.iconPath);
  optionalSize(json, "applicationSize", record.applicationSize);
  json.key("totalSize");
  json.value(record.totalSize());
  json.key("resources");
  json.beginArray();
  for (const auto& resource : record.resources) writeResourceJson(json, resource);
  json.endArray();
  json.endObject();
}

void writeLeftoverJson(vantelkit::JsonWriter& json, const LinuxLeftover& leftover) {
  json.beginObject();
  json.key("path");
  json.value(leftover.path);
  json.key("category");
  if (leftover.category) json.value(LinuxApplicationResource::categoryName(*leftover.category));
  else json.value("desktopEntry");
  json.key("type");
  json.value(leftover.isDirectory ? "directory" : "file");
  json.key("reason");
  json.value(LinuxLeftover::reasonName(leftover.reason));
  json.key("detail");
  json.value(leftover.detail);
  optionalSize(json, "size", leftover.size);
  if (leftover.error) {
    json.key("error");
    json.value(*leftover.error);
  }
  json.endObject();
}

bool printJson(const std::vector<LinuxApplicationRecord>& records, const std::vector<LinuxLeftover>& leftovers,
               const Unreadable& unreadable, bool complete, bool leftoversOnly) {
  vantelkit::JsonWriter json(standardOutputSink());
  json.beginObject();
  json.key("version");
  json.value(kJsonVersion);
  json.key("layout");
  json.value("xdg");
  json.key("complete");
  json.value(complete);
  if (!leftoversOnly) {
    json.key("applications");
    json.beginArray();
    for (const auto& record : records) writeApplicationJson(json, record);
    json.endArray();
  }
  json.key("leftovers");
  json.beginArray();
  for (const auto& leftover : leftovers) writeLeftoverJson(json, leftover);
  json.endArray();
  writeUnreadableJson(json, unreadable);
  json.endObject();
  const bool written = json.flush();
  return std::fputc('\n', stdout) != EOF && flushStandardOutput() && written;
}

// "?" for a size not known at all; "!" before a path of which something could not be read.
std::string sizeText(const std::optional<std::int64_t>& size) { return size ? formatBytes(*size) : std::string("?"); }

std::string evidenceText(const LinuxApplicationResource& resource) {
  const auto& evidence = resource.evidence;
  std::string text = fmt::format("{} \"{}\", {}", LinuxStorageEvidence::keyName(evidence.key),
                                 escapedForTerminal(evidence.value), matchText(evidence.match));
  if (!evidence.removedSuffix.empty()) text += fmt::format(" \"{}\"", escapedForTerminal(evidence.removedSuffix));
  if (!resource.otherCandidates.empty()) {
    text += "; also could be";
    for (std::size_t i = 0; i < resource.otherCandidates.size(); ++i) {
      text += (i == 0 ? " " : ", ") + escapedForTerminal(resource.otherCandidates[i]);
    }
  }
  return text;
}

void appendApplicationText(std::string& out, const LinuxApplicationRecord& record) {
  const auto& entry = record.application.entry;
  out += fmt::format("{}{}  {}  ({}{})\n", escapedForTerminal(entry.name),
                     record.version ? " " + escapedForTerminal(*record.version) : std::string(),
                     escapedForTerminal(entry.desktopId), kindText(record.application.kind),
                     record.package ? ", " + escapedForTerminal(*record.package) : std::string());
  if (record.applicationSize) {
    out += fmt::format("  application {}, total {}\n", formatBytes(*record.applicationSize), formatBytes(record.totalSize()));
  } else {
    out += fmt::format("  total {}\n", formatBytes(record.totalSize()));
  }
  if (record.runtime) out += fmt::format("  runtime {}\n", escapedForTerminal(*record.runtime));
  for (const auto& resource : record.resources) {
    out += fmt::format("    {:>10}  {:<13} {}{}  ({})\n", sizeText(resource.size),
                       LinuxApplicationResource::categoryName(resource.category), resource.error ? "!" : "",
                       escapedForTerminal(resource.path), evidenceText(resource));
  }
}

void appendLeftoverText(std::string& out, const LinuxLeftover& leftover) {
  out += fmt::format("{:>10}  {}{}  ({})\n", sizeText(leftover.size), leftover.error ? "!" : "",
                     escapedForTerminal(leftover.path), escapedForTerminal(leftover.detail));
}

bool printText(const std::vector<LinuxApplicationRecord>& records, const std::vector<LinuxLeftover>& leftovers,
               bool leftoversOnly) {
  std::string out;
  if (!leftoversOnly) {
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (i > 0) out += '\n';
      appendApplicationText(out, records[i]);
    }
    if (!leftovers.empty()) out += records.empty() ? "Leftovers\n" : "\nLeftovers\n";
  }
  for (const auto& leftover : leftovers) appendLeftoverText(out, leftover);
  std::fwrite(out.data(), 1, out.size(), stdout);
  return flushStandardOutput();
}

using ProgressLine = ScannerProgressLine<vantelkit::ApplicationScannerListener>;

}  // namespace

int runLinuxApps(const LinuxAppsOptions& options) {
  auto scanner = vantelkit::LinuxApplicationScanner::make();
  auto progress = std::make_shared<ProgressLine>(stderrIsTerminal());
  scanner->addListener(progress);
  scanner->start();
  {
    CancelOnInterrupt cancelling([scanner] { scanner->cancel(); });
    vantelkit::MainQueue::runUntil([&progress] { return progress->finished; }, 365.0 * 24 * 3600);
  }
  scanner->removeListener(progress);
  const bool interrupted = scanner->wasCancelled() || vantelkit::platform::InterruptSignals::received();
  auto records = scanner->applications();
  auto leftovers = scanner->leftovers();
  if (options.app) {
    std::erase_if(records, [&](const LinuxApplicationRecord& record) { return !selected(record, *options.app); });
    if (records.empty()) {
      fmt::print(stderr, "vantel apps: no application has the desktop ID, name or executable \"{}\"\n",
                 escapedForTerminal(*options.app));
      return reportInterruption(interrupted, kExitFailure);
    }
    // Leftovers belong to no application: with --app there are none to show.
    leftovers.clear();
  }
  if (!options.leftoversOnly && records.empty()) fmt::print(stderr, "vantel apps: no applications found\n");
  const auto unreadable = scanner->unreadable();
  const bool written = options.json ? printJson(records, leftovers, unreadable, !interrupted, options.leftoversOnly)
                                    : printText(records, leftovers, options.leftoversOnly);
  if (!written) return reportInterruption(interrupted, kExitFailure);
  return reportUnreadable(unreadable, interrupted);
}

}  // namespace vantel
