#include "vantelkit/service/VantelAPI.h"

#include <gtest/gtest.h>

namespace vantelkit {
namespace {

using Environment = VantelAPI::Environment;

class VantelAPITest : public ::testing::Test {
 protected:
  void TearDown() override {
    VantelAPI::setEnvironment(_environment);
    Environment::setCustomURL(_customURL);
    Environment::setCustomSocketURL(_customSocketURL);
  }

 private:
  Environment _environment = VantelAPI::environment();
  URL _customURL = Environment::customURL();
  URL _customSocketURL = Environment::customSocketURL();
};

TEST_F(VantelAPITest, EnvironmentsReadFromTheirRawValuesOnly) {
  std::vector<std::string_view> raw;
  for (const auto environment : Environment::allCases()) {
    raw.push_back(Environment(environment).rawValue());
    EXPECT_EQ(Environment::fromRawValue(Environment(environment).rawValue()), Environment(environment));
  }
  EXPECT_EQ(raw, (std::vector<std::string_view>{"dev", "staging", "live", "custom"}));
  EXPECT_EQ(Environment::fromRawValue("live"), Environment(Environment::live));
  for (const char* other : {"production", "Live", "", "dev "}) EXPECT_FALSE(Environment::fromRawValue(other)) << other;
}

TEST_F(VantelAPITest, BaseURLsAreHttpsAndTheSocketURLIsWss) {
  for (const auto environment : Environment::allCases()) {
    const URL base = Environment(environment).baseURL();
    EXPECT_EQ(base.scheme(), "https") << base.absoluteString();
    EXPECT_TRUE(base.host()) << base.absoluteString();
  }
  EXPECT_EQ(Environment::customSocketURL().scheme(), "wss");
  EXPECT_EQ(VantelAPI::environment(), Environment(Environment::dev));
  EXPECT_EQ(VantelAPI::baseURL(), Environment(Environment::dev).baseURL());
}

TEST_F(VantelAPITest, ChangingTheCustomURLRedirectsTheCustomEnvironmentAtOnce) {
  VantelAPI::setEnvironment(Environment::custom);
  const URL changed = *URL::parse("https://changed.example.org/api");
  Environment::setCustomURL(changed);
  EXPECT_EQ(VantelAPI::baseURL(), changed);
  VantelAPI::setEnvironment(Environment::live);
  EXPECT_EQ(VantelAPI::baseURL(), Environment(Environment::live).baseURL());
  EXPECT_NE(VantelAPI::baseURL(), changed);
}

TEST(APIErrorTest, CodesReadFromRawValuesAndErrorsCompareFieldByField) {
  EXPECT_EQ(APIError::Code::fromRawValue("invalid-json"), APIError::Code(APIError::Code::invalidJSON));
  EXPECT_FALSE(APIError::Code::fromRawValue("invalidJSON"));
  EXPECT_EQ(APIError::Code::fromRawValue("forbidden"), APIError::Code(APIError::Code::forbidden));
  EXPECT_EQ(APIError::Code(APIError::Code::request).rawValue(), "request");

  APIError a{.id = "1", .code = APIError::Code::forbidden, .title = "t", .detail = std::nullopt,
             .path = {"a", "b"}, .extra = {{"k", "v"}}};
  APIError b = a;
  EXPECT_EQ(a, b);
  b.path = {"b", "a"};
  EXPECT_NE(a, b);

  const auto received = VantelAPI::ClientError::recievedError(a);
  EXPECT_EQ(received.qualifiedDescription(), "ClientError.recievedError");
  EXPECT_EQ(received.apiError(), a);
  EXPECT_EQ(VantelAPI::ClientError::invalidRequest().qualifiedDescription(), "ClientError.invalidRequest");
  EXPECT_FALSE(VantelAPI::ClientError::invalidRequest().apiError());
}

}  // namespace
}  // namespace vantelkit
