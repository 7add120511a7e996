#include "vantelkit/platform/URL.h"

#include <gtest/gtest.h>

#include <string>

namespace vantelkit {
namespace {

using Items = std::vector<URLQueryItem>;

TEST(URLTest, SplitsAnAbsoluteURLKeepingTheCaseOfEveryPart) {
  auto url = URL::parse("VantelFile://user@Clean:8080/Down%20loads//x/?a=1#Frag/Part");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->scheme(), "VantelFile");
  EXPECT_EQ(url->host(), "Clean");
  EXPECT_EQ(url->port(), 8080);
  EXPECT_EQ(url->components().userInfo, "user");
  EXPECT_EQ(url->path(), "/Down loads//x/");
  EXPECT_EQ(url->percentEncodedPath(), "/Down%20loads//x/");
  EXPECT_EQ(url->pathComponents(), (std::vector<std::string>{"/", "Down loads", "x"}));
  EXPECT_EQ(url->lastPathComponent(), "x");
  EXPECT_EQ(url->query(), "a=1");
  EXPECT_EQ(url->fragment(), "Frag/Part");
  EXPECT_FALSE(url->isRelative());
  EXPECT_EQ(url->absoluteString(), "VantelFile://user@Clean:8080/Down%20loads//x/?a=1#Frag/Part");
}

TEST(URLTest, RelativeReferencesHaveNeitherSchemeNorHost) {
  auto fragmentOnly = URL::parse("#/clean");
  ASSERT_TRUE(fragmentOnly);
  EXPECT_TRUE(fragmentOnly->isRelative());
  EXPECT_EQ(fragmentOnly->path(), "");
  EXPECT_TRUE(fragmentOnly->pathComponents().empty());
  EXPECT_EQ(fragmentOnly->fragment(), "/clean");

  auto relativePath = URL::parse("clean/downloads");
  ASSERT_TRUE(relativePath);
  EXPECT_TRUE(relativePath->isRelative());
  EXPECT_EQ(relativePath->pathComponents(), (std::vector<std::string>{"clean", "downloads"}));
  EXPECT_FALSE(relativePath->fragment());

  // A scheme without a host is not relative; an empty authority is no host.
  EXPECT_FALSE(URL::parse("mailto:someone")->isRelative());
  EXPECT_FALSE(URL::parse("file:///a")->host());
  EXPECT_EQ(URL::parse("file:///a")->components().host, "");
  // An empty fragment is still a fragment.
  EXPECT_EQ(URL::parse("clean#")->fragment(), "");
}

TEST(URLTest, TextThatIsNoURIReferenceGivesNoURL) {
  for (const std::string& text : std::vector<std::string>{"", "a b", "http://exa mple.com/", "%zz", "/a%4", "http://[::1/", "http://h/\x01",
                                 "ht tp://h", "a#b#c", "http://h:80x/", std::string("a\0b", 3), "\xc3\xa9"}) {
    EXPECT_FALSE(URL::parse(text)) << text;
    EXPECT_FALSE(URLComponents::parse(text)) << text;
  }
  auto ipv6 = URL::parse("http://[::1]:8080/x");
  ASSERT_TRUE(ipv6);
  EXPECT_EQ(ipv6->host(), "[::1]");
  EXPECT_EQ(ipv6->port(), 8080);
  EXPECT_FALSE(URL::parse("http://h:99999999999/")->port());
}

TEST(URLTest, QueryItemsKeepOrderAbsentValuesAndPlusSigns) {
  auto url = URL::parse("https://h/p?b=2&a&c=&d=x+y&e=%20%26&b=3&&f=g=h");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->queryItems(), (Items{{"b", "2"},
                                      {"a", std::nullopt},
                                      {"c", ""},
                                      {"d", "x+y"},
                                      {"e", " &"},
                                      {"b", "3"},
                                      {"", std::nullopt},
                                      {"f", "g=h"}}));
  EXPECT_EQ(URL::parse("https://h/p?")->queryItems(), Items{});
  EXPECT_FALSE(URL::parse("https://h/p")->queryItems());
  EXPECT_FALSE(URL::parse("https://h/p#?a=1")->queryItems());
}

TEST(URLTest, PercentDecodingRejectsMalformedEscapesAndNonUTF8) {
  EXPECT_EQ(removingPercentEncoding("%41%c3%A9+%2F"), "A\xc3\xa9+/");
  EXPECT_EQ(removingPercentEncoding(""), "");
  for (const char* bad : {"%", "%4", "%G1", "abc%", "%FF", "%C0%80", "%ED%A0%80", "%F4%90%80%80", "%C3"}) {
    EXPECT_FALSE(removingPercentEncoding(bad)) << bad;
  }
  EXPECT_EQ(addingPercentEncoding("a b/c\xc3\xa9", "/"), "a%20b/c%C3%A9");
  EXPECT_EQ(addingPercentEncoding(std::string("\0", 1), std::string("\0", 1)), "%00");
  // A path that does not decode reads as written.
  EXPECT_EQ(URL::parse("/a%FFb")->path(), "/a%FFb");
}

TEST(URLTest, FileURLsRoundTripPathsWithAnyBytes) {
  const std::string path = "/tmp/a b/%25/\xc3\xbc/#?/\xff";
  auto url = URL::fileURL(path);
  ASSERT_TRUE(url);
  EXPECT_TRUE(url->isFileURL());
  EXPECT_EQ(url->absoluteString(), "file:///tmp/a%20b/%2525/%C3%BC/%23%3F/%FF");
  EXPECT_EQ(url->filePath(), path);
  EXPECT_EQ(URL::fileURL("/dir", true)->absoluteString(), "file:///dir/");
  EXPECT_EQ(URL::fileURL("/dir/", true)->absoluteString(), "file:///dir/");
  EXPECT_EQ(URL::fileURL("//server")->filePath(), "//server");
  EXPECT_EQ(URL::fileURL("/")->filePath(), "/");
  EXPECT_FALSE(URL::fileURL("relative/path"));
  EXPECT_FALSE(URL::fileURL(""));
  EXPECT_FALSE(URL::fileURL(std::string("/a\0b", 4)));
  EXPECT_FALSE(URL::parse("https://h/a")->filePath());
  EXPECT_FALSE(URL::parse("file:///a%00b")->filePath());
  EXPECT_TRUE(URL::parse("FILE:///a")->isFileURL());
}

TEST(URLTest, ComponentsReassembleAfterAChange) {
  auto components = URLComponents::parse("vantelfile://host/file.zip?id=7&x=a%2Bb#top");
  ASSERT_TRUE(components);
  components->scheme = "https";
  EXPECT_EQ(components->string(), "https://host/file.zip?id=7&x=a%2Bb#top");

  components->setQueryItems(Items{{"name", "a&b=c+d#e f"}, {"flag", std::nullopt}});
  ASSERT_TRUE(components->url());
  EXPECT_EQ(components->url()->queryItems(), (Items{{"name", "a&b=c+d#e f"}, {"flag", std::nullopt}}));
  components->setQueryItems(std::nullopt);
  components->percentEncodedFragment.reset();
  EXPECT_EQ(components->string(), "https://host/file.zip");
  components->setQueryItems(Items{});
  EXPECT_EQ(components->string(), "https://host/file.zip?");

  components->setPath("/a b/c");
  EXPECT_EQ(components->url()->path(), "/a b/c");
}

TEST(URLTest, ComponentsThatMakeNoURLGiveNone) {
  URLComponents components;
  components.host = "host";
  components.percentEncodedPath = "no-leading-slash";
  EXPECT_FALSE(components.string());
  EXPECT_FALSE(components.url());

  URLComponents noHost;
  noHost.percentEncodedPath = "//looks-like-a-host";
  EXPECT_FALSE(noHost.string());

  URLComponents colon;
  colon.percentEncodedPath = "a:b";  // would read back as a scheme
  EXPECT_FALSE(colon.string());

  URLComponents badScheme;
  badScheme.scheme = "1http";
  badScheme.host = "h";
  EXPECT_FALSE(badScheme.string());

  URLComponents badPath;
  badPath.scheme = "https";
  badPath.host = "h";
  badPath.percentEncodedPath = "/a b";
  EXPECT_FALSE(badPath.url());
}

TEST(URLTest, ResolvesReferencesAgainstABase) {
  auto base = URL::parse("https://h/a/b?q#f");
  ASSERT_TRUE(base);
  EXPECT_EQ(URL::parse("clean")->resolved(*base)->absoluteString(), "https://h/a/clean");
  EXPECT_EQ(URL::parse("#/clean")->resolved(*base)->absoluteString(), "https://h/a/b?q#/clean");
  EXPECT_EQ(URL::parse("../../../x")->resolved(*base)->absoluteString(), "https://h/x");
  EXPECT_FALSE(URL::parse("clean")->resolved(*URL::parse("relative")));
}

TEST(URLTest, EqualityAndHashFollowTheText) {
  EXPECT_EQ(*URL::parse("https://h/a"), *URL::parse("https://h/a"));
  EXPECT_NE(*URL::parse("https://h/a"), *URL::parse("https://H/a"));
  EXPECT_EQ(std::hash<URL>()(*URL::parse("x")), std::hash<URL>()(*URL::parse("x")));
}

}  // namespace
}  // namespace vantelkit
