#include "vantelkit/platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace vantelkit::platform {

namespace {

constexpr std::size_t kMaximumOutputSize = std::size_t{16} * 1024 * 1024;

// Starts path with standard output to a new pipe; the child's id and the pipe's read end.
bool spawn(const std::string& path, const std::vector<std::string>& arguments, pid_t& child, int& outputFd) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> texts{path};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  const int spawned = ::posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    return false;
  }
  outputFd = pipeFds[0];
  return true;
}

std::optional<int> waitFor(pid_t child) {
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited != child || !WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace

std::optional<ProcessOutput> runProcess(const std::string& path, const std::vector<std::string>& arguments) {
  pid_t child = 0;
  int outputFd = -1;
  if (!spawn(path, arguments, child, outputFd)) return std::nullopt;
  ProcessOutput result;
  bool readable = true;
  char buffer[65536];
  for (;;) {
    const ssize_t length = ::read(outputFd, buffer, sizeof(buffer));
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) {
      readable = length == 0;
      break;
    }
    if (result.standardOutput.size() + static_cast<std::size_t>(length) > kMaximumOutputSize) {
      readable = false;
      break;
    }
    result.standardOutput.append(buffer, static_cast<std::size_t>(length));
  }
  ::close(outputFd);  // a child still writing gets a broken pipe and ends
  result.exitStatus = waitFor(child);
  if (!readable) return std::nullopt;
  return result;
}

std::unique_ptr<Subprocess> Subprocess::start(const std::string& path, const std::vector<std::string>& arguments) {
  pid_t child = 0;
  int outputFd = -1;
  if (!spawn(path, arguments, child, outputFd)) return nullptr;
  return std::unique_ptr<Subprocess>(new Subprocess(child, outputFd));
}

Subprocess::~Subprocess() {
  ::close(_outputFd);
  if (_reaped) return;
  ::kill(_processId, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(_processId, &status, WNOHANG) == _processId) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(_processId, SIGKILL);
  while (::waitpid(_processId, &status, 0) < 0 && errno == EINTR) {
  }
}

std::optional<std::string> Subprocess::readLine(double timeoutSeconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
  for (;;) {
    const std::size_t newline = _buffered.find('\n');
    if (newline != std::string::npos) {
      std::string line = _buffered.substr(0, newline);
      _buffered.erase(0, newline + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd descriptor{_outputFd, POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t length = ::read(_outputFd, buffer, sizeof(buffer));
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) return std::nullopt;
    _buffered.append(buffer, static_cast<std::size_t>(length));
  }
}

bool Subprocess::isRunning() {
  if (_reaped) return false;
  int status = 0;
  if (::waitpid(_processId, &status, WNOHANG) == _processId) _reaped = true;
  return !_reaped;
}

}  // namespace vantelkit::platform

namespace vantelkit::platform {

std::string currentProcessName() {
  const int fd = ::open("/proc/self/comm", O_RDONLY | O_CLOEXEC);
  std::string name;
  if (fd >= 0) {
    char buffer[64];
    ssize_t length;
    do {
      length = ::read(fd, buffer, sizeof(buffer));
    } while (length < 0 && errno == EINTR);
    ::close(fd);
    if (length > 0) name.assign(buffer, static_cast<std::size_t>(length));
  }
  while (!name.empty() && (name.back() == '\n' || name.back() == '\0')) name.pop_back();
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return "process";
  return name;
}

}  // namespace vantelkit::platform
