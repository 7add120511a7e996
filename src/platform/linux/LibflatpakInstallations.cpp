// The Flatpak installations read through libflatpak.
#include <flatpak.h>

#include <algorithm>
#include <memory>

#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/platform/FlatpakInstallations.h"
#include "vantelkit/platform/Paths.h"

namespace vantelkit::platform {

namespace {

template <class T>
struct ObjectDeleter {
  void operator()(T* object) const { g_object_unref(object); }
};
template <class T>
using ObjectPointer = std::unique_ptr<T, ObjectDeleter<T>>;

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error) g_error_free(error);
  }
  std::string message() const { return error && error->message ? error->message : "unknown failure"; }
};

std::string text(const char* value) { return value ? value : ""; }

// The runtime an application's metadata names ([Application] runtime=...).
std::optional<std::string> runtimeOf(::FlatpakInstalledRef* ref) {
  ErrorHolder error;
  GBytes* bytes = flatpak_installed_ref_load_metadata(ref, nullptr, &error.error);
  if (!bytes) return std::nullopt;
  gsize size = 0;
  const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  GKeyFile* file = g_key_file_new();
  std::optional<std::string> runtime;
  if (data && g_key_file_load_from_data(file, data, size, G_KEY_FILE_NONE, nullptr)) {
    if (char* value = g_key_file_get_string(file, "Application", "runtime", nullptr)) {
      runtime = value;
      g_free(value);
    }
  }
  g_key_file_free(file);
  g_bytes_unref(bytes);
  return runtime;
}

void listInstallation(FlatpakInstallation* installation, const std::string& name, FlatpakListing& listing) {
  ErrorHolder error;
  GPtrArray* refs = flatpak_installation_list_installed_refs(installation, nullptr, &error.error);
  if (!refs) {
    listing.failures.push_back(name + " installation: " + error.message());
    return;
  }
  for (guint i = 0; i < refs->len; ++i) {
    auto* installed = static_cast<::FlatpakInstalledRef*>(g_ptr_array_index(refs, i));
    auto* ref = FLATPAK_REF(installed);
    platform::FlatpakInstalledRef item;
    item.kind = flatpak_ref_get_kind(ref) == FLATPAK_REF_KIND_APP ? platform::FlatpakInstalledRef::Kind::application
                                                                 : platform::FlatpakInstalledRef::Kind::runtime;
    item.id = text(flatpak_ref_get_name(ref));
    item.arch = text(flatpak_ref_get_arch(ref));
    item.branch = text(flatpak_ref_get_branch(ref));
    if (const char* version = flatpak_installed_ref_get_appdata_version(installed)) item.version = version;
    if (item.kind == platform::FlatpakInstalledRef::Kind::application) item.runtime = runtimeOf(installed);
    item.installation = name;
    item.deployDirectory = text(flatpak_installed_ref_get_deploy_dir(installed));
    item.installedSize = flatpak_installed_ref_get_installed_size(installed);
    listing.refs.push_back(std::move(item));
  }
  g_ptr_array_unref(refs);
}

// Whether an installation at path has its repository: without one nothing is installed
// there, and libflatpak, asked about it, would make one (a user installation's), which a
// reading must not.
bool hasRepository(const std::string& path) { return pathStatus(path + "/repo", true).type == FileObjectType::directory; }

// An installation at path, or none when nothing is installed there.
ObjectPointer<FlatpakInstallation> installationAt(const std::string& path, bool user, const std::string& name,
                                                 FlatpakListing& listing) {
  if (!hasRepository(path)) return nullptr;
  ObjectPointer<GFile> file(g_file_new_for_path(path.c_str()));
  ErrorHolder error;
  ObjectPointer<FlatpakInstallation> installation(flatpak_installation_new_for_path(file.get(), user, nullptr, &error.error));
  if (!installation) listing.failures.push_back(name + " installation: " + error.message());
  return installation;
}

class LibflatpakInstallations final : public FlatpakInstallations {
 public:
  FlatpakListing installed() override {
    FlatpakListing listing;
    if (Paths::rootOverride()) {
      if (auto system = installationAt(Paths::system("/var/lib/flatpak"), false, "system", listing)) {
        listInstallation(system.get(), "system", listing);
      }
    } else if (hasRepository("/var/lib/flatpak")) {
      ErrorHolder error;
      ObjectPointer<FlatpakInstallation> system(flatpak_installation_new_system(nullptr, &error.error));
      if (system) {
        listInstallation(system.get(), "system", listing);
      } else {
        listing.failures.push_back("system installation: " + error.message());
      }
    }
    if (auto user = installationAt(Paths::xdgDataHome() + "/flatpak", true, "user", listing)) {
      listInstallation(user.get(), "user", listing);
    }
    std::sort(listing.refs.begin(), listing.refs.end(), [](const auto& a, const auto& b) {
      if (a.installation != b.installation) return a.installation < b.installation;
      return a.ref() < b.ref();
    });
    return listing;
  }
};

}  // namespace

std::shared_ptr<FlatpakInstallations> FlatpakInstallations::platformDefault() {
  return std::make_shared<LibflatpakInstallations>();
}

}  // namespace vantelkit::platform
