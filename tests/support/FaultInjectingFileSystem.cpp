#include "support/FaultInjectingFileSystem.h"

#include <algorithm>

namespace vantel::testing {

using StepFailure = vantelkit::platform::DurableFile::StepFailure;
using StepResult = vantelkit::platform::DurableFile::StepResult;

class FaultInjectingFileSystem::File final : public OpenFile {
 public:
  File(std::shared_ptr<FaultInjectingFileSystem> owner, std::unique_ptr<OpenFile> inner, std::filesystem::path path)
      : _owner(std::move(owner)), _inner(std::move(inner)), _path(std::move(path)) {}

  std::variant<std::size_t, StepFailure> write(std::span<const char> bytes) override {
    if (auto failure = _owner->enter(Step::write)) return *failure;
    if (_owner->_writeLimit > 0 && bytes.size() > _owner->_writeLimit) bytes = bytes.first(_owner->_writeLimit);
    auto written = _inner->write(bytes);
    if (auto* count = std::get_if<std::size_t>(&written)) _owner->_written[_path].append(bytes.data(), *count);
    return written;
  }

  StepResult sync() override {
    if (auto failure = _owner->enter(Step::syncFile)) return failure;
    auto result = _inner->sync();
    if (!result) _owner->_synced[_path] = _owner->_written[_path];
    return result;
  }

  StepResult close() override {
    if (auto failure = _owner->enter(Step::closeFile)) return failure;
    return _inner->close();
  }

 private:
  std::shared_ptr<FaultInjectingFileSystem> _owner;
  std::unique_ptr<OpenFile> _inner;
  std::filesystem::path _path;
};

FaultInjectingFileSystem::FaultInjectingFileSystem() : _platform(DurableFile::FileSystem::platformDefault()) {}

void FaultInjectingFileSystem::failAt(Step step, Failure failure, int occurrence, bool repeat) {
  _failures[step] = {occurrence, failure};
  _repeat[step] = repeat;
}

std::optional<StepFailure> FaultInjectingFileSystem::enter(Step step) {
  _calls.push_back(step);
  const int count = ++_counts[step];
  if (_crashStep == step) _crashed = true;
  if (_crashed) return StepFailure{Failure::other, "crashed"};
  auto found = _failures.find(step);
  if (found == _failures.end()) return std::nullopt;
  const auto [occurrence, failure] = found->second;
  if (count == occurrence || (_repeat[step] && count > occurrence)) return StepFailure{failure, "injected"};
  return std::nullopt;
}

std::variant<std::unique_ptr<FaultInjectingFileSystem::OpenFile>, StepFailure> FaultInjectingFileSystem::createNew(
    const std::filesystem::path& path) {
  if (auto failure = enter(Step::createTemporary)) return *failure;
  auto created = _platform->createNew(path);
  if (auto* failure = std::get_if<StepFailure>(&created)) return *failure;
  _written[path].clear();
  return std::make_unique<File>(shared_from_this(), std::move(std::get<std::unique_ptr<OpenFile>>(created)), path);
}

StepResult FaultInjectingFileSystem::rename(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (auto failure = enter(Step::rename)) return failure;
  auto result = _platform->rename(from, to);
  if (!result) _renamed[to] = Rename{from, false};
  return result;
}

StepResult FaultInjectingFileSystem::syncFolder(const std::filesystem::path& folder) {
  if (auto failure = enter(Step::syncFolder)) return failure;
  auto result = _platform->syncFolder(folder);
  if (!result) {
    for (auto& [target, rename] : _renamed) {
      if (target.parent_path() == folder) rename.folderSynced = true;
    }
  }
  return result;
}

void FaultInjectingFileSystem::remove(const std::filesystem::path& path) {
  if (!_crashed) _platform->remove(path);
}

std::set<std::string> FaultInjectingFileSystem::contentsAfterPowerLoss(const std::filesystem::path& path,
                                                                       const std::optional<std::string>& before) const {
  std::set<std::string> contents;
  auto renamed = _renamed.find(path);
  if (renamed == _renamed.end() || !renamed->second.folderSynced) {
    contents.insert(before.value_or("<absent>"));
  }
  if (renamed != _renamed.end()) {
    auto synced = _synced.find(renamed->second.from);
    contents.insert(synced == _synced.end() ? kLostContent : synced->second);
  }
  return contents;
}

}  // namespace vantel::testing
