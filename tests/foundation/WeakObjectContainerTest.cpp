#include "vantelkit/foundation/WeakObjectContainer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vantelkit {
namespace {

TEST(WeakObjectContainerTest, ReadsTheObjectWhileAliveAndNoneAfter) {
  auto owner = std::make_shared<std::string>("owner");
  WeakObjectContainer<std::string> container(owner);
  EXPECT_EQ(container.object(), owner);
  EXPECT_EQ(owner.use_count(), 1);
  owner.reset();
  EXPECT_EQ(container.object(), nullptr);

  WeakObjectContainer<std::string> empty(nullptr);
  EXPECT_EQ(empty.object(), nullptr);
}

}  // namespace
}  // namespace vantelkit
