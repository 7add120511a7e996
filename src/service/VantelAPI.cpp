#include "vantelkit/service/VantelAPI.h"

#include <atomic>
#include <mutex>

namespace vantelkit {
namespace {

// Deployment settings: the service hosts of each environment.
constexpr std::string_view kDevelopmentBaseURL = "https://dev.api.example.com";
constexpr std::string_view kStagingBaseURL = "https://staging.api.example.com";
constexpr std::string_view kProductionBaseURL = "https://api.example.com";
constexpr std::string_view kCustomPlaceholderURL = "https://custom.example.com";
constexpr std::string_view kCustomSocketPlaceholderURL = "wss://custom.example.com/socket";

URL constantURL(std::string_view text) {
  // The constants above are valid URLs; a failed parse here is a programming error that the
  // service tests catch.
  return *URL::parse(text);
}

std::atomic<VantelAPI::Environment::Case> gEnvironment{VantelAPI::Environment::dev};

struct CustomURLs {
  std::mutex mutex;
  URL base = constantURL(kCustomPlaceholderURL);    // guarded by mutex
  URL socket = constantURL(kCustomSocketPlaceholderURL);  // guarded by mutex
};

CustomURLs& customURLs() {
  static CustomURLs urls;
  return urls;
}

}  // namespace

std::optional<VantelAPI::Environment> VantelAPI::Environment::fromRawValue(std::string_view rawValue) {
  for (const auto environment : allCases()) {
    if (Environment(environment).rawValue() == rawValue) return Environment(environment);
  }
  return std::nullopt;
}

std::string_view VantelAPI::Environment::rawValue() const {
  switch (_value) {
    case dev: return "dev";
    case staging: return "staging";
    case live: return "live";
    case custom: return "custom";
  }
  return "dev";
}

URL VantelAPI::Environment::baseURL() const {
  switch (_value) {
    case dev: return constantURL(kDevelopmentBaseURL);
    case staging: return constantURL(kStagingBaseURL);
    case live: return constantURL(kProductionBaseURL);
    case custom: return customURL();
  }
  return constantURL(kDevelopmentBaseURL);
}

URL VantelAPI::Environment::customURL() {
  auto& urls = customURLs();
  std::lock_guard lock(urls.mutex);
  return urls.base;
}

void VantelAPI::Environment::setCustomURL(URL url) {
  auto& urls = customURLs();
  std::lock_guard lock(urls.mutex);
  urls.base = std::move(url);
}

URL VantelAPI::Environment::customSocketURL() {
  auto& urls = customURLs();
  std::lock_guard lock(urls.mutex);
  return urls.socket;
}

void VantelAPI::Environment::setCustomSocketURL(URL url) {
  auto& urls = customURLs();
  std::lock_guard lock(urls.mutex);
  urls.socket = std::move(url);
}

std::string VantelAPI::ClientError::description() const {
  return _value == Case::recievedError ? "recievedError" : "invalidRequest";
}

VantelAPI::Environment VantelAPI::environment() { return gEnvironment.load(); }

void VantelAPI::setEnvironment(Environment environment) { gEnvironment.store(environment.value()); }

}  // namespace vantelkit
