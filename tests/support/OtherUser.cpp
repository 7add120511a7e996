#include "support/OtherUser.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace vantel::testing {

namespace {
constexpr const char* kVariable = "VANTEL_TEST_AS_OTHER_USER";
constexpr unsigned kNobody = 65534;
}  // namespace

bool runningAsOtherUser() { return std::getenv(kVariable) != nullptr; }

std::string otherUserArgument() {
  const char* value = std::getenv(kVariable);
  return value ? value : "";
}

std::optional<int> rerunAsOtherUser(const std::string& testName, const std::string& argument) {
  if (::geteuid() != 0) return std::nullopt;
  char executable[4096];
  const ssize_t length = ::readlink("/proc/self/exe", executable, sizeof executable - 1);
  if (length <= 0) return std::nullopt;
  executable[length] = '\0';
  const std::string filter = "--gtest_filter=" + testName;
  const pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    ::setenv(kVariable, argument.c_str(), 1);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
    std::vector<char*> arguments{executable, const_cast<char*>(filter.c_str()), nullptr};
    ::execv(executable, arguments.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vantel::testing
