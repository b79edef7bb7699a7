#include "platform/instance_lock.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>

namespace quorvanti::platform {
namespace {

TEST(InstanceLockTest, SecondHolderFailsUntilTheFirstIsGone) {
    testing::TempDir dir;
    const std::string lockFile = dir.file("quorvanti.lock");
    auto first = std::make_unique<InstanceLock>(lockFile);
    ASSERT_TRUE(first->acquired());
    {
        InstanceLock second(lockFile);
        EXPECT_FALSE(second.acquired());
    }
    // The failed attempt must not have disturbed the holder.
    EXPECT_FALSE(InstanceLock(lockFile).acquired());

    first.reset();
    InstanceLock third(lockFile);
    EXPECT_TRUE(third.acquired());
    // An unusable lock file is not acquired.
    EXPECT_FALSE(InstanceLock(dir.file("nao/existe/quorvanti.lock")).acquired());
}

}  // namespace
}  // namespace quorvanti::platform
