// Procedure outputs: Pending (pending, or ready with a value), ProcedureResult (success with
// a value, or failure with an error) and OutputProcedure, the output that a procedure sets to
// ready before it finishes. OutputProcedure<T> is a base to combine with Procedure or
// GroupProcedure:  class ScanProcedure : public Procedure, public OutputProcedure<Result>.
// Thread safety: Pending and ProcedureResult are values; OutputProcedure's members are safe
// to call from any thread.
#pragma once

#include <mutex>
#include <optional>
#include <utility>
#include <variant>

#include "vantelkit/foundation/Error.h"

namespace vantelkit {

template <class T>
class Pending {
 public:
  // Pending.
  Pending() = default;
  static Pending pending() { return Pending(); }
  static Pending ready(T value) {
    Pending result;
    result._value.emplace(std::move(value));
    return result;
  }

  bool isPending() const { return !_value.has_value(); }
  bool isReady() const { return _value.has_value(); }
  // The value when ready, otherwise null.
  const T* value() const { return _value ? &*_value : nullptr; }
  bool operator==(const Pending&) const = default;

 private:
  std::optional<T> _value;
};

template <class T>
class ProcedureResult {
 public:
  static ProcedureResult success(T value) { return ProcedureResult(std::in_place_index<0>, std::move(value)); }
  // A null error is kept as is; it still reads as a failure.
  static ProcedureResult failure(ErrorPtr error) { return ProcedureResult(std::in_place_index<1>, std::move(error)); }

  bool isSuccess() const { return _storage.index() == 0; }
  // The success value, otherwise null.
  const T* value() const { return std::get_if<0>(&_storage); }
  // The failure's error, otherwise null.
  ErrorPtr error() const {
    const ErrorPtr* error = std::get_if<1>(&_storage);
    return error ? *error : nullptr;
  }

 private:
  template <std::size_t I, class V>
  ProcedureResult(std::in_place_index_t<I> index, V&& value) : _storage(index, std::forward<V>(value)) {}
  std::variant<T, ErrorPtr> _storage;
};

template <class T>
class OutputProcedure {
 public:
  using OutputType = T;
  using Output = Pending<ProcedureResult<T>>;

  OutputProcedure() = default;
  virtual ~OutputProcedure() = default;
  OutputProcedure(const OutputProcedure&) = delete;
  OutputProcedure& operator=(const OutputProcedure&) = delete;

  // A copy of the output as it is now.
  Output output() const {
    std::lock_guard lock(_outputMutex);
    return _output;
  }
  void setOutput(Output output) {
    std::lock_guard lock(_outputMutex);
    _output = std::move(output);
  }
  void setSuccess(T value) { setOutput(Output::ready(ProcedureResult<T>::success(std::move(value)))); }
  void setFailure(ErrorPtr error) { setOutput(Output::ready(ProcedureResult<T>::failure(std::move(error)))); }
  // The success value when the output is ready with one.
  std::optional<T> successValue() const {
    std::lock_guard lock(_outputMutex);
    const ProcedureResult<T>* result = _output.value();
    const T* value = result ? result->value() : nullptr;
    return value ? std::optional<T>(*value) : std::nullopt;
  }

 private:
  mutable std::mutex _outputMutex;
  Output _output;  // guarded by _outputMutex
};

}  // namespace vantelkit
