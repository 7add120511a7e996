// The library's general error and the errors of the procedure runtime (time-outs, failed
// conditions), with the delay value that names a time-out.
// Thread safety: immutable values; share them freely between threads.
#pragma once

#include <optional>
#include <string>

#include "vantelkit/foundation/Error.h"
#include "vantelkit/foundation/Value.h"

namespace vantelkit {

class GeneralError final : public Error {
 public:
  enum class Case { featureNotAvalable, unknown };

  // A feature that cannot be used; url is the absolute text of the URL concerned, if any.
  static GeneralError featureNotAvalable(std::optional<std::string> url = std::nullopt) {
    return GeneralError(Case::featureNotAvalable, std::move(url));
  }
  static GeneralError unknown() { return GeneralError(Case::unknown, std::nullopt); }

  Case kind() const { return _case; }
  const std::optional<std::string>& url() const { return _url; }

  std::string typeName() const override { return "GeneralError"; }
  // The case name: "featureNotAvalable" or "unknown".
  std::string description() const override;
  bool operator==(const GeneralError& other) const { return _case == other._case && _url == other._url; }

 private:
  GeneralError(Case kind, std::optional<std::string> url) : _case(kind), _url(std::move(url)) {}
  Case _case;
  std::optional<std::string> _url;
};

// How long a time-out waits: an interval in seconds, or until a date.
class Delay {
 public:
  static Delay by(double seconds) { return Delay(seconds, std::nullopt); }
  static Delay until(Date date) { return Delay(std::nullopt, date); }
  // The interval in seconds, when the delay is one.
  std::optional<double> interval() const { return _interval; }
  std::optional<Date> date() const { return _date; }
  bool operator==(const Delay&) const = default;

 private:
  Delay(std::optional<double> interval, std::optional<Date> date) : _interval(interval), _date(date) {}
  std::optional<double> _interval;
  std::optional<Date> _date;
};

// Errors raised by the procedure runtime itself.
class ProcedureKitError final : public Error {
 public:
  enum class Case {
    timedOut,               // a TimeoutObserver fired; delay() tells which
    dependenciesFailed,     // a dependency finished with an error (NoFailedDependenciesCondition)
    dependenciesCancelled,  // a dependency was cancelled (NoFailedDependenciesCondition)
    conditionFailed,        // another condition refused to let the procedure run
  };

  static ProcedureKitError timedOut(Delay delay) { return ProcedureKitError(Case::timedOut, delay); }
  static ProcedureKitError dependenciesFailed() { return ProcedureKitError(Case::dependenciesFailed, std::nullopt); }
  static ProcedureKitError dependenciesCancelled() {
    return ProcedureKitError(Case::dependenciesCancelled, std::nullopt);
  }
  static ProcedureKitError conditionFailed() { return ProcedureKitError(Case::conditionFailed, std::nullopt); }

  Case kind() const { return _case; }
  // For timedOut: the delay that passed.
  const std::optional<Delay>& delay() const { return _delay; }

  std::string typeName() const override { return "ProcedureKitError"; }
  std::string description() const override;
  bool operator==(const ProcedureKitError& other) const { return _case == other._case && _delay == other._delay; }

 private:
  ProcedureKitError(Case kind, std::optional<Delay> delay) : _case(kind), _delay(delay) {}
  Case _case;
  std::optional<Delay> _delay;
};

}  // namespace vantelkit
