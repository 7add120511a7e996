// Launching programs with a pipe on their standard output: run one to its end and take what
// it wrote, or keep one running in the background (a helper server for a test) and read its
// output line by line. Standard input is /dev/null; standard error is inherited.
// Thread safety: runProcess is safe from any thread; a Subprocess has one owner at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantelkit::platform {

struct ProcessOutput {
  // The exit status, or none when the program was ended by a signal.
  std::optional<int> exitStatus;
  std::string standardOutput;
};

// Runs the program at path (no search of PATH) with arguments and waits for it to end.
// None when it cannot be started or its output cannot be read (more than 16 MiB counts as
// unreadable).
std::optional<ProcessOutput> runProcess(const std::string& path, const std::vector<std::string>& arguments);

class Subprocess {
 public:
  // Starts the program at path with arguments; null when it cannot be started.
  static std::unique_ptr<Subprocess> start(const std::string& path, const std::vector<std::string>& arguments);
  // Ends the program (terminate, then kill after a second) and waits for it.
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  // The next line of its standard output without the newline, waiting at most timeoutSeconds;
  // none at the end of the output or when the time runs out.
  std::optional<std::string> readLine(double timeoutSeconds);
  // Whether it is still running.
  bool isRunning();

 private:
  Subprocess(int processId, int outputFd) : _processId(processId), _outputFd(outputFd) {}
  int _processId;
  int _outputFd;
  bool _reaped = false;
  std::string _buffered;
};

}  // namespace vantelkit::platform

namespace vantelkit::platform {

// The name of this process as the system lists it ("vantel"); "process" when it cannot be read.
std::string currentProcessName();

}  // namespace vantelkit::platform
