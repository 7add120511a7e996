#include "vantelkit/applications/LinuxApplicationCatalog.h"

#include <algorithm>
#include <map>
#include <set>

#include "foundation/internal/SmallFile.h"
#include "vantelkit/platform/DesktopEntryFile.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/TextCase.h"

namespace vantelkit {

namespace {

using platform::FileObjectType;
using platform::Paths;

// A desktop entry larger than this is no desktop entry.
constexpr std::uintmax_t kEntryLimit = 1 << 20;

struct Listing final : platform::DirectoryReader::Visitor {
  std::vector<std::pair<std::string, FileObjectType>> entries;
  std::error_code error;
  void visit(const platform::DirectoryReader::Entry& entry) override { entries.emplace_back(std::string(entry.name), entry.type); }
  bool wantsFileStatus() const override { return false; }
  void failed(std::error_code failure) override { error = failure; }
};

struct Found {
  std::string path;
  std::string relative;
};

// The ".desktop" files below folder, by relative path; subfolders listed, links to folders not followed.
void collect(const std::string& folder, const std::string& relative, std::vector<Found>& found,
             std::vector<LinuxApplicationCatalog::UnreadableFolder>& unreadable, bool top) {
  Listing listing;
  const std::string path = relative.empty() ? folder : folder + "/" + relative;
  const auto status = platform::DirectoryReader::shared()->list(path, top, listing);
  if (status != platform::DirectoryReader::Status::complete) {
    // A missing folder is no failure: most data folders have no applications folder.
    if (listing.error && listing.error != std::errc::no_such_file_or_directory && listing.error != std::errc::not_a_directory) {
      unreadable.push_back({path, listing.error});
    }
    if (status == platform::DirectoryReader::Status::cannotOpen) return;
  }
  std::sort(listing.entries.begin(), listing.entries.end());
  for (const auto& [name, type] : listing.entries) {
    const std::string childRelative = relative.empty() ? name : relative + "/" + name;
    if (type == FileObjectType::directory) {
      collect(folder, childRelative, found, unreadable, false);
    } else if ((type == FileObjectType::file || type == FileObjectType::symbolicLink || type == FileObjectType::unknown) &&
               name.size() > 8 && name.ends_with(".desktop")) {
      found.push_back({folder + "/" + childRelative, childRelative});
    }
  }
}

bool exists(const std::string& path) {
  return platform::pathStatus(path, true).type != FileObjectType::unknown;
}

// Whether program (a path, or a name looked up in the search path) names something there.
bool programExists(const std::string& program, const std::vector<std::string>& searchPath) {
  if (program.empty()) return false;
  if (program.find('/') != std::string::npos) {
    if (program.front() != '/') return false;
    // A program in the home (an AppImage) is where the home is; others are below the root.
    const std::string home = Paths::home();
    if (program.starts_with(home + "/")) return exists(program);
    return exists(Paths::system(program));
  }
  return std::any_of(searchPath.begin(), searchPath.end(),
                     [&](const std::string& folder) { return exists(folder + "/" + program); });
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && platform::lowercased(text.substr(text.size() - suffix.size())) == suffix;
}

std::optional<std::string> brokenReason(const DesktopEntry& entry, const std::vector<std::string>& searchPath) {
  if (entry.tryExec && !programExists(*entry.tryExec, searchPath)) return "TryExec program not found: " + *entry.tryExec;
  if (entry.exec && !entry.program) return "Exec cannot be split into arguments: " + *entry.exec;
  if (entry.program && !programExists(*entry.program, searchPath)) return "Exec program not found: " + *entry.program;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> LinuxApplicationCatalog::brokenReason(const DesktopEntry& entry) {
  return vantelkit::brokenReason(entry, platform::executableSearchPath());
}

std::string_view LinuxApplication::kindName(Kind kind) {
  switch (kind) {
    case Kind::systemPackage: return "systemPackage";
    case Kind::flatpak: return "flatpak";
    case Kind::snap: return "snap";
    case Kind::appImage: return "appImage";
    case Kind::userEntry: return "userEntry";
  }
  return "systemPackage";
}

std::vector<std::string> LinuxApplicationCatalog::dataDirectories() {
  std::vector<std::string> folders{Paths::xdgDataHome()};
  for (auto& folder : Paths::xdgDataDirs()) folders.push_back(std::move(folder));
  folders.push_back(Paths::xdgDataHome() + "/flatpak/exports/share");
  folders.push_back(Paths::system("/var/lib/flatpak/exports/share"));
  folders.push_back(Paths::system("/var/lib/snapd/desktop"));
  std::vector<std::string> unique;
  std::set<std::string> seen;
  for (auto& folder : folders) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (seen.insert(folder).second) unique.push_back(std::move(folder));
  }
  return unique;
}

LinuxApplicationCatalog LinuxApplicationCatalog::load(const Options& options) {
  LinuxApplicationCatalog catalog;
  catalog._directories = options.dataDirectories ? *options.dataDirectories : dataDirectories();
  catalog._desktops = options.desktops ? *options.desktops : platform::currentDesktops();
  const std::string locale = options.locale ? *options.locale : platform::messagesLocale();
  const std::string userData = Paths::xdgDataHome();
  const std::string flatpakUser = userData + "/flatpak/exports/share";
  const std::string flatpakSystem = Paths::system("/var/lib/flatpak/exports/share");
  const std::string snapDesktop = Paths::system("/var/lib/snapd/desktop");
  const auto searchPath = platform::executableSearchPath();

  std::set<std::string, std::less<>> seenIds;
  for (const auto& directory : catalog._directories) {
    std::vector<Found> found;
    collect(directory + "/applications", "", found, catalog._unreadable, true);
    for (const auto& file : found) {
      const std::string desktopId = DesktopEntry::desktopIdFor(file.relative);
      // The first folder that has an ID decides for it, even when its entry is refused or Hidden.
      if (!seenIds.insert(desktopId).second) continue;
      auto text = internal::readRegularFile(file.path, kEntryLimit);
      if (!text) {
        catalog._refused.push_back({file.path, desktopId, "not a readable regular file of at most 1 MiB", 0});
        continue;
      }
      auto parsed = DesktopEntry::parse(*text, desktopId, file.path, locale);
      if (!parsed) {
        const auto* error = parsed.errorAs<DesktopEntryError>();
        catalog._refused.push_back({file.path, desktopId, parsed.error()->localizedDescription(), error ? error->line() : 0});
        continue;
      }
      DesktopEntry& entry = *parsed;
      if (entry.hidden || entry.type != "Application") continue;
      LinuxApplication application;
      application.dataDirectory = directory;
      const bool isAppImage = entry.appImageVersion || (entry.program && endsWithIgnoringCase(*entry.program, ".appimage")) ||
                              (entry.tryExec && endsWithIgnoringCase(*entry.tryExec, ".appimage"));
      if (directory == flatpakUser || directory == flatpakSystem || entry.flatpakId) {
        application.kind = LinuxApplication::Kind::flatpak;
      } else if (directory == snapDesktop || entry.snapName) {
        application.kind = LinuxApplication::Kind::snap;
      } else if (isAppImage) {
        application.kind = LinuxApplication::Kind::appImage;
      } else if (directory == userData) {
        application.kind = LinuxApplication::Kind::userEntry;
      }
      application.broken = vantelkit::brokenReason(entry, searchPath);
      application.shown = entry.isShown(catalog._desktops);
      application.entry = std::move(entry);
      catalog._applications.push_back(std::move(application));
    }
  }
  std::sort(catalog._applications.begin(), catalog._applications.end(),
            [](const LinuxApplication& a, const LinuxApplication& b) { return a.entry.desktopId < b.entry.desktopId; });
  std::sort(catalog._refused.begin(), catalog._refused.end(),
            [](const RefusedDesktopEntry& a, const RefusedDesktopEntry& b) { return a.path < b.path; });
  return catalog;
}

const LinuxApplication* LinuxApplicationCatalog::find(std::string_view desktopId) const {
  auto found = std::lower_bound(_applications.begin(), _applications.end(), desktopId,
                                [](const LinuxApplication& a, std::string_view id) { return a.entry.desktopId < id; });
  return found != _applications.end() && found->entry.desktopId == desktopId ? &*found : nullptr;
}

}  // namespace vantelkit
