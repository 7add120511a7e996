// Runs a test again in a child process as an unprivileged user (uid and gid 65534, "nobody"),
// for what only a user without root's rights meets: folders that cannot be listed. The child
// runs this test binary with only the named test and a variable that tells it to do the
// unprivileged half; the parent waits for it.
// Thread safety: call from the test's thread; the child is a new program (fork, then exec).
#pragma once

#include <optional>
#include <string>

namespace vantel::testing {

// True in the child: this process is the unprivileged run of a test.
bool runningAsOtherUser();
// The value given to rerunAsOtherUser for the child ("" in the parent).
std::string otherUserArgument();

// Runs the current test binary as uid/gid 65534 with --gtest_filter=testName and argument
// passed on; answers its exit status (0: the child's checks passed), or none when this
// process cannot switch users (it is not root) or cannot start the child.
std::optional<int> rerunAsOtherUser(const std::string& testName, const std::string& argument);

}  // namespace vantel::testing
