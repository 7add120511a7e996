// Durable replacement of a whole file: the bytes go to a new temporary file in the target's
// folder, which is flushed to the disk, renamed over the target, and then the folder itself
// is flushed. A crash at any point leaves the target either as it was or holding the whole
// new content. Every file the library writes goes through here.
// The steps run through a FileSystem, so tests can make any of them fail.
// Thread safety: write() is safe to call from any thread; two writes to the same target at
// once each replace it whole, the later rename winning. A FileSystem implementation must be
// safe to use from any thread.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace vantelkit::platform {

class DurableFile {
 public:
  DurableFile() = delete;

  // The step of a write that failed.
  enum class Step { createTemporary, write, syncFile, closeFile, rename, syncFolder };
  // Why it failed, as far as the caller can act on it.
  enum class Failure {
    noSpace,             // the disk or a quota is full
    readOnly,            // read-only file system
    permissionDenied,
    notFound,            // the folder does not exist
    isFolder,            // a folder stands where the file should go
    notAFolder,          // a part of the path that should be a folder is not
    alreadyExists,       // only from FileSystem::createNew
    inputOutput,         // the device reported an error
    other,
  };

  struct StepFailure {
    Failure failure = Failure::other;
    std::string reason;  // the system's message
    bool operator==(const StepFailure&) const = default;
  };
  // None on success.
  using StepResult = std::optional<StepFailure>;

  // The outcome of a failed write. Unless step is syncFolder, the target is untouched and
  // the temporary file has been removed. After a failed syncFolder the target holds the new
  // content, but whether that survives a crash is unknown.
  struct WriteError {
    Step step = Step::createTemporary;
    Failure failure = Failure::other;
    std::string reason;
    // "cannot flush the temporary file to the disk: Input/output error"
    std::string description() const;
    bool operator==(const WriteError&) const = default;
  };

  // The primitive steps, as the platform provides them.
  class FileSystem {
   public:
    class OpenFile {
     public:
      virtual ~OpenFile() = default;
      // Writes some of bytes (never none when bytes is not empty), answering how many.
      virtual std::variant<std::size_t, StepFailure> write(std::span<const char> bytes) = 0;
      // Flushes the content and metadata to the disk.
      virtual StepResult sync() = 0;
      // Closes the file (a destroyed OpenFile closes itself and ignores errors).
      virtual StepResult close() = 0;
    };

    virtual ~FileSystem() = default;
    // Creates a new, empty file, readable and writable as the process's defaults allow;
    // fails with alreadyExists when anything is at path. Links at path are not followed.
    virtual std::variant<std::unique_ptr<OpenFile>, StepFailure> createNew(const std::filesystem::path& path) = 0;
    // Renames from over to in one step (a file at to is replaced; a folder is not).
    virtual StepResult rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Flushes the folder's entries to the disk. File systems that cannot do this succeed.
    virtual StepResult syncFolder(const std::filesystem::path& folder) = 0;
    // Removes a file, ignoring failure.
    virtual void remove(const std::filesystem::path& path) = 0;

    // The platform's file system, shared for the process.
    static std::shared_ptr<FileSystem> platformDefault();
  };

  // Replaces the file at path by bytes, durably (see above). A symbolic link at path is
  // replaced, not written through. The new file has the process's default permissions.
  // fileSystem: where the steps run; the platform's when null.
  static std::optional<WriteError> write(const std::filesystem::path& path, std::string_view bytes,
                                         const std::shared_ptr<FileSystem>& fileSystem = nullptr);
};

}  // namespace vantelkit::platform
