#include "vantelkit/platform/DurableFile.h"

#include <fmt/core.h>

#include <cstdint>
#include <random>

namespace vantelkit::platform {

namespace {

// Names that a second writer picked at the same moment would not repeat.
std::filesystem::path temporarySibling(const std::filesystem::path& path) {
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::filesystem::path temporary = path;
  temporary.replace_filename(fmt::format(".{}.{:016x}.tmp", path.filename().string(), generator()));
  return temporary;
}

DurableFile::WriteError failed(DurableFile::Step step, DurableFile::StepFailure failure) {
  return {step, failure.failure, std::move(failure.reason)};
}

}  // namespace

std::string DurableFile::WriteError::description() const {
  const char* what = "";
  switch (step) {
    case Step::createTemporary: what = "cannot create a temporary file in its folder"; break;
    case Step::write: what = "cannot write the temporary file"; break;
    case Step::syncFile: what = "cannot flush the temporary file to the disk"; break;
    case Step::closeFile: what = "cannot close the temporary file"; break;
    case Step::rename: what = "cannot put the new file in place"; break;
    case Step::syncFolder: what = "the new file is in place, but its folder could not be flushed to the disk"; break;
  }
  return reason.empty() ? std::string(what) : fmt::format("{}: {}", what, reason);
}

std::optional<DurableFile::WriteError> DurableFile::write(const std::filesystem::path& path, std::string_view bytes,
                                                          const std::shared_ptr<FileSystem>& fileSystem) {
  FileSystem& files = fileSystem ? *fileSystem : *FileSystem::platformDefault();
  if (path.filename().empty() || path.filename() == "." || path.filename() == "..") {
    return WriteError{Step::createTemporary, Failure::isFolder, fmt::format("{} does not name a file", path.string())};
  }
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";

  // A name taken by someone else is tried again with another; anything else is final.
  std::filesystem::path temporary;
  std::unique_ptr<FileSystem::OpenFile> file;
  constexpr int kAttempts = 8;
  for (int attempt = 0; attempt < kAttempts && !file; ++attempt) {
    temporary = temporarySibling(path);
    auto created = files.createNew(temporary);
    if (auto* failure = std::get_if<StepFailure>(&created)) {
      if (failure->failure != Failure::alreadyExists || attempt + 1 == kAttempts) {
        return failed(Step::createTemporary, std::move(*failure));
      }
      continue;
    }
    file = std::move(std::get<std::unique_ptr<FileSystem::OpenFile>>(created));
  }

  auto abandon = [&](Step step, StepFailure failure) {
    file.reset();
    files.remove(temporary);
    return failed(step, std::move(failure));
  };

  std::span<const char> rest(bytes.data(), bytes.size());
  while (!rest.empty()) {
    auto written = file->write(rest);
    if (auto* failure = std::get_if<StepFailure>(&written)) return abandon(Step::write, std::move(*failure));
    const std::size_t count = std::get<std::size_t>(written);
    if (count == 0 || count > rest.size()) {
      return abandon(Step::write, {Failure::inputOutput, "the file system accepted no bytes"});
    }
    rest = rest.subspan(count);
  }
  if (auto failure = file->sync()) return abandon(Step::syncFile, std::move(*failure));
  if (auto failure = file->close()) return abandon(Step::closeFile, std::move(*failure));
  file.reset();
  if (auto failure = files.rename(temporary, path)) {
    files.remove(temporary);
    return failed(Step::rename, std::move(*failure));
  }
  if (auto failure = files.syncFolder(folder)) return failed(Step::syncFolder, std::move(*failure));
  return std::nullopt;
}

}  // namespace vantelkit::platform
