// The steps of a durable write on Linux: open with O_EXCL, write, fsync, close, rename(2),
// and fsync on the folder.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "vantelkit/platform/DurableFile.h"

namespace vantelkit::platform {

namespace {

using Failure = DurableFile::Failure;
using StepFailure = DurableFile::StepFailure;

StepFailure failureFromErrno(int code) {
  Failure failure = Failure::other;
  switch (code) {
    case ENOSPC:
    case EDQUOT: failure = Failure::noSpace; break;
    case EROFS: failure = Failure::readOnly; break;
    case EACCES:
    case EPERM: failure = Failure::permissionDenied; break;
    case ENOENT: failure = Failure::notFound; break;
    case EISDIR: failure = Failure::isFolder; break;
    case ENOTDIR: failure = Failure::notAFolder; break;
    case EEXIST: failure = Failure::alreadyExists; break;
    case EIO: failure = Failure::inputOutput; break;
    default: break;
  }
  return {failure, std::error_code(code, std::generic_category()).message()};
}

class LinuxOpenFile final : public DurableFile::FileSystem::OpenFile {
 public:
  explicit LinuxOpenFile(int fd) : _fd(fd) {}
  ~LinuxOpenFile() override {
    if (_fd >= 0) ::close(_fd);
  }
  LinuxOpenFile(const LinuxOpenFile&) = delete;
  LinuxOpenFile& operator=(const LinuxOpenFile&) = delete;

  std::variant<std::size_t, StepFailure> write(std::span<const char> bytes) override {
    while (true) {
      const ssize_t written = ::write(_fd, bytes.data(), bytes.size());
      if (written >= 0) return static_cast<std::size_t>(written);
      if (errno != EINTR) return failureFromErrno(errno);
    }
  }

  DurableFile::StepResult sync() override {
    while (::fsync(_fd) != 0) {
      if (errno != EINTR) return failureFromErrno(errno);
    }
    return std::nullopt;
  }

  DurableFile::StepResult close() override {
    const int fd = _fd;
    _fd = -1;
    // Linux releases the descriptor even when close reports an error; never retry it.
    if (::close(fd) != 0 && errno != EINTR) return failureFromErrno(errno);
    return std::nullopt;
  }

 private:
  int _fd;
};

class LinuxDurableFileSystem final : public DurableFile::FileSystem {
 public:
  std::variant<std::unique_ptr<OpenFile>, StepFailure> createNew(const std::filesystem::path& path) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return failureFromErrno(errno);
    return std::make_unique<LinuxOpenFile>(fd);
  }

  DurableFile::StepResult rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return failureFromErrno(errno);
    return std::nullopt;
  }

  DurableFile::StepResult syncFolder(const std::filesystem::path& folder) override {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return failureFromErrno(errno);
    int result;
    while ((result = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    const int code = errno;
    ::close(fd);
    // Some file systems cannot flush a folder and say so with EINVAL; nothing more can be done.
    if (result != 0 && code != EINVAL) return failureFromErrno(code);
    return std::nullopt;
  }

  void remove(const std::filesystem::path& path) override { ::unlink(path.c_str()); }
};

}  // namespace

std::shared_ptr<DurableFile::FileSystem> DurableFile::FileSystem::platformDefault() {
  static const std::shared_ptr<FileSystem> fileSystem = std::make_shared<LinuxDurableFileSystem>();
  return fileSystem;
}

}  // namespace vantelkit::platform
