#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "vantelkit/foundation/LocalizedStrings.h"

namespace vantelkit {
namespace {

TEST(LocalizedStringsConcurrencyTest, ConcurrentFirstLookupsAgree) {
  LocalizedStrings strings;
  std::vector<std::thread> threads;
  std::vector<std::string> results(8);
  for (std::size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 200; ++k) results[t] = strings.text(k % 2 ? "clean_probing" : "clean_mapping");
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, "Probing");
}

TEST(LocalizedStringsConcurrencyTest, SharedInstanceIsBuiltOnce) {
  std::vector<std::thread> threads;
  std::vector<const LocalizedStrings*> seen(8);
  for (std::size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&, t] {
      seen[t] = &LocalizedStrings::shared();
      (void)localizedString("clean_collecting");
    });
  }
  for (auto& thread : threads) thread.join();
  for (const auto* instance : seen) EXPECT_EQ(instance, seen.front());
}

}  // namespace
}  // namespace vantelkit
