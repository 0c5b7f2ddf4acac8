// What the graph and the searches write into the log.
#include <gtest/gtest.h>

#include "graph/path_cost.h"
#include "graph/rate_model.h"
#include "mesh_fixture.h"
#include "support/temp_root.h"

using namespace graph_test;

namespace {

TEST(GraphLog, RelaxationsGoToTheShortestPathChildAtDebug) {
    ozr_test::TempRoot tmp;
    ozr_test::LogCapture cap(tmp, 7);
    Logger cost(root_logger, "cost", "", -1);
    ScriptedMesh m;
    find_shortest_working_paths_for_devices(cost, m.g);
    std::string text = cap.text();
    EXPECT_NE(text.find("root.cost.shortest-path: Local_agent 02:00:00:00:00:02 => B1 "
                        "02:00:00:00:01:01 $10 (from $1000000)"),
              std::string::npos)
        << text;
    // The free hop from B2's backhaul STA to B2 is a relaxation of its own.
    EXPECT_NE(text.find("B1 02:00:00:00:01:01 => B2 02:00:00:00:02:01 $161 (from $1000000)"),
              std::string::npos)
        << text;
}

TEST(GraphLog, NothingBelowTheInheritedLevel) {
    ozr_test::TempRoot tmp;
    ozr_test::LogCapture cap(tmp, 6);
    Logger cost(root_logger, "cost", "", -1);
    ScriptedMesh m;
    find_shortest_paths_for_devices(cost, m.g);
    EXPECT_EQ(cap.text().find("=>"), std::string::npos);
}

TEST(GraphLog, NegativeOldModelRateIsLogged) {
    ozr_test::TempRoot tmp;
    ozr_test::LogCapture cap(tmp, 7);
    EXPECT_EQ(predict_rate(10, root_logger), 0);
    EXPECT_NE(cap.text().find("Negative rate detected predicted_rate=-1225, slope="),
              std::string::npos)
        << cap.text();
}

TEST(GraphLog, DescribeDumpsDevicesStationsAndLinks) {
    ozr_test::TempRoot tmp;
    ozr_test::LogCapture cap(tmp, 7);
    ScriptedMesh m;
    m.b1->describe(*root_logger, m.g);
    m.bsta->describe(*root_logger, m.g);
    m.root->add_link(new WiredLink(mac(7, 7), 1));  // far node not in the graph
    m.root->describe(*root_logger, m.g);
    std::string text = cap.text();
    EXPECT_NE(text.find("Device B1 02:00:00:00:01:01"), std::string::npos) << text;
    EXPECT_NE(text.find("Gigabit Ethernet"), std::string::npos);
    EXPECT_NE(text.find("Backbone link"), std::string::npos);
    EXPECT_NE(text.find("$151"), std::string::npos);
    EXPECT_NE(text.find(" ASSOC"), std::string::npos);
    EXPECT_NE(text.find(" WIRE"), std::string::npos);
    EXPECT_NE(text.find("backhaul STA owner 02:00:00:00:02:01 served by B1"), std::string::npos);
    EXPECT_NE(text.find("link to  02:00:00:00:07:07"), std::string::npos) << text;
}

}  // namespace
