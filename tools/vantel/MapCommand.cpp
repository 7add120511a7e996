// vantel map PATH: the disk map of a folder, as a tree of the largest entries, as JSON, or
// exported for ncdu or as an HTML treemap; or the same for a map read back with --import.
#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <span>
#include <sstream>
#include <system_error>
#include <variant>

#include "Command.h"
#include "SavedMap.h"
#include "ScanTarget.h"
#include "vantelkit/diskmap/DiskMapExport.h"
#include "vantelkit/diskmap/DiskMapHtmlReport.h"
#include "vantelkit/diskmap/DiskMapImport.h"
#include "vantelkit/platform/DurableFile.h"
#include "vantelkit/platform/FileStatus.h"
#include "vantelkit/scanning/DiskScanner.h"

namespace {

using vantelkit::DiskMap;
using vantelkit::FileNode;
using Index = DiskMap::Index;
using Entry = DiskMap::Entry;

struct MapOptions {
  std::string path;
  std::optional<std::string> depthLimit;
  std::optional<std::string> maxDepth;
  std::optional<std::string> top;
  bool searchBundles = false;  // accepted for older scripts: bundles are read by default
  bool bundlesAsLeaves = false;
  bool json = false;
  bool diskUsage = false;
  std::string exportFile;
  std::string importFile;
  std::string htmlFile;
  vantel::WalkChoices walk;
  vantel::ScannerTuning tuning;
};

// How the text tree is shown, whatever its source.
struct View {
  explicit View(const DiskMap& shown) : map(shown) {}
  const DiskMap& map;
  bool bundlesAsLeaves = false;
  bool diskUsage = false;
  std::int64_t top = 10;
  std::optional<std::int64_t> maxDepth;  // levels shown below the root

  // Whether index's children are shown at level (the root's children being level 1).
  bool showsChildrenOf(Index index, std::int64_t level) const {
    if (maxDepth && level > *maxDepth) return false;
    if (bundlesAsLeaves && index != DiskMap::rootIndex && vantelkit::DiskScanner::isBundleName(map[index].nameView()))
      return false;
    return true;
  }
  std::int64_t measure(const Entry& entry) const { return diskUsage ? entry.usage : entry.size; }
  // A file whose status could not be read, a folder not listed or one that could not be
  // read at all has no known size.
  static bool sizeUnknown(const Entry& entry) {
    if (entry.hasMark(FileNode::notListed)) return true;
    return entry.hasMark(FileNode::unreadable) && (!entry.isDirectory() || entry.childCount == 0);
  }
};


// The tree below the root, each folder's largest entries first (up to view.top, then a line
// saying how many more there are), one level of indent per level.
void printTree(std::string& out, const View& view) {
  const DiskMap& map = view.map;
  auto shownOf = [&view](std::size_t count) { return std::min<std::size_t>(count, static_cast<std::size_t>(view.top)); };
  auto largestFirst = [&view, &map, &shownOf](Index folder, std::vector<Index>& children) {
    map.childrenByName(folder, children);
    std::stable_sort(children.begin(), children.end(),
                     [&view, &map](Index a, Index b) { return view.measure(map[a]) > view.measure(map[b]); });
    children.resize(shownOf(children.size()));
  };
  auto enter = [&out, &view, &map](Index index, std::size_t depth) {
    if (depth == 0) return view.showsChildrenOf(index, 1);
    const Entry& child = map[index];
    const bool directory = child.isDirectory();
    const char mark = vantel::markOf(child);
    out += fmt::format("{}{:>10}  {}{}{}\n", std::string(depth * 2, ' '),
                       View::sizeUnknown(child) ? std::string("?") : vantel::formatBytes(view.measure(child)),
                       mark ? std::string(1, mark) : std::string(), vantel::escapedForTerminal(child.nameView()),
                       directory ? "/" : "");
    if (out.size() >= (1 << 16)) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
    return directory && child.childCount > 0 && view.showsChildrenOf(index, static_cast<std::int64_t>(depth) + 1);
  };
  auto leave = [&out, &map, &shownOf](Index index, std::size_t depth) {
    const std::size_t count = map[index].childCount;
    if (count > shownOf(count)) out += fmt::format("{}{:>10}  ({} more)\n", std::string((depth + 1) * 2, ' '), "", count - shownOf(count));
  };
  map.visitArranged(DiskMap::rootIndex, largestFirst, enter, leave);
}

// Where --export or --html writes, made before the scan so that an output that cannot be
// written is said at once, not after a long scan. A regular file (or a new one) is written
// as a temporary file beside it, renamed over it once whole: a failure leaves what was there
// before, and no empty or partial file. Stdout, devices, fifos and links are written in place.
class OutputFile {
 public:
  // The output for file ("-" for stdout), or null after saying why it cannot be written.
  static std::unique_ptr<OutputFile> open(const std::string& file) {
    auto output = std::unique_ptr<OutputFile>(new OutputFile(file));
    if (file == "-") return output;
    namespace platform = vantelkit::platform;
    const platform::PathStatus status = platform::pathStatus(file, false);
    auto refuse = [&output](const std::string& reason) {
      output->fail(reason);
      return nullptr;
    };
    if (status.type == platform::FileObjectType::directory)
      return refuse(std::make_error_code(std::errc::is_a_directory).message());
    if (status.type != platform::FileObjectType::file && status.type != platform::FileObjectType::unknown) {
      output->_inPlace = std::fopen(file.c_str(), "wb");
      if (!output->_inPlace) return refuse(platform::errorDescription(platform::lastErrorNumber()));
      return output;
    }
    if (status.type == platform::FileObjectType::file) {
      // Replacing a file is allowed only where writing it would be.
      std::FILE* existing = std::fopen(file.c_str(), "ab");
      if (!existing) return refuse(platform::errorDescription(platform::lastErrorNumber()));
      std::fclose(existing);
    }
    std::filesystem::path target(file);
    if (target.filename().empty() || target.filename() == "." || target.filename() == "..")
      return refuse(std::make_error_code(std::errc::is_a_directory).message());
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 8 && !output->_temporaryFile; ++attempt) {
      output->_temporary = target;
      output->_temporary.replace_filename(fmt::format(".{}.{:016x}.tmp", target.filename().string(), generator()));
      auto created = output->_files->createNew(output->_temporary);
      if (auto* failure = std::get_if<Files::StepFailure>(&created)) {
        if (failure->failure == vantelkit::platform::DurableFile::Failure::alreadyExists) continue;
        output->_temporary.clear();
        return refuse(failure->reason);
      }
      output->_temporaryFile = std::move(std::get<std::unique_ptr<Files::FileSystem::OpenFile>>(created));
    }
    if (!output->_temporaryFile) return refuse(std::make_error_code(std::errc::file_exists).message());
    return output;
  }

  ~OutputFile() {
    if (_inPlace) std::fclose(_inPlace);
    _temporaryFile.reset();
    if (!_temporary.empty()) _files->remove(_temporary);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes with write(sink) and puts the file in place; says why when it fails (a failed
  // write to stdout is said once, by the tool's closing check).
  template <class Produce>
  bool write(Produce&& produce) {
    if (_file == "-") return produce(vantel::standardOutputSink()).hasValue();
    if (_inPlace) {
      auto written = produce(vantelkit::fileSink(_inPlace));
      int error = 0;
      if (auto* failure = written.template errorAs<vantelkit::OutputError>()) error = failure->code().value();
      const bool closed = std::fclose(_inPlace) == 0;
      _inPlace = nullptr;
      if (!closed && written) error = vantelkit::platform::lastErrorNumber();
      if (!written || error != 0) return fail(vantelkit::platform::errorDescription(error));
      return true;
    }
    std::string reason;
    std::string buffer;
    auto flush = [this, &buffer, &reason]() {
      std::span<const char> rest(buffer.data(), buffer.size());
      while (!rest.empty()) {
        auto written = _temporaryFile->write(rest);
        if (auto* failure = std::get_if<Files::StepFailure>(&written)) {
          reason = failure->reason;
          return false;
        }
        rest = rest.subspan(std::min(std::get<std::size_t>(written), rest.size()));
      }
      buffer.clear();
      return true;
    };
    vantelkit::OutputSink sink = [&](std::string_view bytes) {
      buffer += bytes;
      if ((bytes.empty() || buffer.size() >= (1 << 16)) && !flush())
        return std::make_error_code(std::errc::io_error);
      return std::error_code();
    };
    if (!produce(sink) || !flush()) return fail(reason.empty() ? std::string("cannot write") : reason);
    if (auto failure = _temporaryFile->sync()) return fail(failure->reason);
    if (auto failure = _temporaryFile->close()) return fail(failure->reason);
    _temporaryFile.reset();
    if (auto failure = _files->rename(_temporary, _file)) return fail(failure->reason);
    _temporary.clear();
    std::filesystem::path folder = std::filesystem::path(_file).parent_path();
    (void)_files->syncFolder(folder.empty() ? "." : folder);
    return true;
  }

 private:
  using Files = vantelkit::platform::DurableFile;
  explicit OutputFile(std::string file) : _file(std::move(file)), _files(Files::FileSystem::platformDefault()) {}
  bool fail(const std::string& reason) const {
    fmt::print(stderr, "vantel: cannot write {}: {}\n", vantel::escapedForTerminal(_file), reason);
    return false;
  }

  std::string _file;
  std::shared_ptr<Files::FileSystem> _files;
  std::FILE* _inPlace = nullptr;
  std::filesystem::path _temporary;  // removed unless put in place
  std::unique_ptr<Files::FileSystem::OpenFile> _temporaryFile;
};

// The map's children in name order, as every output shows them.
vantelkit::DiskScanner::MapChoices namesInOrder() {
  vantelkit::DiskScanner::MapChoices choices;
  choices.namesInOrder = true;
  return choices;
}

int runMap(const MapOptions& options) {
  std::optional<std::int64_t> depthLimit, top, maxDepth;
  if (!vantel::numberOption(options.depthLimit, "--depth-limit", 1, depthLimit) ||
      !vantel::numberOption(options.top, "--top", 0, top) ||
      !vantel::numberOption(options.maxDepth, "--max-depth", 0, maxDepth))
    return vantel::kExitUsage;
  if (options.json && !options.exportFile.empty()) {
    fmt::print(stderr, "vantel: --json and --export cannot be used together\n");
    return vantel::kExitUsage;
  }
  if (!options.htmlFile.empty() && (options.json || !options.exportFile.empty())) {
    fmt::print(stderr, "vantel: --html cannot be used with --json or --export\n");
    return vantel::kExitUsage;
  }
  if (!options.htmlFile.empty() && !vantelkit::DiskMapHtmlReport::isAvailable()) {
    fmt::print(stderr, "vantel: this build has no HTML report (d3-hierarchy was not found when it was built)\n");
    return vantel::kExitFailure;
  }
  const bool importing = !options.importFile.empty();
  if (importing == !options.path.empty()) {
    fmt::print(stderr, "vantel: {}\n", importing ? "give PATH or --import FILE, not both" : "PATH must not be empty");
    return vantel::kExitUsage;
  }

  std::shared_ptr<DiskMap> map;
  std::optional<vantel::ScanTarget> target;
  bool interrupted = false;
  if (!importing) {
    target = vantel::resolveScanTarget(options.path);
    if (!target) return vantel::kExitFailure;
  }
  const std::string& outputName = !options.htmlFile.empty() ? options.htmlFile : options.exportFile;
  std::unique_ptr<OutputFile> output;
  if (!outputName.empty() && !(output = OutputFile::open(outputName))) return vantel::kExitFailure;
  if (importing) {
    std::string text;
    if (options.importFile == "-") {
      std::ostringstream buffer;
      buffer << std::cin.rdbuf();
      text = buffer.str();
    } else {
      std::ifstream in(options.importFile, std::ios::binary);
      if (!in) {
        fmt::print(stderr, "vantel: cannot read {}: {}\n", vantel::escapedForTerminal(options.importFile),
                   vantelkit::platform::errorDescription(vantelkit::platform::lastErrorNumber()));
        return vantel::kExitFailure;
      }
      std::ostringstream buffer;
      buffer << in.rdbuf();
      text = buffer.str();
    }
    auto imported = vantelkit::DiskMapImport::read(text);
    if (!imported) {
      fmt::print(stderr, "vantel: {}:{}\n", vantel::escapedForTerminal(options.importFile),
                 imported.error()->localizedDescription());
      return vantel::kExitFailure;
    }
    map = std::move(imported).value();
    target = vantel::ScanTarget{vantelkit::FileURL::fileURLWithPath(map->rootPath(), true), map->rootPath(),
                                map->rootPath()};
  } else {
    vantel::ScanRun run(options.tuning, options.walk);
    if (!run.ready()) return vantel::kExitUsage;
    vantelkit::DiskScanner::MapRequest request{.searchBundles = true, .choices = namesInOrder()};
    if (depthLimit) request.depthLimit = static_cast<int>(std::min<std::int64_t>(*depthLimit, 1 << 20));
    map = run.runMap(*target, std::move(request));
    interrupted = run.interrupted();
  }
  const DiskMap& result = *map;
  const vantelkit::DiskMapExport::TreeOptions tree{maxDepth, options.bundlesAsLeaves};
  if (!options.htmlFile.empty()) {
    if (!output->write([&](const vantelkit::OutputSink& sink) {
          return vantelkit::DiskMapHtmlReport::write(result, target->path, sink);
        }))
      return vantel::kExitFailure;
  } else if (!options.exportFile.empty()) {
    if (!output->write([&](const vantelkit::OutputSink& sink) {
          return vantelkit::DiskMapExport::writeNcdu(result, {.tree = tree}, sink);
        }))
      return vantel::kExitFailure;
  } else if (options.json) {
    auto written = vantelkit::DiskMapExport::writeJSON(
        result, {.tree = tree, .path = target->path, .complete = !interrupted}, vantel::standardOutputSink());
    (void)written;  // a failed write to stdout is said once, by the tool's closing check
  } else {
    View view(result);
    view.bundlesAsLeaves = options.bundlesAsLeaves;
    view.diskUsage = options.diskUsage;
    if (top) view.top = *top;
    view.maxDepth = maxDepth ? maxDepth : std::optional<std::int64_t>(3);
    std::string out = fmt::format("{:>10}  {}  ({}, {:.2f} s{})\n",
                                  vantel::formatBytes(options.diskUsage ? result.totalUsage() : result.totalSize()),
                                  vantel::escapedForTerminal(target->path), vantel::entriesText(result.totalFilesScanned()),
                                  result.elapsed(),
                                  depthLimit ? ", scan limited to " + vantel::countOf(*depthLimit, "level") : "");
    printTree(out, view);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  if (const std::size_t notListed = result.notListedCount()) {
    vantel::flushStandardOutput();
    fmt::print(stderr, "vantel: {} not read ({}); marked !\n",
               vantel::countOf(static_cast<std::int64_t>(notListed), "folder"),
               importing     ? "when the map was made"
               : interrupted ? "interrupted"
               : depthLimit  ? "past --depth-limit or removed during the scan"
                             : "removed during the scan");
  }
  return vantel::reportScanProblems(*target, result.unreadableEntries(), interrupted);
}

vantel::CommandRegistration registration{"map", [](CLI::App& app, int& exitCode) {
  auto options = std::make_shared<MapOptions>();
  auto* command = app.add_subcommand(
      "map", "Disk map of a folder: a size tree of everything below it, each folder's own size included");
  command->footer(
      "Marks before a name, as ncdu shows them:\n"
      "  !  could not be read, or not read (interrupted, past --depth-limit, removed during the\n"
      "     scan); its size is ? when nothing of it was read\n"
      "  .  something below could not be read: the size is short of what is on disk\n"
      "  H  a file with several hard links (further links are counted once)\n"
      "  @  neither a file nor a folder: a symbolic link (never followed), a device, pipe or socket\n"
      "  <  cache folder left out (--exclude-caches)\n"
      "  >  on another file system (-x)\n"
      "  ^  kernel file system (/proc, /sys, ...), not read");
  command->add_option("PATH", options->path, "Folder to map (a link given here is followed)");
  command->add_option("--import", options->importFile,
                      "Show a map read from FILE (an ncdu export or this command's --json output; - for stdin) "
                      "instead of scanning")
      ->type_name("FILE");
  command->add_option("--max-depth", options->maxDepth,
                      "Levels shown below the folder, with full sizes (default 3 in the tree, all in JSON and export)")
      ->type_name("N");
  command->add_option("--show-depth", options->maxDepth, "Same as --max-depth")->group("");
  command->add_option("--depth-limit", options->depthLimit,
                      "Scan only N levels of folders, PATH being 1: deeper folders are not read and their sizes "
                      "are not counted (sizes are then lower than on disk; see --max-depth)")
      ->type_name("N");
  command->add_option("--top", options->top, "Largest entries shown per folder (default 10)")->type_name("N");
  command->add_flag("--disk-usage", options->diskUsage,
                    "Sort and print by bytes allocated on disk instead of logical size");
  command->add_flag("--bundles-as-leaves", options->bundlesAsLeaves,
                    "Show .app and .kext bundles as single entries (their sizes still count)");
  command->add_flag("--search-bundles", options->searchBundles, "Read bundles (the default)")->group("");
  command->add_flag("--json", options->json, "The whole tree as JSON on stdout");
  command->add_option("--export", options->exportFile, "Write the tree in ncdu's export format to FILE (- for stdout)")
      ->type_name("FILE");
  command->add_option("--html", options->htmlFile,
                      "Write the map as one self-contained HTML treemap to FILE (- for stdout); it opens offline "
                      "in any browser")
      ->type_name("FILE");
  options->walk.addOptions(*command);
  options->tuning.addOptions(*command);
  command->callback([options, &exitCode] { exitCode = runMap(*options); });
}};

}  // namespace
