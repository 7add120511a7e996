// The application's web-service environments: which one is selected, the base URL each one
// resolves to, and the errors the service client reports. Requests are made by the host.
// Thread safety: every function is safe to call from any thread; a change of the selected
// environment or of the custom URLs is seen by every later call.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/platform/URL.h"
#include "vantelkit/service/APIError.h"

namespace vantelkit {

class VantelAPI {
 public:
  VantelAPI() = delete;

  class Environment {
   public:
    enum Case { dev, staging, live, custom };

    constexpr Environment(Case value) : _value(value) {}  // NOLINT: a case is an environment
    constexpr Case value() const { return _value; }

    // None for any text other than "dev", "staging", "live" and "custom".
    static std::optional<Environment> fromRawValue(std::string_view rawValue);
    std::string_view rawValue() const;
    static constexpr std::array<Case, 4> allCases() { return {dev, staging, live, custom}; }
    // The https base URL of the environment; for custom, customURL() at the moment of the call.
    URL baseURL() const;

    // The base URL of the custom environment; initially an https placeholder.
    static URL customURL();
    static void setCustomURL(URL url);
    // The WebSocket endpoint of the custom environment; initially a wss placeholder.
    static URL customSocketURL();
    static void setCustomSocketURL(URL url);

    friend constexpr bool operator==(Environment, Environment) = default;

   private:
    Case _value;
  };

  // The error of the service client: the service answered with an error record, or the
  // request could not be made.
  class ClientError final : public Error {
   public:
    enum class Case { recievedError, invalidRequest };

    static ClientError recievedError(APIError error) { return ClientError(Case::recievedError, std::move(error)); }
    static ClientError invalidRequest() { return ClientError(Case::invalidRequest, std::nullopt); }

    Case value() const { return _value; }
    // The service's error record, for recievedError.
    const std::optional<APIError>& apiError() const { return _apiError; }

    std::string typeName() const override { return "ClientError"; }
    std::string description() const override;

    bool operator==(const ClientError& other) const {
      return _value == other._value && _apiError == other._apiError;
    }

   private:
    ClientError(Case value, std::optional<APIError> apiError) : _value(value), _apiError(std::move(apiError)) {}
    Case _value;
    std::optional<APIError> _apiError;
  };

  // The selected environment; initially dev.
  static Environment environment();
  static void setEnvironment(Environment environment);
  // The base URL of the environment selected at the moment of the call.
  static URL baseURL() { return environment().baseURL(); }
};

}  // namespace vantelkit
