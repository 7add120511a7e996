// A persistent key-value store of the process (the user-defaults store), kept as a property
// list in the user's configuration folder and written atomically on every change, so a crash
// leaves either the old or the new file whole.
// Thread safety: every member is safe to call from any thread.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Value.h"

namespace vantelkit {

class UserDefaults {
 public:
  // The store of this process: home + "/.config/vantelkit/<process name>.plist".
  static UserDefaults& standard();

  // A store kept in file. What the file holds is read at once; a missing or unreadable file
  // (or one whose top level is no dictionary) starts an empty store.
  explicit UserDefaults(std::filesystem::path file);
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  const std::filesystem::path& file() const { return _file; }

  std::optional<Value> object(std::string_view key) const;
  std::optional<std::string> text(std::string_view key) const;
  std::optional<std::int64_t> integer(std::string_view key) const;
  std::optional<bool> boolean(std::string_view key) const;

  // Sets (or with none, removes) the value and writes the store. False when the file could
  // not be written; the value is kept in memory all the same.
  bool set(std::string_view key, std::optional<Value> value);
  bool remove(std::string_view key) { return set(key, std::nullopt); }
  // Every key and value.
  Value::Dictionary dictionaryRepresentation() const;

 private:
  bool write();

  const std::filesystem::path _file;
  mutable std::mutex _mutex;
  Value::Dictionary _values;  // guarded by _mutex
};

// The process's standard store, under one name.
inline UserDefaults& Defaults() { return UserDefaults::standard(); }

}  // namespace vantelkit
