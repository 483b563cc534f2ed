#include "platform/cf_ref.h"

#include <gtest/gtest.h>

#include "platform/cf_string.h"
#include "platform/standin/standin.h"

namespace {

TEST(CFRef, OwnsExactlyOneReference) {
    const long before = standin::liveObjects();
    {
        CFRef<CFStringRef> owner = makeCFString("x");
        ASSERT_TRUE(owner);
        EXPECT_EQ(standin::liveObjects(), before + 1);

        CFRef<CFStringRef> moved = std::move(owner);
        EXPECT_FALSE(owner);
        EXPECT_TRUE(moved);

        CFRef<CFStringRef> extra = CFRef<CFStringRef>::retain(moved.get());
        moved.reset();
        EXPECT_EQ(standin::liveObjects(), before + 1);  // extra still holds it
        EXPECT_EQ(toUtf8(extra.get()), "x");

        CFRef<CFStringRef> assigned = makeCFString("y");
        assigned = std::move(extra);  // releases "y"
        EXPECT_EQ(standin::liveObjects(), before + 1);
        EXPECT_EQ(toUtf8(assigned.get()), "x");
    }
    EXPECT_EQ(standin::liveObjects(), before);

    CFRef<CFStringRef> handedOn = makeCFString("z");
    CFStringRef raw = handedOn.release();
    EXPECT_FALSE(handedOn);
    EXPECT_EQ(standin::liveObjects(), before + 1);
    CFRef<CFStringRef> adopted(raw);
    adopted.reset();
    EXPECT_EQ(standin::liveObjects(), before);

    EXPECT_FALSE(CFRef<CFStringRef>::retain(nullptr));
}

}  // namespace
