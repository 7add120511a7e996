// URLs and URL components: an RFC 3986 URI reference held as its text and its parts,
// absolute ("https://host/a?b#c") or relative ("#/clean", "clean"). Parsing untrusted text
// never fails loudly: text that is not a URI reference gives no URL.
// Thread safety: value types; one owner at a time, const access from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantelkit {

class URL;

// One item of a query: "name=value", or "name" alone (no value). "+" is kept as it is.
struct URLQueryItem {
  std::string name;
  std::optional<std::string> value;

  bool operator==(const URLQueryItem&) const = default;
};

// The parts of a URL, each as written (percent-encoded), for taking a URL apart, changing a
// part and putting it back together. Decoded access goes through the functions below.
struct URLComponents {
  // Text before the first ":" (case kept).
  std::optional<std::string> scheme;
  // The authority's user information, without the "@".
  std::optional<std::string> userInfo;
  // Present whenever the URL has an authority ("//"), possibly empty ("file:///a" has host "").
  // An IP literal keeps its brackets.
  std::optional<std::string> host;
  // The port's digits as written; may be empty ("host:").
  std::optional<std::string> port;
  std::string percentEncodedPath;
  // Text after "?" up to "#", when there is a "?".
  std::optional<std::string> percentEncodedQuery;
  // Text after the first "#", when there is one.
  std::optional<std::string> percentEncodedFragment;

  // Splits text into its parts; none when it is no valid URI reference (or is empty).
  static std::optional<URLComponents> parse(std::string_view text);
  static URLComponents from(const URL& url);

  // The path with percent-encoding removed (as written when that fails).
  std::string path() const;
  // Sets the path from unencoded text, encoding what a path may not hold.
  void setPath(std::string_view path);

  // The query split at "&" and each item at its first "=": none without a query, an empty
  // list for an empty query. Names and values are percent-decoded (as written when that fails).
  std::optional<std::vector<URLQueryItem>> queryItems() const;
  // The same items without decoding.
  std::optional<std::vector<URLQueryItem>> percentEncodedQueryItems() const;
  // Sets the query from unencoded items; "&", "=", "#" and "+" in names and values are
  // encoded so that the items read back unchanged. None removes the query ("?" included).
  void setQueryItems(const std::optional<std::vector<URLQueryItem>>& items);
  // Sets the query from items already encoded, joining them as they are.
  void setPercentEncodedQueryItems(const std::optional<std::vector<URLQueryItem>>& items);

  // The fragment with percent-encoding removed (as written when that fails).
  std::optional<std::string> fragment() const;

  // The text these parts make: scheme ":" "//" authority path "?" query "#" fragment.
  // None when the parts do not make a valid URI reference (a path without leading "/"
  // after a host, a path starting "//" without a host, a bad scheme, ...).
  std::optional<std::string> string() const;
  std::optional<URL> url() const;

  bool operator==(const URLComponents&) const = default;
};

class URL {
 public:
  // The URL that text spells; none when text is no valid URI reference or is empty.
  static std::optional<URL> parse(std::string_view text);
  // A "file" URL for an absolute path ("/a b" gives "file:///a%20b"); a trailing "/" is
  // added when isDirectory is true. None for a relative path or a path holding a NUL.
  static std::optional<URL> fileURL(std::string_view path, bool isDirectory = false);

  // The full text of the URL, exactly as parsed or assembled.
  const std::string& absoluteString() const { return _text; }
  const URLComponents& components() const { return _components; }

  const std::optional<std::string>& scheme() const { return _components.scheme; }
  // The host; none when the URL has no authority or the host is empty.
  std::optional<std::string> host() const;
  std::optional<int> port() const;
  // The path with percent-encoding removed (as written when that fails).
  std::string path() const { return _components.path(); }
  const std::string& percentEncodedPath() const { return _components.percentEncodedPath; }
  // The decoded path split at "/": a leading "/" is its own first component, empty
  // components are dropped ("/a//b/" gives "/", "a", "b"). The host is never a component.
  std::vector<std::string> pathComponents() const;
  // The last of pathComponents(), or "" for an empty path.
  std::string lastPathComponent() const;
  // The query as written, without "?".
  const std::optional<std::string>& query() const { return _components.percentEncodedQuery; }
  std::optional<std::vector<URLQueryItem>> queryItems() const { return _components.queryItems(); }
  // The fragment as written, without "#".
  const std::optional<std::string>& fragment() const { return _components.percentEncodedFragment; }

  // True when the URL has neither a host nor a scheme ("#/clean", "clean", "/a").
  bool isRelative() const { return !_components.scheme && !host(); }
  // True for the scheme "file" (in any case).
  bool isFileURL() const;
  // The decoded path of a file URL; none for other URLs or a path that does not decode.
  std::optional<std::string> filePath() const;

  // This URL as a reference resolved against base (RFC 3986, section 5); none when base is
  // not absolute or the result is not a valid URL.
  std::optional<URL> resolved(const URL& base) const;

  bool operator==(const URL& other) const { return _text == other._text; }

 private:
  URL(std::string text, URLComponents components) : _text(std::move(text)), _components(std::move(components)) {}
  std::string _text;
  URLComponents _components;
};

// Decodes every "%XX" escape. None when an escape is malformed or the result is not UTF-8.
std::optional<std::string> removingPercentEncoding(std::string_view text);
// Encodes every byte outside ALPHA, DIGIT, "-._~" and the characters of allowed.
std::string addingPercentEncoding(std::string_view text, std::string_view allowed);

}  // namespace vantelkit

template <>
struct std::hash<vantelkit::URL> {
  std::size_t operator()(const vantelkit::URL& url) const noexcept {
    return std::hash<std::string>()(url.absoluteString());
  }
};
