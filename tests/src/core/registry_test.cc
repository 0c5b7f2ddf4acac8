#include "core/cmdu_registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "map/callbacks.h"

namespace {
std::vector<std::string> g_trace;
int8_t g_stack_result = 0;

int8_t fake_stack_handler(CMDU* cmdu) {
    g_trace.push_back("stack:" + std::to_string(cmdu->message_type));
    return g_stack_result;
}

CmduHandler tracer(const std::string& name) {
    return [name](CMDU*) { g_trace.push_back(name); };
}

gmap_cb_entry& entry(uint16_t type) {
    int i = find_gmap_cb_index(type);
    EXPECT_GE(i, 0);
    return gmap_cb_config[i];
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        g_trace.clear();
        g_stack_result = 0;
    }
    // What the stack does with a received CMDU of TYPE.
    int8_t receive(uint16_t type) {
        CMDU c;
        c.message_type = type;
        return map_dispatch_cmdu(&c);
    }
};
}  // namespace

// Each case hooks its own message types: the registry lives for the whole process.

TEST_F(Registry, TwoHandlersHookOnceAndRunInRegistrationOrder) {
    entry(0x0003).handler = fake_stack_handler;
    add_cmdu_handler(0x0003, nullptr, tracer("graph"));
    add_cmdu_handler(0x0003, nullptr, tracer("config"));
    EXPECT_EQ(entry(0x0003).handler, cmdu_dispatch);
    const Callbacks* cb = find_cmdu_callbacks(0x0003);
    ASSERT_NE(cb, nullptr);
    EXPECT_EQ(cb->stack_handler, fake_stack_handler);
    EXPECT_EQ(cb->after.size(), 2u);
    EXPECT_EQ(receive(0x0003), 0);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"stack:3", "graph", "config"}));
}

TEST_F(Registry, NonZeroStackResultSkipsAfterButNotBefore) {
    entry(0x8015).handler = fake_stack_handler;
    add_cmdu_handler(0x8015, tracer("before"), tracer("after"));
    g_stack_result = -3;
    EXPECT_EQ(receive(0x8015), -3);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"before", "stack:32789"}));
    g_trace.clear();
    g_stack_result = 0;
    EXPECT_EQ(receive(0x8015), 0);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"before", "stack:32789", "after"}));
}

TEST_F(Registry, TypeWithoutStackHandlerRunsBeforeThenAfter) {
    entry(0x0009).handler = nullptr;
    add_cmdu_handler(0x0009, tracer("b1"), tracer("a1"));
    // A second registration must not take the dispatch function for the stack's handler.
    add_cmdu_handler(0x0009, tracer("b2"), tracer("a2"));
    EXPECT_EQ(find_cmdu_callbacks(0x0009)->stack_handler, nullptr);
    EXPECT_EQ(receive(0x0009), 0);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"b1", "b2", "a1", "a2"}));
}

TEST_F(Registry, TypeOutsideTheStackTableIsNotRegistered) {
    add_cmdu_handler(0x7777, tracer("x"), tracer("y"));
    EXPECT_EQ(find_cmdu_callbacks(0x7777), nullptr);
    CMDU c;
    c.message_type = 0x7777;
    EXPECT_EQ(cmdu_dispatch(&c), 0);
    EXPECT_TRUE(g_trace.empty());
}

// A process that builds its minders again (a fuzzer) clears the registry in between: the
// stack gets its table back, and the next registration hooks again without the old handlers.
TEST_F(Registry, ClearingGivesTheStackItsTableBackAndANewRegistrationStartsEmpty) {
    entry(0x0007).handler = fake_stack_handler;
    add_cmdu_handler(0x0007, tracer("old"), nullptr);
    clear_cmdu_handlers();
    EXPECT_EQ(entry(0x0007).handler, fake_stack_handler);
    EXPECT_EQ(find_cmdu_callbacks(0x0007), nullptr);
    EXPECT_EQ(receive(0x0007), 0);
    add_cmdu_handler(0x0007, nullptr, tracer("new"));
    EXPECT_EQ(find_cmdu_callbacks(0x0007)->stack_handler, fake_stack_handler);
    EXPECT_EQ(receive(0x0007), 0);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"stack:7", "stack:7", "new"}));
}
