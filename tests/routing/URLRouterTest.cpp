#include "vantelkit/routing/URLRouter.h"

#include <gtest/gtest.h>

#include "vantelkit/routing/RouteURLNormalizer.h"
#include "vantelkit/service/URLScheme.h"
#include "vantelkit/service/VantelAPI.h"

namespace vantelkit {
namespace {

using Variables = URLRouteVariables;

URL url(std::string_view text) {
  auto parsed = URL::parse(text);
  if (!parsed) ADD_FAILURE() << "no URL: " << text;
  return parsed ? *parsed : *URL::parse("invalid:");
}

// The variables the pattern captures from the URL, or none when it does not match.
std::optional<Variables> match(std::string_view pattern, std::string_view text,
                               std::string_view scheme = URLRouterWildcard) {
  const URLRouteResult result = URLPathRoute(scheme, pattern)(url(text));
  if (!result.isMatched()) {
    EXPECT_EQ(result.value(), URLRouteResult::Case::failed);
    return std::nullopt;
  }
  return *result.variables();
}

TEST(URLRouterTest, AVariableCapturesExactlyOneComponent) {
  EXPECT_EQ(match("clean/:group", "https://h/clean/downloads"), (Variables{{"group", "downloads"}}));
  EXPECT_FALSE(match("clean/:group", "https://h/clean"));
  EXPECT_FALSE(match("clean/:group", "https://h/clean/downloads/x"));
  EXPECT_FALSE(match("clean/:group", "https://h/Clean/downloads"));
  // Leading, trailing and doubled slashes of pattern and URL do not count.
  EXPECT_EQ(match("/clean//:group/", "https://h//clean/downloads/"), (Variables{{"group", "downloads"}}));
  // The path is matched decoded.
  EXPECT_EQ(match("clean/:group", "https://h/clean/my%20files"), (Variables{{"group", "my files"}}));
}

TEST(URLRouterTest, AWildcardAcceptsAnythingThatFollows) {
  for (const char* text : {"https://h/clean", "https://h/clean/a", "https://h/clean/a/b"}) {
    EXPECT_EQ(match("clean/*", text), Variables{}) << text;
  }
  EXPECT_FALSE(match("clean/*", "https://h/other/a"));
  // After a wildcard, literal mismatches pass until a literal match or a variable clears the flag.
  EXPECT_EQ(match("*/x", "https://h/a/b/c"), Variables{});
  EXPECT_EQ(match("*/x/y", "https://h/a/x/y"), Variables{});
  EXPECT_FALSE(match("*/x/y/z", "https://h/a/x/q/r"));
  EXPECT_FALSE(match("*/:v/y", "https://h/a/b/c/d"));
  EXPECT_EQ(match("*/:v/y", "https://h/a/b/y"), (Variables{{"v", "b"}}));
}

TEST(URLRouterTest, AnOptionalVariableMayBeMissingAtTheEnd) {
  EXPECT_EQ(match("a/?opt", "https://h/a"), Variables{});
  EXPECT_EQ(match("a/?opt", "https://h/a/x"), (Variables{{"opt", "x"}}));
  EXPECT_FALSE(match("a/?opt", "https://h/a/x/y"));
  EXPECT_EQ(match("a/?x/*/?y", "https://h/a"), Variables{});
  EXPECT_FALSE(match("a/?x/b", "https://h/a"));
  // A later capture of the same name replaces the earlier one.
  EXPECT_EQ(match(":v/:v", "https://h/one/two"), (Variables{{"v", "two"}}));
}

TEST(URLRouterTest, TheEmptyPatternMatchesOnlyAnEmptyPath) {
  EXPECT_EQ(match("", "https://h/"), Variables{});
  EXPECT_EQ(match("", "https://h"), Variables{});
  EXPECT_EQ(match("/", "https://h//"), Variables{});
  EXPECT_FALSE(match("", "https://h/a"));
  EXPECT_FALSE(match("a", "https://h/"));
}

TEST(URLRouterTest, AFragmentPatternMatchesAnyPathAndRequiresAFragment) {
  EXPECT_EQ(match("#settings/:tab", "https://h/any/path#settings/general"), (Variables{{"tab", "general"}}));
  EXPECT_EQ(match("#settings/:tab", "https://h#/settings/general/"), (Variables{{"tab", "general"}}));
  EXPECT_FALSE(match("#settings/:tab", "https://h/any/path"));
  EXPECT_FALSE(match("#settings/:tab", "https://h/any/path#settings"));
  // A fragment variable replaces a path variable of the same name; text after a second "#" is ignored.
  EXPECT_EQ(match("p/:id#:id#ignored", "https://h/p/path#frag"), (Variables{{"id", "frag"}}));
  EXPECT_EQ(match("p/:a#q/:b", "https://h/p/1#q/2"), (Variables{{"a", "1"}, {"b", "2"}}));
  EXPECT_FALSE(match("p#q", "https://h/x#q"));
  EXPECT_EQ(match("#", "https://h/x/y#"), Variables{});
}

TEST(URLRouterTest, TheHostIsNeverAPathComponent) {
  EXPECT_EQ(match("downloads", "vantelfile://clean/downloads", URLScheme::vantelFile), Variables{});
  EXPECT_FALSE(match("clean/downloads", "vantelfile://clean/downloads", URLScheme::vantelFile));
}

TEST(URLRouterTest, ASchemeRouteNeedsExactlyThatScheme) {
  EXPECT_TRUE(match("a", "vantelfile://h/a", "vantelfile"));
  EXPECT_FALSE(match("a", "https://h/a", "vantelfile"));
  EXPECT_FALSE(match("a", "VantelFile://h/a", "vantelfile"));
  EXPECT_FALSE(match("a", "/a", "vantelfile"));
  EXPECT_TRUE(match("a", "/a"));
}

TEST(URLRouterTest, TheLastRegistrationThatMatchesWins) {
  URLRouter<std::string> router;
  EXPECT_FALSE(router.match(url("https://h/a")));
  router.add("a/:x", std::string("first"));
  router.add("a/:y", [](const Variables& variables) { return "second:" + variables.at("y"); });
  router.add("vantelfile", "a/*", std::string("scheme"));
  router.add(URLPathRoute("*", "b"), std::string("route"));

  auto result = router.match(url("https://h/a/1"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->first, "second:1");
  EXPECT_EQ(result->second, (Variables{{"y", "1"}}));
  EXPECT_EQ(router.match(url("vantelfile://h/a/1"))->first, "scheme");
  EXPECT_EQ(router.match(url("b"))->first, "route");
  EXPECT_FALSE(router.match(url("https://h/c")));
  EXPECT_EQ(router.routes.size(), 4u);

  router.add([](const URL&) { return URLRouteResult::matched({{"k", "v"}}); }, std::string("everything"));
  EXPECT_EQ(router.match(url("https://h/a/1"))->first, "everything");
}

class RouteURLNormalizerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VantelAPI::setEnvironment(VantelAPI::Environment::custom);
    VantelAPI::Environment::setCustomURL(url("https://custom.example.net"));
  }
  void TearDown() override {
    VantelAPI::setEnvironment(_environment);
    VantelAPI::Environment::setCustomURL(_customURL);
  }

  std::string normalized(std::string_view text) { return RouteURLNormalizer::normalize(url(text)).absoluteString(); }

 private:
  VantelAPI::Environment _environment = VantelAPI::environment();
  URL _customURL = VantelAPI::Environment::customURL();
};

TEST_F(RouteURLNormalizerTest, RelativeLinksGoUnderTheCurrentBaseURL) {
  EXPECT_EQ(normalized("#/clean"), "https://custom.example.net/#/clean");
  EXPECT_EQ(normalized("clean"), "https://custom.example.net/clean");
  EXPECT_EQ(normalized("/clean/x"), "https://custom.example.net/clean/x");
  // Query and fragment of a relative path are dropped.
  EXPECT_EQ(normalized("clean?a=1"), "https://custom.example.net/clean");
  EXPECT_EQ(normalized("clean#/x"), "https://custom.example.net/#/x");

  VantelAPI::Environment::setCustomURL(url("https://other.example.net"));
  EXPECT_EQ(normalized("#/clean"), "https://other.example.net/#/clean");
  VantelAPI::setEnvironment(VantelAPI::Environment::live);
  EXPECT_EQ(normalized("clean"), VantelAPI::Environment(VantelAPI::Environment::live).baseURL().absoluteString() +
                                     "/clean");
}

TEST_F(RouteURLNormalizerTest, DecodesAndDropsAboutBlank) {
  EXPECT_EQ(normalized("vantelfile://clean/%64ownloads"), "vantelfile://clean/downloads");
  EXPECT_EQ(normalized("about:blank#/clean"), "https://custom.example.net/#/clean");
  EXPECT_EQ(normalized("https://h/about:blank/x"), "https://h//x");
  // A link that no longer parses once decoded stays as it was.
  EXPECT_EQ(normalized("https://h/a%20b"), "https://h/a%20b");
  EXPECT_EQ(normalized("https://h/a%FF"), "https://h/a%FF");
  // Hosts and schemes stay.
  EXPECT_EQ(normalized("https://h/a#frag"), "https://h/a#frag");
  EXPECT_EQ(normalized("mailto:x"), "mailto:x");
  EXPECT_EQ(normalized("vantelfile:/downloads"), "vantelfile:/downloads");
}

TEST_F(RouteURLNormalizerTest, ANormalisedFragmentLinkMatchesItsFragmentRoute) {
  URLRouter<int> router;
  router.add("#clean/:group", 1);
  const URL normal = RouteURLNormalizer::normalize(url("#/clean/logs"));
  auto result = router.match(normal);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->second, (Variables{{"group", "logs"}}));
}

}  // namespace
}  // namespace vantelkit
