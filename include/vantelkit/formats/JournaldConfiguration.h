// What the journal's configuration says about its size: SystemMaxUse= in the [Journal] group
// of journald.conf and of its drop-ins (journald.conf.d/*.conf, read after the main file in
// the order of their names, a later file overriding an earlier one), and the cap that follows
// (the configured size, or by default 10 % of the file system that holds the journal, at
// most 4 GiB).
// Thread safety: pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantelkit {

// The largest default cap: 4 GiB.
inline constexpr std::uint64_t kJournalDefaultCapLimit = std::uint64_t{4} << 30;

// A size as the journal's configuration writes it: a decimal number (a fraction allowed),
// optionally followed by one of B, K, M, G, T, P, E (powers of 1024), spaces allowed between;
// none for anything else or a value past 2^64 - 1.
std::optional<std::uint64_t> parseJournalSize(std::string_view text);

// The SystemMaxUse in force after one more configuration file: its last valid SystemMaxUse=
// in [Journal]; none again for an empty assignment (back to the default); current unchanged
// when the file sets none, or only invalid ones.
std::optional<std::uint64_t> applyJournaldConfiguration(std::string_view text, std::optional<std::uint64_t> current);

// The drop-in files to read, in order: folders come with their "*.conf" names, the folder of
// highest precedence first (/etc, /run, /usr/local/lib, /usr/lib); a name in several folders
// is taken from the first only; the result is sorted by name and gives folder + "/" + name.
std::vector<std::string> journaldDropInOrder(
    const std::vector<std::pair<std::string, std::vector<std::string>>>& folders);

// The cap in force: configured when set, else a tenth of fileSystemSize, at most
// kJournalDefaultCapLimit.
std::uint64_t journalCap(std::optional<std::uint64_t> configured, std::uint64_t fileSystemSize);

}  // namespace vantelkit
