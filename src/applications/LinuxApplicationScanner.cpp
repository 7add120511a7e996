#include "vantelkit/applications/LinuxApplicationScanner.h"

#include <algorithm>
#include <map>
#include <set>

#include "foundation/internal/SmallFile.h"
#include "vantelkit/applications/IconTheme.h"
#include "vantelkit/formats/DpkgStatus.h"
#include "vantelkit/foundation/Logging.h"
#include "vantelkit/platform/DirectoryReader.h"
#include "vantelkit/platform/DispatchQueue.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/FlatpakInstallations.h"
#include "vantelkit/platform/Paths.h"
#include "vantelkit/platform/TextCase.h"
#include "vantelkit/scanning/DiskScanner.h"
#include "vantelkit/scanning/FileURL.h"

namespace vantelkit {

namespace {

using platform::FileObjectType;
using platform::Paths;
using Category = LinuxApplicationResource::Category;
using Reason = LinuxLeftover::Reason;
using Unreadable = LinuxApplicationScanner::Unreadable;

struct Listing final : platform::DirectoryReader::Visitor {
  std::vector<std::pair<std::string, FileObjectType>> entries;
  std::error_code error;
  void visit(const platform::DirectoryReader::Entry& entry) override { entries.emplace_back(std::string(entry.name), entry.type); }
  bool wantsFileStatus() const override { return false; }
  void failed(std::error_code failure) override { error = failure; }
};

// The entries of folder, sorted by name; a folder that cannot be listed (other than a
// missing one) is added to unreadable. The folder itself may be a link (a ~/.config kept
// elsewhere); its entries are never followed.
std::vector<std::pair<std::string, FileObjectType>> listFolder(const std::string& folder, Unreadable& unreadable) {
  Listing listing;
  const auto status = platform::DirectoryReader::shared()->list(folder, true, listing);
  if (status != platform::DirectoryReader::Status::complete && listing.error &&
      listing.error != std::errc::no_such_file_or_directory && listing.error != std::errc::not_a_directory) {
    unreadable.push_back({folder, listing.error.value(), true});
  }
  std::sort(listing.entries.begin(), listing.entries.end());
  return listing.entries;
}

// A thing found in a storage location.
struct Candidate {
  Category category;
  std::string path;
  // The name matched against the entries (a leading "." ignored by the matcher).
  std::string name;
  bool isDirectory = true;
};

std::string stemOf(std::string id) {
  if (id.ends_with(".desktop")) id.resize(id.size() - 8);
  return id;
}

// Without the root override's prefix, as dpkg's file lists write paths.
std::string withoutRoot(const std::string& path) {
  auto root = Paths::rootOverride();
  if (root && path.starts_with(*root + "/")) return path.substr(root->size());
  return path;
}

// The desktop entry files of dpkg's packages, by path: read from the packages' file lists.
std::map<std::string, std::string> dpkgDesktopFiles(Unreadable& unreadable) {
  std::map<std::string, std::string> owners;
  const std::string folder = Paths::system("/var/lib/dpkg/info");
  for (const auto& [name, type] : listFolder(folder, unreadable)) {
    if (type != FileObjectType::file && type != FileObjectType::unknown) continue;
    auto package = dpkgListPackageName(name);
    if (!package) continue;
    auto text = internal::readRegularFile(folder + "/" + name, 64u << 20);
    if (!text) continue;
    std::size_t start = 0;
    while (start < text->size()) {
      std::size_t end = text->find('\n', start);
      if (end == std::string::npos) end = text->size();
      std::string_view line(text->data() + start, end - start);
      if (line.ends_with(".desktop") && line.find("/applications/") != std::string_view::npos) {
        owners.emplace(std::string(line), *package);
      }
      start = end + 1;
    }
  }
  return owners;
}

// "version: 1.2" of a Snap's meta/snap.yaml, quotes removed.
std::optional<std::string> snapVersion(const std::string& name) {
  auto text = internal::readRegularFile(Paths::system("/snap/" + name + "/current/meta/snap.yaml"), 1u << 20);
  if (!text) return std::nullopt;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + start, end - start);
    if (line.starts_with("version:")) {
      line.remove_prefix(8);
      while (!line.empty() && (line.front() == ' ' || line.front() == '\'' || line.front() == '"')) line.remove_prefix(1);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\'' || line.back() == '"' || line.back() == '\r')) {
        line.remove_suffix(1);
      }
      if (!line.empty()) return std::string(line);
    }
    start = end + 1;
  }
  return std::nullopt;
}

bool lessByPath(const DiskScanResult::UnreadableEntry& a, const DiskScanResult::UnreadableEntry& b) {
  return a.path < b.path;
}

}  // namespace

std::shared_ptr<LinuxApplicationScanner> LinuxApplicationScanner::make() {
  return std::make_shared<LinuxApplicationScanner>(Key{});
}

void LinuxApplicationScanner::setCatalogOptions(LinuxApplicationCatalog::Options options) {
  std::lock_guard lock(_mutex);
  _options = std::move(options);
}

void LinuxApplicationScanner::start() {
  if (_isRunning.exchange(true)) {
    LogWarning("Linux Application Scanner is already running");
    return;
  }
  _cancelled = false;
  {
    std::lock_guard lock(_mutex);
    _applications.clear();
    _leftovers.clear();
    _unreadable.clear();
    _catalog.reset();
  }
  _listeners.notify([](ApplicationScannerListener& listener) { listener.scanDidStart(); });
  DispatchQueue::global(QualityOfService::userInitiated)->async([self = shared_from_this()] { self->run(); });
}

void LinuxApplicationScanner::cancel() {
  if (!_isRunning.load()) return;
  _cancelled = true;
  std::shared_ptr<DiskScanner> scanner;
  {
    std::lock_guard lock(_mutex);
    scanner = _diskScanner;
  }
  if (scanner) scanner->cancel();
}

bool LinuxApplicationScanner::wasCancelled() const { return _cancelled.load(); }

std::vector<LinuxApplicationRecord> LinuxApplicationScanner::applications() const {
  std::lock_guard lock(_mutex);
  return _applications;
}

std::vector<LinuxLeftover> LinuxApplicationScanner::leftovers() const {
  std::lock_guard lock(_mutex);
  return _leftovers;
}

LinuxApplicationScanner::Unreadable LinuxApplicationScanner::unreadable() const {
  std::lock_guard lock(_mutex);
  return _unreadable;
}

std::optional<LinuxApplicationCatalog> LinuxApplicationScanner::catalog() const {
  std::lock_guard lock(_mutex);
  return _catalog;
}

void LinuxApplicationScanner::progress(double value, const std::string& message) {
  _listeners.notify([value, message](ApplicationScannerListener& listener) { listener.progressUpdate(value, message); });
}

std::optional<std::int64_t> LinuxApplicationScanner::measure(const std::string& path, bool isDirectory,
                                                             std::optional<std::string>& error, Unreadable& unreadable) {
  if (!isDirectory) {
    const auto status = platform::pathStatus(path, false);
    if (status.error) {
      unreadable.push_back({path, status.error.value(), false});
      error = platform::errorDescription(status.error.value());
      return std::nullopt;
    }
    return status.size;
  }
  auto scanner = DiskScanner::make();
  {
    std::lock_guard lock(_mutex);
    _diskScanner = scanner;
  }
  if (_cancelled) scanner->cancel();
  std::shared_ptr<DiskScanResult> result;
  {
    // The scan waits for its traversals, which run on the same pool.
    DispatchBlockingScope blocking;
    result = scanner->scan(FileURL::fileURLWithPath(path, true), ScanRequest{});
  }
  {
    std::lock_guard lock(_mutex);
    _diskScanner.reset();
  }
  bool rootUnreadable = false;
  for (const auto& entry : result->unreadableEntries()) {
    unreadable.push_back(entry);
    if (!error) error = entry.reason();
    if (entry.path == path) rootUnreadable = true;
  }
  if (rootUnreadable) return std::nullopt;
  return result->totalSize();
}

void LinuxApplicationScanner::run() {
  LinuxApplicationCatalog::Options options;
  {
    std::lock_guard lock(_mutex);
    options = _options;
  }
  Unreadable unreadable;
  std::vector<LinuxLeftover> leftovers;

  // The applications and what their package managers say of them.
  auto catalog = LinuxApplicationCatalog::load(options);
  for (const auto& folder : catalog.unreadable()) unreadable.push_back({folder.path, folder.error.value(), true});
  progress(0.1, "Reading desktop entries...");

  const auto flatpaks = platform::FlatpakInstallations::shared()->installed();
  for (const auto& failure : flatpaks.failures) LogWarning("Flatpak: " + failure);
  std::set<std::string> installedFlatpaks;
  for (const auto& ref : flatpaks.refs) {
    if (ref.kind == platform::FlatpakInstalledRef::Kind::application) installedFlatpaks.insert(platform::lowercased(ref.id));
  }
  std::set<std::string> installedSnaps;
  for (const auto& [name, type] : listFolder(Paths::system("/snap"), unreadable)) {
    if (type == FileObjectType::directory && name != "bin") installedSnaps.insert(platform::lowercased(name));
  }
  std::map<std::string, DpkgPackage, std::less<>> packages;
  std::map<std::string, std::string> packageOfFile;
  const bool anySystemPackage = std::any_of(catalog.applications().begin(), catalog.applications().end(), [](const auto& a) {
    return a.kind == LinuxApplication::Kind::systemPackage;
  });
  if (anySystemPackage) {
    if (auto status = internal::readRegularFile(Paths::system("/var/lib/dpkg/status"), 512u << 20)) {
      packages = parseDpkgStatus(*status);
      packageOfFile = dpkgDesktopFiles(unreadable);
    }
  }
  progress(0.2, "Reading versions...");

  // Records of the applications a menu shows; every installed application owns its storage.
  const auto& installed = catalog.applications();
  std::vector<LinuxApplication> owners;
  for (const auto& application : installed) {
    if (!application.broken) owners.push_back(application);
    if (application.entry.flatpakId) installedFlatpaks.insert(platform::lowercased(*application.entry.flatpakId));
    if (application.kind == LinuxApplication::Kind::flatpak) installedFlatpaks.insert(platform::lowercased(stemOf(application.entry.desktopId)));
    if (application.entry.snapName) installedSnaps.insert(platform::lowercased(*application.entry.snapName));
  }
  std::vector<std::optional<LinuxApplicationRecord>> records(owners.size());
  for (std::size_t i = 0; i < owners.size(); ++i) {
    const LinuxApplication& application = owners[i];
    if (!application.shown) continue;
    LinuxApplicationRecord record;
    record.application = application;
    const DesktopEntry& entry = application.entry;
    switch (application.kind) {
      case LinuxApplication::Kind::flatpak: {
        const std::string id = entry.flatpakId.value_or(stemOf(entry.desktopId));
        for (const auto& ref : flatpaks.refs) {
          if (ref.kind != platform::FlatpakInstalledRef::Kind::application || ref.id != id) continue;
          record.version = ref.version;
          if (ref.version) record.versionSource = "flatpak";
          record.package = ref.ref();
          record.runtime = ref.runtime;
          record.applicationSize = static_cast<std::int64_t>(ref.installedSize);
          break;
        }
        if (!record.package) record.package = id;
        break;
      }
      case LinuxApplication::Kind::snap: {
        std::string name = entry.snapName.value_or(stemOf(entry.desktopId));
        if (auto underscore = name.find('_'); !entry.snapName && underscore != std::string::npos) name.resize(underscore);
        record.package = name;
        record.version = snapVersion(name);
        if (record.version) record.versionSource = "snap";
        break;
      }
      case LinuxApplication::Kind::appImage: {
        record.version = entry.appImageVersion;
        if (record.version) record.versionSource = "appImage";
        if (entry.program) {
          const auto status = platform::pathStatus(*entry.program, true);
          if (!status.error && status.type == FileObjectType::file) record.applicationSize = status.size;
        }
        break;
      }
      case LinuxApplication::Kind::systemPackage:
      case LinuxApplication::Kind::userEntry: {
        auto owner = packageOfFile.find(withoutRoot(entry.path));
        if (owner != packageOfFile.end()) {
          record.package = owner->second;
          if (auto package = packages.find(owner->second); package != packages.end()) {
            record.version = package->second.version;
            record.versionSource = "dpkg";
            record.applicationSize = package->second.installedSize;
          }
        }
        break;
      }
    }
    if (entry.icon) {
      if (entry.icon->starts_with("/")) {
        record.iconPath = *entry.icon;
      } else {
        record.iconPath = IconTheme::shared().lookupIcon(*entry.icon, 128);
      }
    }
    records[i] = std::move(record);
  }
  for (const auto& application : installed) {
    if (!application.broken) continue;
    LinuxLeftover leftover;
    leftover.reason = Reason::brokenEntry;
    leftover.path = application.entry.path;
    leftover.isDirectory = false;
    leftover.detail = *application.broken;
    leftovers.push_back(std::move(leftover));
  }
  for (const auto& refused : catalog.refused()) {
    LinuxLeftover leftover;
    leftover.reason = Reason::malformedEntry;
    leftover.path = refused.path;
    leftover.isDirectory = false;
    leftover.detail = refused.reason;
    leftovers.push_back(std::move(leftover));
  }

  // What lies in the storage locations.
  std::vector<Candidate> candidates;
  const std::string home = Paths::home();
  const std::string autostart = Paths::xdgConfigHome() + "/autostart";
  const std::vector<std::pair<Category, std::string>> baseFolders{{Category::config, Paths::xdgConfigHome()},
                                                                  {Category::cache, Paths::xdgCacheHome()},
                                                                  {Category::data, Paths::xdgDataHome()},
                                                                  {Category::state, Paths::xdgStateHome()}};
  std::set<std::string> baseFolderPaths;
  for (const auto& [category, folder] : baseFolders) baseFolderPaths.insert(folder);
  for (const auto& [category, folder] : baseFolders) {
    for (const auto& [name, type] : listFolder(folder, unreadable)) {
      if (type != FileObjectType::directory && type != FileObjectType::file) continue;
      const std::string path = folder + "/" + name;
      if (isKeptStorage(category, name) || baseFolderPaths.contains(path)) continue;
      candidates.push_back({category, path, name, type == FileObjectType::directory});
    }
  }
  for (const auto& [name, type] : listFolder(home, unreadable)) {
    if (type != FileObjectType::directory || !name.starts_with(".") || name == "." || name == "..") continue;
    const std::string path = home + "/" + name;
    if (isKeptStorage(Category::homeFolder, name) || baseFolderPaths.contains(path)) continue;
    // A base folder's own parent (".local" for the data folder) is the desktop's.
    bool holdsBaseFolder = false;
    for (const auto& base : baseFolderPaths) holdsBaseFolder = holdsBaseFolder || base.starts_with(path + "/");
    if (!holdsBaseFolder) candidates.push_back({Category::homeFolder, path, name, true});
  }
  progress(0.3, "Listing storage...");

  const LinuxStorageMatcher matcher(owners);
  std::vector<std::vector<LinuxApplicationResource>> resources(owners.size());
  auto attribute = [&](const Candidate& candidate, std::size_t owner, LinuxStorageEvidence evidence,
                       std::vector<std::string> others) {
    LinuxApplicationResource resource;
    resource.category = candidate.category;
    resource.path = candidate.path;
    resource.isDirectory = candidate.isDirectory;
    resource.evidence = std::move(evidence);
    resource.otherCandidates = std::move(others);
    resources[owner].push_back(std::move(resource));
  };
  auto leftoverOf = [&](const Candidate& candidate, Reason reason, std::string detail) {
    LinuxLeftover leftover;
    leftover.reason = reason;
    leftover.path = candidate.path;
    leftover.category = candidate.category;
    leftover.isDirectory = candidate.isDirectory;
    leftover.detail = std::move(detail);
    leftovers.push_back(std::move(leftover));
  };
  auto ownerByKey = [&](LinuxStorageEvidence::Key key, const std::string& value) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < owners.size(); ++i) {
      const DesktopEntry& entry = owners[i].entry;
      std::optional<std::string> own;
      if (key == LinuxStorageEvidence::Key::flatpakId) {
        own = entry.flatpakId ? entry.flatpakId
                              : (owners[i].kind == LinuxApplication::Kind::flatpak ? std::optional(stemOf(entry.desktopId))
                                                                                   : std::nullopt);
      } else {
        own = entry.snapName;
      }
      if (own && platform::lowercased(*own) == platform::lowercased(value)) return i;
    }
    return std::nullopt;
  };

  for (const auto& candidate : candidates) {
    const auto found = matcher.matches(candidate.name);
    if (found.empty()) {
      leftoverOf(candidate, Reason::matchesNoApplication,
                 "its name matches no installed application's entry");
      continue;
    }
    std::vector<std::string> others;
    for (std::size_t i = 1; i < found.size(); ++i) others.push_back(owners[found[i].application].entry.desktopId);
    attribute(candidate, found[0].application, found[0].evidence, std::move(others));
  }

  // Flatpak's per-application folders: ~/.var/app/<ID>/{cache,config,data}.
  const std::string flatpakData = home + "/.var/app";
  for (const auto& [id, type] : listFolder(flatpakData, unreadable)) {
    if (type != FileObjectType::directory) continue;
    const std::string folder = flatpakData + "/" + id;
    auto owner = ownerByKey(LinuxStorageEvidence::Key::flatpakId, id);
    if (!owner) {
      if (installedFlatpaks.contains(platform::lowercased(id))) continue;  // installed, without a menu entry
      leftoverOf({Category::flatpakData, folder, id, true}, Reason::noInstalledFlatpak, "no installed Flatpak has the ID " + id);
      continue;
    }
    const std::vector<std::pair<std::string, Category>> parts{
        {"cache", Category::flatpakCache}, {"config", Category::flatpakConfig}, {"data", Category::flatpakData}};
    Unreadable partUnreadable;
    const auto entries = listFolder(folder, partUnreadable);
    if (!partUnreadable.empty()) {
      // The folder cannot be listed: it is attributed whole, and measured as unreadable.
      attribute({Category::flatpakData, folder, id, true}, *owner, {LinuxStorageEvidence::Key::flatpakId, id, {}, {}}, {});
      continue;
    }
    for (const auto& partAndCategory : parts) {
      const std::string& part = partAndCategory.first;
      const Category category = partAndCategory.second;
      const bool present = std::any_of(entries.begin(), entries.end(), [&part](const auto& e) {
        return e.first == part && e.second == FileObjectType::directory;
      });
      if (present) {
        attribute({category, folder + "/" + part, id, true}, *owner,
                  {LinuxStorageEvidence::Key::flatpakId, id, LinuxStorageEvidence::Match::equalIgnoringCase, {}}, {});
      }
    }
  }

  // Snap's per-user folders: ~/snap/<name>.
  const std::string snapData = home + "/snap";
  for (const auto& [name, type] : listFolder(snapData, unreadable)) {
    if (type != FileObjectType::directory) continue;
    const std::string folder = snapData + "/" + name;
    auto owner = ownerByKey(LinuxStorageEvidence::Key::snapName, name);
    if (!owner) {
      if (installedSnaps.contains(platform::lowercased(name))) continue;  // installed, without a menu entry
      leftoverOf({Category::snapData, folder, name, true}, Reason::noInstalledSnap, "no installed Snap is named " + name);
      continue;
    }
    attribute({Category::snapData, folder, name, true}, *owner,
              {LinuxStorageEvidence::Key::snapName, name, LinuxStorageEvidence::Match::equalIgnoringCase, {}}, {});
  }

  // Autostart entries: the application whose desktop file ID (or other key) they carry; broken ones are leftovers.
  for (const auto& [name, type] : listFolder(autostart, unreadable)) {
    if ((type != FileObjectType::file && type != FileObjectType::symbolicLink) || !name.ends_with(".desktop")) continue;
    const std::string path = autostart + "/" + name;
    const Candidate candidate{Category::autostart, path, stemOf(name), false};
    auto text = internal::readRegularFile(path, 1u << 20);
    if (!text) {
      leftoverOf(candidate, Reason::malformedEntry, "not a readable regular file of at most 1 MiB");
      continue;
    }
    auto entry = DesktopEntry::parse(*text, name, path, "C");
    if (!entry) {
      leftoverOf(candidate, Reason::malformedEntry, entry.error()->localizedDescription());
      continue;
    }
    if (entry->hidden) continue;  // a system autostart entry switched off: the desktop's own setting
    if (auto broken = LinuxApplicationCatalog::brokenReason(*entry)) {
      leftoverOf(candidate, Reason::brokenAutostartEntry, *broken);
      continue;
    }
    auto found = matcher.matches(stemOf(name));
    if (found.empty() && entry->executableName) found = matcher.matches(*entry->executableName);
    if (found.empty()) continue;  // a working autostart program of no menu application
    std::vector<std::string> others;
    for (std::size_t i = 1; i < found.size(); ++i) others.push_back(owners[found[i].application].entry.desktopId);
    attribute(candidate, found[0].application, found[0].evidence, std::move(others));
  }
  progress(0.4, "Attributing storage...");

  // Sizes, through the scanning engine.
  std::size_t total = 0;
  for (std::size_t i = 0; i < owners.size(); ++i) total += records[i] ? resources[i].size() : 0;
  total += leftovers.size();
  std::size_t measured = 0;
  auto step = [&] {
    ++measured;
    if (total > 0 && measured % 16 == 0) progress(0.4 + 0.55 * static_cast<double>(measured) / static_cast<double>(total), "Measuring...");
  };
  for (std::size_t i = 0; i < owners.size() && !_cancelled; ++i) {
    if (!records[i]) continue;
    for (auto& resource : resources[i]) {
      if (_cancelled) break;
      resource.size = measure(resource.path, resource.isDirectory, resource.error, unreadable);
      step();
    }
    std::sort(resources[i].begin(), resources[i].end(), [](const auto& a, const auto& b) {
      if (a.category != b.category) return a.category < b.category;
      return a.path < b.path;
    });
    records[i]->resources = std::move(resources[i]);
  }
  for (auto& leftover : leftovers) {
    if (_cancelled) break;
    leftover.size = measure(leftover.path, leftover.isDirectory, leftover.error, unreadable);
    step();
  }

  std::vector<LinuxApplicationRecord> list;
  for (auto& record : records) {
    if (record) list.push_back(std::move(*record));
  }
  std::sort(list.begin(), list.end(), [](const LinuxApplicationRecord& a, const LinuxApplicationRecord& b) {
    if (a.application.entry.name != b.application.entry.name) return a.application.entry.name < b.application.entry.name;
    return a.application.entry.desktopId < b.application.entry.desktopId;
  });
  std::sort(leftovers.begin(), leftovers.end(), [](const LinuxLeftover& a, const LinuxLeftover& b) { return a.path < b.path; });
  std::sort(unreadable.begin(), unreadable.end(), lessByPath);
  unreadable.erase(std::unique(unreadable.begin(), unreadable.end(), [](const auto& a, const auto& b) { return a.path == b.path; }),
                   unreadable.end());
  {
    std::lock_guard lock(_mutex);
    _applications = std::move(list);
    _leftovers = std::move(leftovers);
    _unreadable = std::move(unreadable);
    _catalog = std::move(catalog);
  }
  progress(1.0, "Done");
  auto self = shared_from_this();
  DispatchQueue::main()->async([self] {
    self->_isRunning = false;
    for (const auto& listener : self->_listeners.listeners()) listener->scanDidFinish();
  });
}

}  // namespace vantelkit
