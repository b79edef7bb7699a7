// Which connection the panel gives up when a client address or the whole panel is at its cap.
#include "platform/ui/connection_limits.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvanti::platform {
namespace {

enum class Op { Admit, Answering, Waiting, Closed };

struct Step {
    Op op;
    ConnectionLimits::Id id;
    const char* address = "";
    bool admitted = true;               // Admit only
    std::vector<ConnectionLimits::Id> dropped = {};  // Admit only
};

TEST(ConnectionLimitsTest, TheOldestWaitingConnectionMakesRoomAndOneBeingAnsweredNeverDoes) {
    const ConnectionCaps caps{.perAddress = 2, .total = 3};
    const struct {
        const char* what;
        std::vector<Step> steps;
        std::size_t left;
    } cases[] = {
        // (That a full address gives up its own oldest and never the one being answered, the load test shows:
        // 300 idle sockets from the open page's address leave its event stream and the operator answered.)
        {"a full address gives up its own oldest, not another's",
         {{Op::Admit, 1, "b"}, {Op::Admit, 2, "a"}, {Op::Admit, 3, "a"}, {Op::Admit, 4, "a", true, {2}}}, 3},
        {"a full panel gives up the oldest of all",
         {{Op::Admit, 1, "a"}, {Op::Admit, 2, "b"}, {Op::Admit, 3, "c"}, {Op::Admit, 4, "d", true, {1}}}, 3},
        {"waiting again makes it the newest",
         {{Op::Admit, 1, "a"}, {Op::Admit, 2, "a"}, {Op::Answering, 1}, {Op::Waiting, 1}, {Op::Admit, 3, "a", true, {2}},
          {Op::Admit, 4, "a", true, {1}}}, 2},
        {"an address whose connections are all answered is refused, and nothing closes",
         {{Op::Admit, 1, "a"}, {Op::Admit, 2, "a"}, {Op::Answering, 1}, {Op::Answering, 2}, {Op::Admit, 3, "a", false}}, 2},
        {"a panel whose connections are all answered refuses even a new address",
         {{Op::Admit, 1, "a"}, {Op::Admit, 2, "b"}, {Op::Admit, 3, "c"}, {Op::Answering, 1}, {Op::Answering, 2},
          {Op::Answering, 3}, {Op::Admit, 4, "d", false}}, 3},
        {"a closed connection frees its place",
         {{Op::Admit, 1, "a"}, {Op::Admit, 2, "a"}, {Op::Closed, 1}, {Op::Closed, 9}, {Op::Admit, 3, "a"}}, 2},
        {"a dropped connection is forgotten (its close is no second close)",
         {{Op::Admit, 1, "a"}, {Op::Admit, 2, "a"}, {Op::Admit, 3, "a", true, {1}}, {Op::Closed, 1}, {Op::Admit, 4, "b"}}, 3},
    };
    for (const auto& c : cases) {
        ConnectionLimits limits(caps);
        std::vector<ConnectionLimits::Id> dropped;
        for (const auto& step : c.steps) {
            if (step.op == Op::Admit) {
                EXPECT_EQ(limits.admit(step.id, step.address, dropped), step.admitted) << c.what << ": " << step.id;
                EXPECT_EQ(dropped, step.dropped) << c.what << ": " << step.id;
            }
            if (step.op == Op::Answering) limits.answering(step.id);
            if (step.op == Op::Waiting) limits.waiting(step.id);
            if (step.op == Op::Closed) limits.closed(step.id);
            EXPECT_LE(limits.size(), caps.total) << c.what;
        }
        EXPECT_EQ(limits.size(), c.left) << c.what;
        EXPECT_LE(limits.fromAddress("a"), caps.perAddress) << c.what;
    }
}

}  // namespace
}  // namespace quorvanti::platform
