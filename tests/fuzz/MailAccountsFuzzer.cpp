// Feeds arbitrary bytes to the mail accounts reader as the accounts database file and, when
// the first byte is odd, as the database and its write-ahead log (the next four bytes give
// the database's length, little-endian). Any crash, leak, hang or sanitizer report is a
// fault; so is a failure without a message, an account listed twice or without identifiers,
// or a file left beside the database that the fuzzer did not write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "vantelkit/foundation/Logging.h"
#include "vantelkit/mail/MailAttachmentsScanner.h"

namespace fs = std::filesystem;

namespace {

const fs::path& folder() {
  static const fs::path path = [] {
    std::random_device entropy;
    fs::path made = fs::temp_directory_path() / ("vantel-mail-fuzz-" + std::to_string(entropy()));
    fs::create_directories(made);
    return made;
  }();
  // Registered after the path was made, so it runs before the path is destroyed.
  static const bool removedAtExit = std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder(), ignored);
  }) == 0;
  (void)removedAtExit;
  return path;
}

void write(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const fs::path database = folder() / "Accounts4.sqlite";
  const fs::path log = folder() / "Accounts4.sqlite-wal";
  std::error_code ignored;
  fs::remove(log, ignored);
  std::string_view databaseBytes = input;
  if (!input.empty() && (static_cast<unsigned char>(input[0]) & 1) != 0 && input.size() >= 5) {
    std::size_t length = 0;
    for (int i = 4; i >= 1; --i) length = length << 8 | static_cast<unsigned char>(input[static_cast<std::size_t>(i)]);
    databaseBytes = input.substr(5, std::min(length, input.size() - 5));
    write(log, input.substr(5 + databaseBytes.size()));
  }
  write(database, databaseBytes);

  auto result = vantelkit::MailAttachmentsScanner::readMailAccounts(database.string());
  if (!result) {
    if (result.error()->localizedDescription().empty()) __builtin_trap();
  } else {
    std::set<std::string> names;
    for (const auto& account : *result) {
      if (!names.insert(account.name).second || account.identifiers.empty()) __builtin_trap();
    }
  }
  for (const auto& entry : fs::directory_iterator(folder())) {
    const fs::path& path = entry.path();
    if (path != database && path != log) __builtin_trap();
  }
  return 0;
}
