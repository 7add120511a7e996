#include "vantelkit/platform/URL.h"

#include <uriparser/Uri.h>

#include <charconv>
#include <cstdint>
#include <memory>

namespace vantelkit {
namespace {

// uriparser's parse result, freed on every path out.
class ParsedUri {
 public:
  ParsedUri() = default;
  ~ParsedUri() {
    if (_parsed) uriFreeUriMembersA(&_uri);
  }
  ParsedUri(const ParsedUri&) = delete;
  ParsedUri& operator=(const ParsedUri&) = delete;

  // text must outlive this object: uriparser points into it.
  bool parse(std::string_view text) {
    const char* errorPos = nullptr;
    _parsed = uriParseSingleUriExA(&_uri, text.data(), text.data() + text.size(), &errorPos) == URI_SUCCESS;
    return _parsed;
  }
  UriUriA* get() { return &_uri; }

 private:
  UriUriA _uri{};
  bool _parsed = false;
};

bool isUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isValidUTF8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    std::uint32_t code;
    if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    const std::uint32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// Decodes "%XX" escapes; none for a malformed escape.
std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

std::string decodedOrAsWritten(std::string_view text) {
  auto decoded = removingPercentEncoding(text);
  return decoded ? std::move(*decoded) : std::string(text);
}

// Characters a path may hold besides the unreserved ones.
constexpr std::string_view kPathAllowed = "!$&'()*+,;=:@/";
// Characters a query name or value may hold unencoded: those of a query, without the
// separators "&" "=" and without "+", which many servers read as a space.
constexpr std::string_view kQueryItemAllowed = "!$'()*,;:@/?";

std::vector<URLQueryItem> splitQuery(std::string_view query) {
  std::vector<URLQueryItem> items;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    const std::string_view piece = query.substr(start, end - start);
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      items.push_back({std::string(piece), std::nullopt});
    } else {
      items.push_back({std::string(piece.substr(0, equals)), std::string(piece.substr(equals + 1))});
    }
    if (end == query.size()) break;
    start = end + 1;
  }
  return items;
}

std::string joinQuery(const std::vector<URLQueryItem>& items) {
  std::string query;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) query.push_back('&');
    query += items[i].name;
    if (items[i].value) {
      query.push_back('=');
      query += *items[i].value;
    }
  }
  return query;
}

}  // namespace

std::optional<std::string> removingPercentEncoding(std::string_view text) {
  auto decoded = percentDecode(text);
  if (!decoded || !isValidUTF8(*decoded)) return std::nullopt;
  return decoded;
}

std::string addingPercentEncoding(std::string_view text, std::string_view allowed) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c) || (c != 0 && allowed.find(ch) != std::string_view::npos)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// URLComponents

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
  if (text.empty()) return std::nullopt;
  {
    ParsedUri uri;
    if (!uri.parse(text)) return std::nullopt;
  }
  // The text is a valid URI reference, so the split of RFC 3986 appendix B is exact:
  // ^(([^:/?#]+):)?(//([^/?#]*))?([^?#]*)(\?([^#]*))?(#(.*))?
  URLComponents parts;
  std::string_view rest = text;
  const std::size_t schemeEnd = rest.find_first_of(":/?#");
  if (schemeEnd != std::string_view::npos && schemeEnd > 0 && rest[schemeEnd] == ':') {
    parts.scheme = std::string(rest.substr(0, schemeEnd));
    rest.remove_prefix(schemeEnd + 1);
  }
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const std::size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
    std::string_view authority = rest.substr(0, authorityEnd);
    rest.remove_prefix(authorityEnd);
    const std::size_t at = authority.find('@');
    if (at != std::string_view::npos) {
      parts.userInfo = std::string(authority.substr(0, at));
      authority.remove_prefix(at + 1);
    }
    std::size_t hostEnd;
    if (authority.starts_with('[')) {
      hostEnd = std::min(authority.find(']'), authority.size() - 1) + 1;
    } else {
      hostEnd = std::min(authority.find(':'), authority.size());
    }
    parts.host = std::string(authority.substr(0, hostEnd));
    if (hostEnd < authority.size() && authority[hostEnd] == ':') {
      parts.port = std::string(authority.substr(hostEnd + 1));
    }
  }
  const std::size_t pathEnd = std::min(rest.find_first_of("?#"), rest.size());
  parts.percentEncodedPath = std::string(rest.substr(0, pathEnd));
  rest.remove_prefix(pathEnd);
  if (rest.starts_with('?')) {
    rest.remove_prefix(1);
    const std::size_t queryEnd = std::min(rest.find('#'), rest.size());
    parts.percentEncodedQuery = std::string(rest.substr(0, queryEnd));
    rest.remove_prefix(queryEnd);
  }
  if (rest.starts_with('#')) parts.percentEncodedFragment = std::string(rest.substr(1));
  return parts;
}

URLComponents URLComponents::from(const URL& url) { return url.components(); }

std::string URLComponents::path() const { return decodedOrAsWritten(percentEncodedPath); }

void URLComponents::setPath(std::string_view path) { percentEncodedPath = addingPercentEncoding(path, kPathAllowed); }

std::optional<std::vector<URLQueryItem>> URLComponents::percentEncodedQueryItems() const {
  if (!percentEncodedQuery) return std::nullopt;
  if (percentEncodedQuery->empty()) return std::vector<URLQueryItem>{};
  return splitQuery(*percentEncodedQuery);
}

std::optional<std::vector<URLQueryItem>> URLComponents::queryItems() const {
  auto items = percentEncodedQueryItems();
  if (!items) return std::nullopt;
  for (auto& item : *items) {
    item.name = decodedOrAsWritten(item.name);
    if (item.value) item.value = decodedOrAsWritten(*item.value);
  }
  return items;
}

void URLComponents::setQueryItems(const std::optional<std::vector<URLQueryItem>>& items) {
  if (!items) {
    percentEncodedQuery.reset();
    return;
  }
  std::vector<URLQueryItem> encoded;
  encoded.reserve(items->size());
  for (const auto& item : *items) {
    encoded.push_back({addingPercentEncoding(item.name, kQueryItemAllowed),
                       item.value ? std::optional(addingPercentEncoding(*item.value, kQueryItemAllowed))
                                  : std::nullopt});
  }
  percentEncodedQuery = joinQuery(encoded);
}

void URLComponents::setPercentEncodedQueryItems(const std::optional<std::vector<URLQueryItem>>& items) {
  if (!items) {
    percentEncodedQuery.reset();
  } else {
    percentEncodedQuery = joinQuery(*items);
  }
}

std::optional<std::string> URLComponents::fragment() const {
  if (!percentEncodedFragment) return std::nullopt;
  return decodedOrAsWritten(*percentEncodedFragment);
}

std::optional<std::string> URLComponents::string() const {
  std::string text;
  if (scheme) {
    text += *scheme;
    text.push_back(':');
  }
  const bool hasAuthority = host || userInfo || port;
  if (hasAuthority) {
    text += "//";
    if (userInfo) {
      text += *userInfo;
      text.push_back('@');
    }
    if (host) text += *host;
    if (port) {
      text.push_back(':');
      text += *port;
    }
  }
  text += percentEncodedPath;
  if (percentEncodedQuery) {
    text.push_back('?');
    text += *percentEncodedQuery;
  }
  if (percentEncodedFragment) {
    text.push_back('#');
    text += *percentEncodedFragment;
  }
  // The parts make a URL only when its text reads back as the same parts: this rejects a
  // path that would swallow the authority, a first segment read as a scheme, and the like.
  auto reparsed = parse(text);
  if (!reparsed) return std::nullopt;
  URLComponents expected = *this;
  if (hasAuthority && !expected.host) expected.host = std::string();
  if (*reparsed != expected) return std::nullopt;
  return text;
}

std::optional<URL> URLComponents::url() const {
  auto text = string();
  if (!text) return std::nullopt;
  return URL::parse(*text);
}

// ---------------------------------------------------------------------------------------------
// URL

std::optional<URL> URL::parse(std::string_view text) {
  auto components = URLComponents::parse(text);
  if (!components) return std::nullopt;
  return URL(std::string(text), std::move(*components));
}

std::optional<URL> URL::fileURL(std::string_view path, bool isDirectory) {
  if (!path.starts_with('/') || path.find('\0') != std::string_view::npos) return std::nullopt;
  std::string text = "file://" + addingPercentEncoding(path, kPathAllowed);
  if (isDirectory && !path.ends_with('/')) text.push_back('/');
  return parse(text);
}

std::optional<std::string> URL::host() const {
  if (!_components.host || _components.host->empty()) return std::nullopt;
  return _components.host;
}

std::optional<int> URL::port() const {
  if (!_components.port || _components.port->empty()) return std::nullopt;
  int value = 0;
  const auto& digits = *_components.port;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::vector<std::string> URL::pathComponents() const {
  const std::string decoded = path();
  std::vector<std::string> components;
  std::string_view rest = decoded;
  if (rest.starts_with('/')) components.emplace_back("/");
  while (!rest.empty()) {
    const std::size_t slash = std::min(rest.find('/'), rest.size());
    if (slash > 0) components.emplace_back(rest.substr(0, slash));
    rest.remove_prefix(std::min(slash + 1, rest.size()));
  }
  return components;
}

std::string URL::lastPathComponent() const {
  auto components = pathComponents();
  return components.empty() ? std::string() : std::move(components.back());
}

bool URL::isFileURL() const {
  if (!_components.scheme || _components.scheme->size() != 4) return false;
  const std::string& s = *_components.scheme;
  static constexpr std::string_view kFile = "file";
  for (std::size_t i = 0; i < 4; ++i) {
    if ((s[i] | 0x20) != kFile[i]) return false;
  }
  return true;
}

std::optional<std::string> URL::filePath() const {
  if (!isFileURL()) return std::nullopt;
  // File names are bytes, not necessarily UTF-8, so only the escapes are checked here.
  auto decoded = percentDecode(_components.percentEncodedPath);
  if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
  if (decoded->empty()) return std::string("/");
  return decoded;
}

std::optional<URL> URL::resolved(const URL& base) const {
  if (!base.scheme()) return std::nullopt;
  ParsedUri reference;
  ParsedUri baseUri;
  if (!reference.parse(_text) || !baseUri.parse(base._text)) return std::nullopt;
  UriUriA result{};
  if (uriAddBaseUriA(&result, reference.get(), baseUri.get()) != URI_SUCCESS) {
    uriFreeUriMembersA(&result);
    return std::nullopt;
  }
  int required = 0;
  std::optional<URL> url;
  if (uriToStringCharsRequiredA(&result, &required) == URI_SUCCESS && required >= 0) {
    std::string text(static_cast<std::size_t>(required) + 1, '\0');
    int written = 0;
    if (uriToStringA(text.data(), &result, required + 1, &written) == URI_SUCCESS) {
      text.resize(static_cast<std::size_t>(std::max(written - 1, 0)));
      url = parse(text);
    }
  }
  uriFreeUriMembersA(&result);
  return url;
}

}  // namespace vantelkit
