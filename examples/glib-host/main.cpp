// A host application that embeds VantelKit in a GLib main loop: the loop drains the
// library's main queue, a disk map of a folder runs as a procedure whose observer reports
// progress on the loop's thread, Ctrl-C cancels it through the loop, and the largest folders
// are printed at the end.
//
// Usage: glib-host [--top N] [--start-delay SECONDS] FOLDER
// Exit status: 0 done, 1 failed, 2 usage error, 130 cancelled.
#include <glib-unix.h>
#include <glib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <vantelkit/Version.h>
#include <vantelkit/diskmap/DiskMapProcedure.h>
#include <vantelkit/foundation/ProcedureQueue.h>
#include <vantelkit/platform/DispatchQueue.h>
#include <vantelkit/scanning/FileURL.h>

namespace {

using vantelkit::DiskMapProcedure;
using vantelkit::MainQueue;

// 1 and 2: the main queue as a GLib source. It is ready whenever the queue holds work, and
// dispatching it drains the queue on the loop's thread, which thereby is the main thread.
// The library calls the wake-up handler from whichever thread adds work; it wakes the loop,
// which then asks the source again.
gboolean mainQueuePrepare(GSource*, gint* timeout) {
  *timeout = -1;
  return MainQueue::pendingCount() > 0;
}
gboolean mainQueueCheck(GSource*) { return MainQueue::pendingCount() > 0; }
gboolean mainQueueDispatch(GSource*, GSourceFunc, gpointer) {
  MainQueue::drain();
  return G_SOURCE_CONTINUE;
}
GSourceFuncs mainQueueFuncs = {mainQueuePrepare, mainQueueCheck, mainQueueDispatch, nullptr, nullptr, nullptr};

GSource* attachMainQueue(GMainContext* context) {
  GSource* source = g_source_new(&mainQueueFuncs, sizeof(GSource));
  g_source_set_name(source, "VantelKit main queue");
  g_source_attach(source, context);
  MainQueue::setWakeUpHandler([context] { g_main_context_wakeup(context); });
  return source;
}

struct Host {
  GMainLoop* loop = nullptr;
  std::shared_ptr<DiskMapProcedure> procedure;
  vantelkit::ProcedureQueue queue{"glib-host"};
  bool started = false;
  guint progressTimer = 0;
  int exitStatus = 1;
};

void start(Host& host) {
  if (host.started) return;
  host.started = true;
  // 3: queue the procedure; it runs on the library's threads.
  host.queue.addOperation(host.procedure);
}

gboolean reportProgress(gpointer data) {
  auto& host = *static_cast<Host*>(data);
  if (auto scanner = host.procedure->scanner()) {
    std::fprintf(stderr, "scanning: %lld entries\n", static_cast<long long>(scanner->filesScanned()));
  }
  return G_SOURCE_CONTINUE;
}

// 4: an observer whose events arrive on the main queue, that is, on the loop's thread.
class ProgressObserver final : public vantelkit::ProcedureObserver {
 public:
  explicit ProgressObserver(Host& host) : _host(host) {}

  void willExecute(vantelkit::Procedure&) override {
    std::fprintf(stderr, "scan started\n");
    _host.progressTimer = g_timeout_add(100, reportProgress, &_host);
  }

  void didFinish(vantelkit::Procedure& procedure, const vantelkit::ErrorPtr& error) override {
    if (_host.progressTimer != 0) g_source_remove(_host.progressTimer);
    _host.progressTimer = 0;
    if (procedure.isCancelled()) {
      _host.exitStatus = 130;
    } else if (error) {
      std::fprintf(stderr, "glib-host: the scan failed: %s\n", error->qualifiedDescription().c_str());
      _host.exitStatus = 1;
    } else {
      _host.exitStatus = 0;
    }
    g_main_loop_quit(_host.loop);
  }

  std::shared_ptr<vantelkit::DispatchQueue> eventQueue() const override { return vantelkit::DispatchQueue::main(); }

 private:
  Host& _host;
};

// 5: cancel through the library, on the loop's thread. A procedure that has not started yet
// is queued anyway: it finishes at once, as cancelled, and the observer ends the loop.
gboolean onInterrupt(gpointer data) {
  auto& host = *static_cast<Host*>(data);
  std::fprintf(stderr, "cancelling\n");
  host.procedure->cancel();
  start(host);
  return G_SOURCE_CONTINUE;
}

gboolean onStartDelay(gpointer data) {
  start(*static_cast<Host*>(data));
  return G_SOURCE_REMOVE;
}

void printLargestFolders(const DiskMapProcedure& procedure, int top, bool partial) {
  auto output = procedure.output();
  const auto* result = output.value();
  if (!result || !result->value() || !*result->value()) return;
  const auto& root = (*result->value())->root();
  std::vector<std::shared_ptr<vantelkit::FileNode>> folders;
  for (const auto& child : root->children()) {
    if (child->type() == vantelkit::FileNode::NodeType::directory) folders.push_back(child);
  }
  std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) {
    return a->size() != b->size() ? a->size() > b->size() : a->name() < b->name();
  });
  std::printf("%lld bytes in %s%s\n", static_cast<long long>(root->size()), root->url().path().c_str(),
              partial ? " (partial)" : "");
  for (std::size_t i = 0; i < folders.size() && i < static_cast<std::size_t>(top); ++i) {
    std::printf("%12lld  %s/\n", static_cast<long long>(folders[i]->size()), folders[i]->name().c_str());
  }
}

int usage() {
  std::fprintf(stderr, "usage: glib-host [--top N] [--start-delay SECONDS] FOLDER\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int top = 10;
  double startDelay = 0;
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if ((argument == "--top" || argument == "--start-delay") && i + 1 < argc) {
      char* end = nullptr;
      const double number = std::strtod(argv[++i], &end);
      if (*end != '\0' || number < 0) return usage();
      if (argument == "--top") top = static_cast<int>(number);
      else startDelay = number;
    } else if (argument.empty() || argument[0] == '-' || !folder.empty()) {
      return usage();
    } else {
      folder = argument;
    }
  }
  if (folder.empty()) return usage();
  auto url = vantelkit::FileURL::fileURLWithPath(folder, true);
  if (url.fileType() != vantelkit::FileURL::FileType::directory) {
    std::fprintf(stderr, "glib-host: %s is not a folder\n", folder.c_str());
    return 1;
  }
  std::fprintf(stderr, "VantelKit %s (built against %s)\n", vantelkit::libraryVersion(), VANTELKIT_VERSION_STRING);

  GMainContext* context = g_main_context_default();
  Host host;
  host.loop = g_main_loop_new(context, FALSE);
  GSource* mainQueue = attachMainQueue(context);
  const guint interrupt = g_unix_signal_add(SIGINT, onInterrupt, &host);
  const guint terminate = g_unix_signal_add(SIGTERM, onInterrupt, &host);

  host.procedure = std::make_shared<DiskMapProcedure>(url, false, std::nullopt);
  host.procedure->addObserver(std::make_shared<ProgressObserver>(host));
  if (startDelay > 0) {
    std::fprintf(stderr, "starting in %g s\n", startDelay);
    g_timeout_add(static_cast<guint>(startDelay * 1000), onStartDelay, &host);
  } else {
    start(host);
  }

  g_main_loop_run(host.loop);

  printLargestFolders(*host.procedure, top, host.exitStatus == 130);
  if (host.exitStatus == 130) std::fprintf(stderr, "cancelled\n");

  // Let the queue finish with the procedure, then take the main queue off the loop.
  host.queue.waitUntilAllOperationsAreFinished();
  MainQueue::setWakeUpHandler({});
  MainQueue::drain();
  g_source_remove(interrupt);
  g_source_remove(terminate);
  g_source_destroy(mainQueue);
  g_source_unref(mainQueue);
  g_main_loop_unref(host.loop);
  return host.exitStatus;
}
