// The object type, status and modification time of a file system item, and the system's
// error numbers as error codes and texts. Thread safety: safe to call from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace vantelkit::platform {

enum class FileObjectType { blockSpecial, charSpecial, directory, fifo, file, symbolicLink, socket, unknown };

// unknown when the item cannot be examined (missing, no permission).
FileObjectType fileObjectTypeNotFollowingLink(std::string_view path);

// When the item's content last changed, in seconds since 1970-01-01T00:00:00Z (fractions
// included); none when the item cannot be examined.
std::optional<double> fileModificationTimeNotFollowingLink(std::string_view path);

// True when path is a folder, not a link, with the sticky bit set (a folder where only an
// entry's owner may remove it, as a shared trash's top folder must be).
bool isStickyFolderNotFollowingLink(std::string_view path);

// The bytes of the regular file at path, at most limit of them. None, with error set, when
// it cannot be read, when it is longer (std::errc::file_too_large), when it is not a regular
// file (std::errc::invalid_argument: a fifo or device is never read from), or when path is a
// link and followLink is false (std::errc::too_many_symbolic_link_levels).
std::optional<std::string> readSmallFile(std::string_view path, std::size_t limit, bool followLink,
                                         std::error_code& error);

// The real user id of this process.
unsigned currentUserId();

struct PathStatus {
  FileObjectType type = FileObjectType::unknown;
  // Why the status could not be read (type is then unknown); no error when it was read.
  std::error_code error;
  std::uint64_t device = 0;
  // A regular file's logical size and the bytes allocated for it on disk; 0 for every other
  // type.
  std::int64_t size = 0;
  std::int64_t usage = 0;
  // The same two of whatever the item is: a folder's own, a device's, a link's (when not
  // followed).
  std::int64_t ownSize = 0;
  std::int64_t ownUsage = 0;
};

// The status of the item at path; with followLink, of what a link as the last component
// points to (a dangling link or a loop gives its error).
PathStatus pathStatus(std::string_view path, bool followLink);

// An error number of the system as an error code that compares with std::errc; no error
// for 0.
inline std::error_code errorCodeFromNumber(int errorNumber) {
  return errorNumber == 0 ? std::error_code() : std::error_code(errorNumber, std::generic_category());
}

// The system's text for an error number ("Permission denied").
std::string errorDescription(int error);

// The error number of the last failed library call on this thread.
int lastErrorNumber();

// True when the file at path begins with the given bytes (false when it cannot be read).
bool fileStartsWith(const std::string& path, std::string_view prefix);

// Shell-style wildcard match (*, ?, [...]); "*" also matches "/".
bool globMatches(const std::string& pattern, const std::string& text);

}  // namespace vantelkit::platform
