// Files the application can download: the https address to fetch and the name to save the
// file under, read from the application's own "vantelfile" links. The download itself is the
// host's business. Thread safety: value types; one owner at a time, const access from any thread.
#pragma once

#include <optional>
#include <string>

#include "vantelkit/platform/URL.h"

namespace vantelkit {

class DownloadableFile {
 public:
  virtual ~DownloadableFile() = default;
  virtual std::string filename() const = 0;
  virtual std::optional<URL> url() const = 0;
};

class GenericDownloadableFile final : public DownloadableFile {
 public:
  GenericDownloadableFile(std::string filename, std::optional<URL> url)
      : _filename(std::move(filename)), _url(std::move(url)) {}

  // Reads a link "vantelfile://host/path?query": the file is fetched from the same address over
  // https. A query item "title" with a value names the file (and leaves the query); otherwise
  // the last path component does. The name is made safe to save under: "/" and NUL become "_",
  // and "." or ".." becomes "_". None for any scheme other than exactly "vantelfile".
  static std::optional<GenericDownloadableFile> fromVantelFileURL(const URL& link);

  std::string filename() const override { return _filename; }
  void setFilename(std::string filename) { _filename = std::move(filename); }
  std::optional<URL> url() const override { return _url; }
  void setUrl(std::optional<URL> url) { _url = std::move(url); }

  bool operator==(const GenericDownloadableFile& other) const {
    return _filename == other._filename && _url == other._url;
  }

 private:
  std::string _filename;
  std::optional<URL> _url;
};

}  // namespace vantelkit
