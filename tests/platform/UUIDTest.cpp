#include "vantelkit/platform/UUID.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace vantelkit {
namespace {

TEST(UUIDTest, RandomUUIDsAreVersion4AndDistinct) {
  std::set<UUID> seen;
  for (int i = 0; i < 2000; ++i) {
    const UUID uuid = UUID::random();
    EXPECT_EQ(uuid.bytes[6] >> 4, 4);
    EXPECT_EQ(uuid.bytes[8] >> 6, 2);
    const std::string text = uuid.uuidString();
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(UUID::fromString(text), uuid);
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 2000u);

  // Threads seed their own generators: no two produce the same sequence.
  std::vector<UUID> fromThreads(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < fromThreads.size(); ++i) {
    threads.emplace_back([&fromThreads, i] { fromThreads[i] = UUID::random(); });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(std::set<UUID>(fromThreads.begin(), fromThreads.end()).size(), fromThreads.size());
}

TEST(UUIDTest, ReadsOnlyTheCanonicalForm) {
  EXPECT_EQ(UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")->uuidString(),
            "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                          "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "E621E1F-8C36C-495A-93FC-0C247A3E6E5F",
                          "E621E1F8-C36C-495A-93FC-0C247A3E6E5F0"}) {
    EXPECT_FALSE(UUID::fromString(bad)) << bad;
  }
}

}  // namespace
}  // namespace vantelkit
