// The search dialogs' model (rows in address order, the fit mark, the state line,
// the buttons, the choice) and the thread a search runs on.
#include "ui/search_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "res/texts.h"
#include "ui/search_runner.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;

FoundPeer Peer(Ipv4Address address, const char* model = "KRV001", char digit = '1', bool fits = false,
               PeerKind kind = PeerKind::ACCESS_POINT) {
    FoundPeer peer;
    peer.address = address;
    peer.kind = kind;
    peer.modelCode = model;
    peer.generationDigit = digit;
    peer.fitsFirmware = fits;
    return peer;
}

SearchEvent Found(const FoundPeer& peer) { return {SearchEvent::Kind::Found, peer, 0, 0, {}}; }
SearchEvent Progress(size_t probed, size_t total) { return {SearchEvent::Kind::Progress, {}, probed, total, {}}; }
SearchEvent Finished(std::string error = {}) {
    SearchEvent event{SearchEvent::Kind::Finished, {}, 0, 0, {}};
    event.outcome.error = std::move(error);
    return event;
}

// Results arrive in any order; rows stand in numeric address order, each insertion
// says where its row went, and an address reported twice is listed once.
struct OrderCase {
    const char* name;
    std::vector<Ipv4Address> arrivals;
    std::vector<size_t> insertedAt;  // 99: not inserted
    std::vector<std::string> listed;
};

class SearchOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(SearchOrderTest, RowsAreSortedByAddressNumerically) {
    SearchModel model;
    model.Start();
    std::vector<size_t> insertedAt;
    for (const Ipv4Address& address : GetParam().arrivals) {
        insertedAt.push_back(model.Apply(Found(Peer(address))).value_or(99));
    }
    std::vector<std::string> listed;
    for (const SearchRow& row : model.rows()) listed.push_back(row.cells[COLUMN_ADDRESS]);
    EXPECT_EQ(insertedAt, GetParam().insertedAt);
    EXPECT_EQ(listed, GetParam().listed);
}

INSTANTIATE_TEST_SUITE_P(
    Arrivals, SearchOrderTest,
    ::testing::Values(OrderCase{"NinesBeforeTens",
                                {{10, 0, 0, 10}, {10, 0, 0, 9}, {10, 0, 0, 100}},
                                {0, 0, 2},
                                {"10.0.0.9", "10.0.0.10", "10.0.0.100"}},
                      OrderCase{"FirstByteWeighsMost",
                                {{192, 168, 1, 254}, {10, 79, 0, 20}, {10, 79, 1, 2}, {172, 16, 0, 1}},
                                {0, 0, 1, 2},
                                {"10.79.0.20", "10.79.1.2", "172.16.0.1", "192.168.1.254"}},
                      OrderCase{"TwiceListedOnce", {{10, 0, 0, 5}, {10, 0, 0, 5}}, {0, 99}, {"10.0.0.5"}}),
    [](const ::testing::TestParamInfo<OrderCase>& p) { return std::string(p.param.name); });

// What a row shows of each answer; a service that is no access point is not listed.
struct RowCase {
    const char* name;
    FoundPeer peer;
    std::vector<std::string> cells;  // empty: not listed
};

class SearchRowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(SearchRowTest, CellsShowAddressModelGenerationAndTheFitMark) {
    SearchModel model;
    model.Start();
    model.Apply(Found(GetParam().peer));
    std::vector<std::string> cells;
    if (!model.rows().empty()) cells.assign(model.rows()[0].cells.begin(), model.rows()[0].cells.end());
    EXPECT_EQ(cells, GetParam().cells);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SearchRowTest,
    ::testing::Values(
        RowCase{"FittingNew", Peer({10, 0, 0, 2}, "KRV001", '2', true), {"10.0.0.2", "KRV001", "2", "○"}},
        RowCase{"OtherModelOld", Peer({10, 0, 0, 3}, "ZLT010", '1', false), {"10.0.0.3", "ZLT010", "1", ""}},
        RowCase{"NoGenerationByte", Peer({10, 0, 0, 4}, "KRV010", 0, false), {"10.0.0.4", "KRV010", "", ""}},
        RowCase{"NotAnAccessPoint", Peer({10, 0, 0, 7}, "", 0, false, PeerKind::NOT_ACCESS_POINT), {}}),
    [](const ::testing::TestParamInfo<RowCase>& p) { return std::string(p.param.name); });

// The state line, the bar and the buttons through a search, and what a choice hands
// to the settings.
TEST(SearchModelTest, StateLineBarButtonsAndChoiceThroughASearch) {
    SearchModel model;
    model.Start();
    EXPECT_EQ(model.StateText(), "検索中...");
    EXPECT_FALSE(model.SearchAgainEnabled());
    model.Apply(Progress(64, 256));
    EXPECT_EQ(model.barPos(), 64u);
    EXPECT_EQ(model.barRange(), 256u);
    model.Apply(Found(Peer({10, 79, 0, 20}, "KRV001", '1', true)));
    model.Apply(Found(Peer({10, 79, 0, 3})));
    EXPECT_TRUE(model.OkEnabled(1)) << "a row can be chosen while the search goes on";
    EXPECT_FALSE(model.OkEnabled(2)) << "no such row";
    EXPECT_FALSE(model.OkEnabled(std::nullopt)) << "nothing selected";

    model.Apply(Finished());
    EXPECT_EQ(model.StateText(), "");
    EXPECT_TRUE(model.SearchAgainEnabled());
    EXPECT_EQ(model.barPos(), model.barRange()) << "the bar is full at the end";
    std::optional<SearchChoice> choice = model.Choose(1);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->addressText, "10.79.0.20");
    EXPECT_EQ(choice->transport, TRANSPORT_LAN);
    EXPECT_FALSE(model.Choose(2).has_value());
}

TEST(SearchModelTest, NothingFoundSaysSoKeepsTheReasonAndASearchAgainStartsAfresh) {
    SearchModel model;
    model.Start();
    model.Apply(Found(Peer({10, 0, 0, 7}, "", 0, false, PeerKind::NOT_ACCESS_POINT)));
    model.Apply(Finished("5000 addresses: more than 4096"));
    EXPECT_EQ(model.StateText(), "アクセスポイントが見つかりませんでした");
    EXPECT_EQ(model.error(), "5000 addresses: more than 4096");
    EXPECT_TRUE(model.SearchAgainEnabled());
    EXPECT_FALSE(model.OkEnabled(0));
    model.Start();
    EXPECT_EQ(model.StateText(), TEXT_SEARCH_PROGRESS);
    EXPECT_EQ(model.error(), "");
}

// Default targets beyond the bound: the dialogs and the terminal show the subnets
// searched, whether or not something was found; the next search starts without it.
TEST(SearchModelTest, SubnetsLeftOutAreToldWithTheSubnetsSearched) {
    SearchModel model;
    model.Start();
    SearchEvent finished = Finished();
    finished.outcome.subnets = {"192.168.10.0/24", "172.17.0.0/22"};
    finished.outcome.leftOut = {"172.20.0.0/22"};
    model.Apply(finished);
    const std::string expected =
        "アドレスが多すぎるため、次のサブネットだけを検索しました: 192.168.10.0/24, 172.17.0.0/22";
    EXPECT_EQ(model.LeftOutText(), expected);
    EXPECT_EQ(model.StateText(), expected);

    model.Start();
    EXPECT_EQ(model.LeftOutText(), "");
    model.Apply(Found(Peer({10, 0, 0, 2})));
    model.Apply(finished);
    EXPECT_EQ(model.StateText(), expected) << "also when an access point was found";
    model.Start();
    model.Apply(Finished());
    EXPECT_EQ(model.LeftOutText(), "");
    EXPECT_EQ(model.StateText(), "アクセスポイントが見つかりませんでした");
}

// The runner's other side (events reaching a dialog's thread) is driven by the
// dialog tests; here: Stop returns only once the search's thread has ended.
TEST(SearchRunnerTest, StopEndsAWaitingSearchAndNothingComesAfterIt) {
    std::atomic<bool> waiting{false};
    SearchRunner runner(
        [&](SearchListener&, const SearchStop& stop) {
            waiting = true;
            while (!stop.Requested()) std::this_thread::sleep_for(1ms);
            SearchOutcome outcome;
            outcome.stopped = true;
            return outcome;
        },
        nullptr);
    runner.Start();
    while (!waiting) std::this_thread::sleep_for(1ms);
    runner.Stop();  // returns only once the thread has ended
    std::vector<SearchEvent> events = runner.TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].outcome.stopped);
    EXPECT_TRUE(runner.TakeEvents().empty());
}

}  // namespace
}  // namespace quorsel
