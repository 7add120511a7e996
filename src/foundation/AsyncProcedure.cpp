#include "vantelkit/foundation/AsyncProcedure.h"

#include <atomic>
#include <fmt/format.h>

#include "vantelkit/foundation/GeneralError.h"
#include "vantelkit/foundation/TimeoutObserver.h"

namespace vantelkit {

namespace {

std::atomic<double> defaultTimeout{3.0};

// The shortest text that reads back as seconds, with at least one digit after the point
// when it has no exponent ("3.0", "0.25", "1e+20").
std::string shortestDecimal(double seconds) {
  std::string text = fmt::format("{}", seconds);
  if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
  return text;
}

}  // namespace

double AsyncProcedure::defaultTimeoutInterval() { return defaultTimeout.load(); }

void AsyncProcedure::setDefaultTimeoutInterval(double seconds) { defaultTimeout.store(seconds); }

AsyncProcedure::AsyncProcedure(bool timeout, BlockStorage::AsSelf block)
    : _storage(BlockStorage::asSelf(std::move(block))) {
  if (timeout) addObserver(std::make_shared<TimeoutObserver>(defaultTimeoutInterval()));
}

AsyncProcedure::AsyncProcedure(BlockStorage::AsVoid block) : _storage(BlockStorage::asVoid(std::move(block))) {}

AsyncProcedure::AsyncProcedure(std::function<void()> block)
    : _storage(BlockStorage::asVoid([block = std::move(block)]() -> ErrorPtr {
        if (block) block();
        return nullptr;
      })) {}

void AsyncProcedure::execute() {
  if (const auto* block = _storage.selfBlock()) {
    if (*block) {
      (*block)(*this);
    } else {
      finish();
    }
    return;
  }
  const auto* block = _storage.voidBlock();
  finish(block && *block ? (*block)() : nullptr);
}

void AsyncProcedure::procedureDidCancel(const ErrorPtr& error) {
  const auto* timeout = errorAs<ProcedureKitError>(error);
  if (!timeout || timeout->kind() != ProcedureKitError::Case::timedOut || !timeout->delay()) return;
  std::optional<double> interval = timeout->delay()->interval();
  double current = defaultTimeoutInterval();
  if (!interval || *interval != current) return;
  log().warning(fmt::format(
      "Block not finished after {} seconds. This is likely a mistake, check that this block calls .finish() on all "
      "code paths.",
      shortestDecimal(current)));
}

}  // namespace vantelkit
