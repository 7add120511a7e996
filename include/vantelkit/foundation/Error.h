// Errors are values: each domain has a small error type whose cases may carry the offending
// value. They travel as ErrorPtr (procedure outcomes, LogError, error loggers) and print as
// type name, a point and the case name.
// Thread safety: errors are immutable once made; share them freely between threads.
#pragma once

#include <memory>
#include <string>

namespace vantelkit {

class Error {
 public:
  virtual ~Error() = default;
  // The error type's own name, without enclosing types ("GeneralError").
  virtual std::string typeName() const = 0;
  // The error's text description; for an enumeration error, its case name ("cancelled").
  virtual std::string description() const = 0;
  // The text shown to people; the description unless the type says otherwise.
  virtual std::string localizedDescription() const { return description(); }
  // typeName() + "." + description().
  std::string qualifiedDescription() const { return typeName() + "." + description(); }
};

using ErrorPtr = std::shared_ptr<const Error>;

template <class E, class... Args>
ErrorPtr makeError(Args&&... args) {
  return std::make_shared<const E>(std::forward<Args>(args)...);
}

// The error of type E that ptr holds, or null.
template <class E>
const E* errorAs(const ErrorPtr& ptr) {
  return dynamic_cast<const E*>(ptr.get());
}

// Wraps a C++ exception that reached a boundary where errors become values.
class ExceptionError final : public Error {
 public:
  explicit ExceptionError(std::string what) : _what(std::move(what)) {}
  std::string typeName() const override { return "ExceptionError"; }
  std::string description() const override { return _what; }

 private:
  std::string _what;
};

}  // namespace vantelkit
