#include "vantelkit/clean/XdgHomeScanProcedure.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <unordered_map>
#include <set>

#include "clean/internal/DiskMapMetadataIndex.h"
#include "vantelkit/applications/LinuxApplicationCatalog.h"
#include "vantelkit/clean/CleanScanner.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/FlatpakInstallations.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/Volumes.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

namespace {

using Index = DiskMap::Index;
using Items = std::vector<std::shared_ptr<CleanScanItem>>;
using Paths = platform::Paths;

constexpr std::int64_t kSecondsPerDay = 24 * 3600;

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (lowered(a[k]) != lowered(b[k])) return false;
  return true;
}

bool endsWithNoCase(std::string_view name, std::string_view ending) {
  return name.size() > ending.size() && equalNoCase(name.substr(name.size() - ending.size()), ending);
}

// path itself or below folder.
bool isAtOrBelow(std::string_view path, std::string_view folder) {
  if (folder == "/") return !path.empty() && path.front() == '/';
  return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// A path as a shell pattern that matches only itself.
std::string literalPattern(std::string_view path) {
  std::string pattern;
  for (char c : path) {
    if (c == '*' || c == '?' || c == '[' || c == '\\') {
      pattern += '[';
      pattern += c;
      pattern += ']';
    } else {
      pattern += c;
    }
  }
  return pattern;
}

bool isFolder(const std::string& path) {
  return platform::fileObjectTypeNotFollowingLink(path) == platform::FileObjectType::directory;
}

}  // namespace

// The folders walked so far, each a DiskMap with the sums of the regular files below every
// entry and a mark on the entries a group has taken.
class XdgHomeScanProcedure::Walks {
 public:
  struct Walked {
    std::shared_ptr<DiskMap> map;
    std::vector<std::int64_t> bytes;
    std::vector<std::int64_t> usage;
    std::vector<std::uint8_t> taken;
    // How many entries below each one a group has taken.
    std::vector<std::uint32_t> takenBelow;
    // The newest modification time of anything below each folder.
    std::vector<std::int64_t> newest;
  };
  struct Place {
    Walked* walked = nullptr;
    Index index = 0;
    const DiskMap::Entry& entry() const { return (*walked->map)[index]; }
    std::string path() const { return walked->map->path(index); }
  };

  Walks(XdgHomeScanProcedure& owner, bool measuresUsage)
      : _owner(owner), _measuresUsage(measuresUsage), _skippedMounts(networkAndRemovableMounts()) {}

  // Where network file systems and removable media are mounted: never walked below a folder.
  static std::vector<std::string> networkAndRemovableMounts() {
    std::vector<std::string> points;
    for (const auto& volume : platform::Volumes::shared().mountedVolumes())
      if (volume.isRemovable || platform::isNetworkFileSystemType(volume.filesystemType)) points.push_back(volume.mountPoint);
    return points;
  }

  // The walked entry at path, walking path first when no walk holds it; none when path is
  // missing, not a folder where it would have to be walked, or reached through a link.
  std::optional<Place> locate(const std::string& path) {
    for (auto& walked : _walked) {
      const std::string& root = walked->map->rootPath();
      if (!isAtOrBelow(path, root)) continue;
      Index at = DiskMap::rootIndex;
      std::string_view rest = std::string_view(path).substr(std::min(path.size(), root == "/" ? 1 : root.size() + 1));
      while (!rest.empty()) {
        auto slash = rest.find('/');
        std::string_view component = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (component.empty()) continue;
        std::optional<Index> next;
        for (Index child : walked->map->children(at)) {
          if ((*walked->map)[child].nameView() == component) {
            next = child;
            break;
          }
        }
        if (!next) return std::nullopt;
        at = *next;
      }
      return Place{walked.get(), at};
    }
    if (!isFolder(path) || _owner._cancelled.load()) return std::nullopt;
    walk(path);
    return Place{_walked.back().get(), DiskMap::rootIndex};
  }

  // Walks path (an existing folder) into a new map.
  Walked& walk(const std::string& path) {
    auto scanner = DiskScanner::make();
    DiskScanner::WalkOptions options;
    options.skipPseudoFileSystems = true;
    for (const auto& mount : _skippedMounts) {
      if (mount.size() > path.size() && isAtOrBelow(mount, path))
        options.excludes.push_back(literalPattern(mount.substr(path == "/" ? 1 : path.size() + 1)));
    }
    scanner->setWalkOptions(options);
    {
      std::lock_guard lock(_owner._mutex);
      _owner._scanner = scanner;
    }
    if (_owner._cancelled.load()) scanner->cancel();
    std::mutex listedMutex;
    std::unordered_map<Index, std::int64_t> listed;  // guarded by listedMutex
    DiskScanner::MapRequest request;
    request.choices.listed = [&listedMutex, &listed](Index folder, std::int64_t newest) {
      std::lock_guard lock(listedMutex);
      listed[folder] = newest;
    };
    std::shared_ptr<DiskMap> map;
    {
      DispatchBlockingScope blocking;
      map = scanner->scanMap(FileURL::fileURLWithPath(path, true), std::move(request));
    }
    {
      std::lock_guard lock(_owner._mutex);
      _owner._scanner = nullptr;
    }
    auto walked = std::make_unique<Walked>();
    const std::size_t count = map->count();
    walked->bytes.assign(count, 0);
    walked->usage.assign(count, 0);
    walked->taken.assign(count, 0);
    walked->takenBelow.assign(count, 0);
    walked->newest.assign(count, 0);
    for (const auto& [folder, newest] : listed)
      if (folder < count) walked->newest[folder] = newest;
    // A parent comes before its children in a map, so one pass from the end sums them.
    for (std::size_t index = count; index-- > 0;) {
      const auto& entry = (*map)[static_cast<Index>(index)];
      if (entry.nodeType() == FileNode::NodeType::file && !entry.hasMark(FileNode::duplicateLink)) {
        walked->bytes[index] += entry.size;
        walked->usage[index] += entry.usage;
      }
      if (index > 0) {
        walked->bytes[entry.parent] += walked->bytes[index];
        walked->usage[entry.parent] += walked->usage[index];
        walked->newest[entry.parent] = std::max(walked->newest[entry.parent], walked->newest[index]);
      }
    }
    walked->map = std::move(map);
    _walked.push_back(std::move(walked));
    return *_walked.back();
  }

  // Taken by a group itself, or lying inside what one took.
  static bool isTaken(const Place& place) {
    const auto& map = *place.walked->map;
    for (Index at = place.index;; at = map[at].parent) {
      if (place.walked->taken[at]) return true;
      if (at == DiskMap::rootIndex) return false;
    }
  }

  // A new item for place, which the group takes; null when it was taken before. Use
  // takeInto() for a folder that may hold what another group took.
  std::shared_ptr<CleanScanItem> take(const Place& place, std::optional<std::string> reason,
                                      std::optional<std::string> name = std::nullopt) {
    if (isTaken(place)) return nullptr;
    mark(place);
    const auto& entry = place.entry();
    const bool folder = entry.isDirectory();
    auto node = FileNode::make(FileURL::fileURLWithPath(place.path(), folder), nullptr, place.walked->bytes[place.index],
                               folder ? FileNode::NodeType::directory : FileNode::NodeType::file);
    node->setUsage(place.walked->usage[place.index]);
    auto item = CleanScanItem::make(node, {}, std::move(name));
    item->size = static_cast<std::uint64_t>(
        std::max<std::int64_t>(_measuresUsage ? place.walked->usage[place.index] : place.walked->bytes[place.index], 0));
    item->reason = std::move(reason);
    return item;
  }

  // Items for place into items; where a group took something inside it before, an item for
  // each of its children instead (named "name/child"), taken apart likewise, so that no
  // file is counted twice.
  void takeInto(CleanScanItemSet& items, const Place& place, const std::optional<std::string>& reason,
                const std::string& name) {
    if (isTaken(place)) return;
    if (place.walked->takenBelow[place.index] == 0) {
      if (auto item = take(place, reason, name)) items.insert(std::move(item));
      return;
    }
    for (const auto& child : children(place)) {
      const auto type = child.entry().nodeType();
      if (type == FileNode::NodeType::file || type == FileNode::NodeType::directory)
        takeInto(items, child, reason, name + "/" + std::string(child.entry().nameView()));
    }
  }

  // Marks place taken without an item (what another reader lists).
  static void reserve(const Place& place) { mark(place); }

  static void mark(const Place& place) {
    auto& walked = *place.walked;
    walked.taken[place.index] = 1;
    for (Index at = place.index; at != DiskMap::rootIndex;) {
      at = (*walked.map)[at].parent;
      ++walked.takenBelow[at];
    }
  }

  std::vector<Place> children(const Place& place) const {
    std::vector<Place> found;
    if (!place.entry().isDirectory()) return found;
    // In the map's order: every use puts what it takes into a set or sorts it itself.
    const auto run = place.walked->map->children(place.index);
    found.reserve(run.size());
    for (Index child : run) found.push_back({place.walked, child});
    return found;
  }

  std::optional<Place> child(const Place& place, std::string_view name) const {
    if (!place.entry().isDirectory()) return std::nullopt;
    for (Index index : place.walked->map->children(place.index))
      if ((*place.walked->map)[index].nameView() == name) return Place{place.walked, index};
    return std::nullopt;
  }

  const std::vector<std::unique_ptr<Walked>>& walked() const { return _walked; }

 private:
  XdgHomeScanProcedure& _owner;
  const bool _measuresUsage;
  const std::vector<std::string> _skippedMounts;
  std::vector<std::unique_ptr<Walked>> _walked;
};

namespace {

using Place = XdgHomeScanProcedure::Walks::Place;

bool isFolderPlace(const Place& place) { return place.entry().isDirectory(); }

void insert(CleanScanItemSet& into, std::shared_ptr<CleanScanItem> item) {
  if (item) into.insert(std::move(item));
}

std::string plural(std::int64_t count, std::string_view word) {
  return std::to_string(count) + " " + std::string(word) + (count == 1 ? "" : "s");
}

std::string applicationLabel(const XdgHomeScanProcedure::Application& application) {
  if (!application.name.empty()) return application.name;
  if (!application.desktopId.empty()) return application.desktopId;
  return !application.flatpakId.empty() ? application.flatpakId : application.executable;
}

}  // namespace

XdgHomeScanProcedure::XdgHomeScanProcedure(Settings settings)
    : _settings(std::move(settings)), _index(std::make_shared<internal::DiskMapMetadataIndex>()) {
  setQualityOfService(QualityOfService::userInitiated);
}

XdgHomeScanProcedure::~XdgHomeScanProcedure() = default;

std::optional<std::string> XdgHomeScanProcedure::cacheReason(std::string_view name, const Application& application) {
  std::string desktopId = application.desktopId;
  if (desktopId.ends_with(".desktop")) desktopId.resize(desktopId.size() - 8);
  for (const std::string* key : std::initializer_list<const std::string*>{
           &application.flatpakId, &desktopId, &application.snapName, &application.executable, &application.windowClass,
           &application.name}) {
    if (!key->empty() && equalNoCase(name, *key)) return "cache of " + applicationLabel(application) + " (" + *key + ")";
  }
  return std::nullopt;
}

std::vector<XdgHomeScanProcedure::Application> XdgHomeScanProcedure::installedApplications() {
  std::vector<Application> applications;
  const auto catalog = LinuxApplicationCatalog::load();
  for (const auto& installed : catalog.applications()) {
    const auto& entry = installed.entry;
    applications.push_back({.name = entry.name,
                            .desktopId = entry.desktopId,
                            .flatpakId = entry.flatpakId.value_or(""),
                            .snapName = entry.snapName.value_or(""),
                            .executable = entry.executableName.value_or(""),
                            .windowClass = entry.startupWMClass.value_or("")});
  }
  return applications;
}

const std::vector<std::string_view>& XdgHomeScanProcedure::keptCacheNames() {
  static const std::vector<std::string_view> names{
      "at-spi",      "dconf",        "gnome-shell",     "ibus",     "icon-cache.kcache", "keyring-*",
      "ksycoca*",    "kwin",         "mesa_shader_cache", "mesa_shader_cache_db", "nvidia", "plasmashell",
      "qtshadercache*", "radv_builtin_shaders*", "tracker3", "xdg-desktop-portal"};
  return names;
}

namespace {

bool isKeptCache(std::string_view name) {
  for (std::string_view kept : XdgHomeScanProcedure::keptCacheNames()) {
    if (kept.ends_with('*') ? name.starts_with(kept.substr(0, kept.size() - 1)) : name == kept) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> XdgHomeScanProcedure::installerReason(std::string_view fileName) {
  if (endsWithNoCase(fileName, ".deb") || endsWithNoCase(fileName, ".rpm")) return "installer package";
  if (endsWithNoCase(fileName, ".snap")) return "Snap package";
  if (endsWithNoCase(fileName, ".appimage")) return "AppImage application";
  if (endsWithNoCase(fileName, ".flatpakref")) return "Flatpak install link";
  return std::nullopt;
}

std::optional<std::string> XdgHomeScanProcedure::diskImageReason(std::string_view fileName) {
  for (std::string_view ending : {".iso", ".img", ".dmg"})
    if (endsWithNoCase(fileName, ending)) return "disk image";
  for (std::string_view ending : {".qcow2", ".vdi", ".vmdk"})
    if (endsWithNoCase(fileName, ending)) return "virtual machine disk";
  return std::nullopt;
}

XdgHomeScanProcedure::DownloadKind XdgHomeScanProcedure::downloadKind(std::string_view fileName) {
  for (std::string_view ending : {".part", ".crdownload", ".download"})
    if (endsWithNoCase(fileName, ending)) return DownloadKind::unfinished;
  if (installerReason(fileName)) return DownloadKind::package;
  if (diskImageReason(fileName)) return DownloadKind::diskImage;
  return DownloadKind::download;
}

XdgHomeScanProcedure::Unreadable XdgHomeScanProcedure::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

void XdgHomeScanProcedure::procedureDidCancel(const ErrorPtr&) {
  _cancelled.store(true);
  std::shared_ptr<DiskScanner> scanner;
  {
    std::lock_guard lock(_mutex);
    scanner = _scanner;
  }
  if (scanner) scanner->cancel();
}

void XdgHomeScanProcedure::execute() {
  XdgHomeScan found;
  const std::vector<Application> applications = _settings.applications.value_or(installedApplications());
  Walks walks(*this, _settings.measuresUsage);
  const std::string home = Paths::home();
  const std::string cacheHome = Paths::xdgCacheHome();
  const std::string configHome = Paths::xdgConfigHome();
  const std::string dataHome = Paths::xdgDataHome();
  const std::string stateHome = Paths::xdgStateHome();
  auto homePlace = walks.locate(home);
  if (homePlace) {
    std::static_pointer_cast<internal::DiskMapMetadataIndex>(_index)->setMap(homePlace->walked->map);
  }

  // What other readers list: the thumbnails and the home's trash.
  for (const std::string& path : {cacheHome + "/thumbnails", home + "/.thumbnails", dataHome + "/Trash"}) {
    if (isFolder(path))
      if (auto place = walks.locate(path)) Walks::reserve(*place);
  }
  // Caches that the running desktop needs.
  auto cacheFolder = isFolder(cacheHome) ? walks.locate(cacheHome) : std::nullopt;
  if (cacheFolder) {
    for (const auto& entry : walks.children(*cacheFolder))
      if (isKeptCache(entry.entry().nameView())) Walks::reserve(entry);
  }

  // Mail attachments: Geary's attachment folders and Evolution's mail cache.
  if (isFolder(dataHome + "/geary")) {
    if (auto geary = walks.locate(dataHome + "/geary")) {
      for (const auto& account : walks.children(*geary)) {
        auto attachments = walks.child(account, "attachments");
        if (!attachments || Walks::isTaken(*attachments) || !isFolderPlace(*attachments)) continue;
        std::vector<std::shared_ptr<FileNode>> files;
        std::vector<Place> pending{*attachments};
        while (!pending.empty()) {
          Place place = pending.back();
          pending.pop_back();
          for (const auto& child : walks.children(place)) {
            if (isFolderPlace(child)) {
              pending.push_back(child);
            } else if (child.entry().nodeType() == FileNode::NodeType::file) {
              auto item = walks.take(child, "attachment kept by Geary");
              if (item) files.push_back(item->file);
            }
          }
        }
        if (files.empty()) continue;
        std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a->url().path() < b->url().path(); });
        auto children = CleanScanner::groupCopies(files);
        for (const auto& child : children) {
          if (!child->reason) child->reason = "attachment kept by Geary";
          for (const auto& copy : child->children) copy->reason = "attachment kept by Geary";
        }
        auto container = CleanScanItem::make(nullptr, std::move(children),
                                             std::string(account.entry().nameView()) + " (Geary)");
        container->reason = "attachments Geary downloaded";
        found.mailAttachments.insert(container);
      }
    }
  }
  if (cacheFolder) {
    if (auto evolution = walks.child(*cacheFolder, "evolution")) {
      if (auto mail = walks.child(*evolution, "mail")) {
        for (const auto& account : walks.children(*mail))
          if (isFolderPlace(account))
            walks.takeInto(found.mailAttachments, account, "mail cache of Evolution", std::string(account.entry().nameView()));
      }
    }
  }

  // Developer files: the package managers' caches.
  struct PackageCache {
    std::string path;
    std::string name;
    std::string reason;
  };
  const std::vector<PackageCache> packageCaches{
      {cacheHome + "/pip", "pip cache", "download cache of pip"},
      {home + "/.npm/_cacache", "npm cache", "package cache of npm"},
      {home + "/.cargo/registry", "Cargo registry", "crates Cargo downloaded"},
      {cacheHome + "/go-build", "Go build cache", "build cache of Go"},
      {home + "/.gradle/caches", "Gradle caches", "cache of Gradle"},
      {home + "/.m2/repository", "Maven repository", "artifacts Maven downloaded"},
      {cacheHome + "/ccache", "ccache", "compiler cache of ccache"},
      {home + "/.ccache", "ccache", "compiler cache of ccache"},
  };
  for (const auto& cache : packageCaches) {
    if (!isFolder(cache.path)) continue;
    if (auto place = walks.locate(cache.path)) walks.takeInto(found.developer, *place, cache.reason, cache.name);
  }

  // Developer files: the build folders of the home, behind the activity guard.
  if (homePlace) {
    const std::int64_t now = _settings.now.value_or(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
    const std::int64_t cutoff = now - static_cast<std::int64_t>(std::max(_settings.buildFolderIdleDays, 0)) * kSecondsPerDay;
    std::vector<std::pair<Place, std::string>> candidates;
    // Installed tools keep their packages in hidden folders and in the XDG folders; those
    // are no projects.
    std::set<std::pair<const void*, Index>> skipped;
    for (const std::string& path : {home + "/snap", cacheHome, configHome, dataHome, stateHome}) {
      if (!isAtOrBelow(path, home) || path == home) continue;
      if (auto place = walks.locate(path)) skipped.insert({place->walked, place->index});
    }
    std::vector<Place> pending{*homePlace};
    while (!pending.empty() && !_cancelled.load()) {
      Place place = pending.back();
      pending.pop_back();
      if (Walks::isTaken(place)) continue;
      for (const auto& child : walks.children(place)) {
        if (!isFolderPlace(child) || Walks::isTaken(child)) continue;
        const auto name = child.entry().nameView();
        std::optional<std::string> kind;
        if (name == "node_modules") {
          kind = "npm packages";
        } else if (name == "__pycache__") {
          kind = "Python bytecode";
        } else if (name == "target" && walks.child(place, "Cargo.toml")) {
          kind = "Rust build output";
        } else if (auto config = walks.child(child, "pyvenv.cfg"); config && !isFolderPlace(*config)) {
          kind = "Python virtual environment";
        }
        if (kind) {
          candidates.emplace_back(child, *kind);
        } else if (!name.starts_with('.') && !skipped.contains({child.walked, child.index})) {
          pending.push_back(child);
        }
      }
    }
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) { return a.first.path() < b.first.path(); });
    for (const auto& [place, kind] : candidates) {
      // What cannot be read completely may have changed lately: its activity is unknown.
      if ((place.entry().marks & (FileNode::unreadable | FileNode::partlyRead | FileNode::notListed)) != 0) continue;
      const std::optional<std::int64_t> newest = place.walked->newest[place.index];
      if (*newest >= cutoff) continue;
      const std::int64_t days = (now - *newest) / kSecondsPerDay;
      const auto& map = *place.walked->map;
      std::string name = std::string(map[map[place.index].parent].nameView()) + "/" + std::string(place.entry().nameView());
      walks.takeInto(found.developer, place, kind + ", untouched for " + plural(days, "day"), name);
    }
  }

  // User caches.
  if (cacheFolder) {
    for (const auto& entry : walks.children(*cacheFolder)) {
      if (Walks::isTaken(entry)) continue;
      const std::string name(entry.entry().nameView());
      const auto type = entry.entry().nodeType();
      if (type != FileNode::NodeType::directory && type != FileNode::NodeType::file) continue;
      std::optional<std::string> reason;
      for (const auto& application : applications) {
        if ((reason = cacheReason(name, application))) break;
      }
      walks.takeInto(found.userCache, entry, reason.value_or("application cache"), name);
    }
  }
  if (isFolder(home + "/.var/app")) {
    if (auto flatpaks = walks.locate(home + "/.var/app")) {
      for (const auto& application : walks.children(*flatpaks)) {
        auto cache = walks.child(application, "cache");
        if (!cache || !isFolderPlace(*cache)) continue;
        const std::string id(application.entry().nameView());
        std::optional<std::string> reason;
        for (const auto& known : applications) {
          if (!known.flatpakId.empty() && known.flatpakId == id) reason = "cache of " + applicationLabel(known) + " (" + id + ")";
        }
        walks.takeInto(found.userCache, *cache, reason.value_or("cache of the Flatpak application " + id), id);
      }
    }
  }
  if (isFolder(home + "/snap")) {
    if (auto snaps = walks.locate(home + "/snap")) {
      for (const auto& snap : walks.children(*snaps)) {
        const std::string snapName(snap.entry().nameView());
        for (const auto& revision : walks.children(snap)) {
          auto cache = walks.child(revision, ".cache");
          if (!cache || !isFolderPlace(*cache)) continue;
          walks.takeInto(found.userCache, *cache, "cache of the Snap " + snapName,
                         snapName + " " + std::string(revision.entry().nameView()));
        }
      }
    }
  }
  if (isFolder(configHome)) {
    if (auto config = walks.locate(configHome)) {
      auto chromiumCaches = [&](const Place& folder, const std::string& application, bool profile) {
        for (std::string_view cacheName : {"Cache", "Code Cache", "GPUCache"}) {
          auto cache = walks.child(folder, cacheName);
          if (!cache || !isFolderPlace(*cache)) continue;
          std::string label = profile ? application + "/" + std::string(folder.entry().nameView()) : application;
          walks.takeInto(found.userCache, *cache, "Chromium-style cache of " + application,
                         label + " (" + std::string(cacheName) + ")");
        }
      };
      for (const auto& application : walks.children(*config)) {
        if (!isFolderPlace(application) || Walks::isTaken(application)) continue;
        const std::string name(application.entry().nameView());
        chromiumCaches(application, name, false);
        for (const auto& profile : walks.children(application))
          if (isFolderPlace(profile)) chromiumCaches(profile, name, true);
      }
    }
  }

  // User logs.
  auto collectLogs = [&](const Place& top) {
    std::vector<Place> pending{top};
    while (!pending.empty()) {
      Place place = pending.back();
      pending.pop_back();
      if (Walks::isTaken(place)) continue;
      for (const auto& child : walks.children(place)) {
        const auto name = child.entry().nameView();
        if (isFolderPlace(child)) {
          if (equalNoCase(name, "logs")) {
            walks.takeInto(found.userLogs, child, "log folder", std::string(name));
          } else {
            pending.push_back(child);
          }
        } else if (child.entry().nodeType() == FileNode::NodeType::file && endsWithNoCase(name, ".log")) {
          insert(found.userLogs, walks.take(child, "log file"));
        }
      }
    }
  };
  if (isFolder(stateHome))
    if (auto state = walks.locate(stateHome)) collectLogs(*state);
  if (isFolder(dataHome)) {
    if (auto data = walks.locate(dataHome)) {
      for (const auto& application : walks.children(*data))
        if (isFolderPlace(application)) collectLogs(application);
    }
  }
  if (homePlace) {
    for (const auto& entry : walks.children(*homePlace)) {
      const auto name = entry.entry().nameView();
      if (entry.entry().nodeType() != FileNode::NodeType::file || !name.starts_with(".x")) continue;
      if (name.ends_with("-errors")) {
        insert(found.userLogs, walks.take(entry, "X session error log"));
      } else if (name.ends_with("-errors.old")) {
        insert(found.userLogs, walks.take(entry, "X session error log of the session before"));
      }
    }
  }

  // Downloads: the top level of the download folder.
  const std::string downloads = Paths::userDirectory(Paths::UserDirectory::download);
  if (isFolder(downloads)) {
    if (auto folder = walks.locate(downloads)) {
      for (const auto& entry : walks.children(*folder)) {
        if (entry.entry().nodeType() != FileNode::NodeType::file) continue;
        const auto name = entry.entry().nameView();
        switch (downloadKind(name)) {
          case DownloadKind::unfinished:
            insert(found.downloads, walks.take(entry, "unfinished download"));
            break;
          case DownloadKind::package:
            insert(found.packages, walks.take(entry, installerReason(name)));
            break;
          case DownloadKind::diskImage:
            insert(found.diskImages, walks.take(entry, diskImageReason(name)));
            break;
          case DownloadKind::download:
            insert(found.downloads, walks.take(entry, "downloaded file"));
            break;
        }
      }
    }
  }

  // Installer packages below the root: the distribution package caches, and Flatpak's
  // leftover download caches.
  const std::vector<std::pair<std::string, std::string>> distributionCaches{
      {"/var/cache/apt/archives", "packages apt downloaded (removing them needs root)"},
      {"/var/cache/dnf", "packages dnf downloaded (removing them needs root)"},
      {"/var/cache/pacman/pkg", "packages pacman downloaded (removing them needs root)"},
  };
  for (const auto& [path, reason] : distributionCaches) {
    const std::string folder = Paths::system(path);
    if (!isFolder(folder)) continue;
    if (auto place = walks.locate(folder))
      walks.takeInto(found.packages, *place, reason, std::string(place->entry().nameView()));
  }
  if (const std::string varTmp = Paths::system("/var/tmp"); isFolder(varTmp)) {
    std::vector<std::string> leftovers;
    struct Lister final : platform::DirectoryReader::Visitor {
      std::vector<std::string>* names;
      void visit(const platform::DirectoryReader::Entry& entry) override {
        if (entry.type == platform::FileObjectType::directory && entry.name.starts_with("flatpak-cache-"))
          names->push_back(std::string(entry.name));
      }
      bool wantsFileStatus() const override { return false; }
    } lister;
    lister.names = &leftovers;
    platform::DirectoryReader::shared()->list(varTmp, false, lister);
    std::sort(leftovers.begin(), leftovers.end());
    for (const auto& name : leftovers) {
      if (auto place = walks.locate(varTmp + "/" + name)) walks.takeInto(found.packages, *place, "leftover Flatpak download", name);
    }
  }

  // Flatpak runtimes that nothing runs on.
  const auto flatpaks = platform::FlatpakInstallations::shared()->installed();
  for (const auto& failure : flatpaks.failures) LogWarning("Flatpak installations: " + failure);
  std::set<std::string> usedRuntimes;
  std::vector<std::string> extended;  // ids whose extensions are in use with them
  for (const auto& ref : flatpaks.refs) {
    if (ref.kind != platform::FlatpakInstalledRef::Kind::application) continue;
    extended.push_back(ref.id + ".");
    if (ref.runtime) {
      usedRuntimes.insert(*ref.runtime);
      extended.push_back(ref.runtime->substr(0, ref.runtime->find('/')) + ".");
    }
  }
  for (const auto& ref : flatpaks.refs) {
    if (ref.kind != platform::FlatpakInstalledRef::Kind::runtime) continue;
    if (usedRuntimes.contains(ref.id + "/" + ref.arch + "/" + ref.branch)) continue;
    if (ref.id.starts_with("org.gtk.Gtk3theme.") ||
        std::any_of(extended.begin(), extended.end(), [&](const auto& prefix) { return ref.id.starts_with(prefix); }))
      continue;
    if (ref.deployDirectory.empty() || !isFolder(ref.deployDirectory)) continue;
    if (auto place = walks.locate(ref.deployDirectory)) {
      walks.takeInto(found.packages, *place,
                     "Flatpak runtime no installed application uses (" + ref.installation + " installation)", ref.ref());
    }
  }

  std::set<std::string> seen;
  Unreadable unreadable;
  for (const auto& walked : walks.walked()) {
    for (const auto& entry : walked->map->unreadableEntries())
      if (seen.insert(entry.path).second) unreadable.push_back(entry);
  }
  std::sort(unreadable.begin(), unreadable.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  {
    std::lock_guard lock(_mutex);
    _unreadable = std::move(unreadable);
  }
  setSuccess(std::move(found));
  finish();
}

}  // namespace vantelkit
