// The search dialogs' model (rows in address order, the fit mark, the state line,
// the buttons, the choice) and the thread a search runs on.
#include "ui/search_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "res/texts.h"
#include "ui/search_runner.h"

namespace quorsel {
namespace {

using namespace std::chrono_literals;

FoundPeer AccessPoint(Ipv4Address address, const char* model, char digit, bool fits) {
    FoundPeer peer;
    peer.address = address;
    peer.kind = PeerKind::ACCESS_POINT;
    peer.modelCode = model;
    peer.generationDigit = digit;
    peer.generation = digit >= '2' ? Generation::New : Generation::Old;
    peer.fitsFirmware = fits;
    return peer;
}

SearchEvent Found(const FoundPeer& peer) {
    SearchEvent event;
    event.kind = SearchEvent::Kind::Found;
    event.peer = peer;
    return event;
}

SearchEvent Progress(size_t probed, size_t total) {
    SearchEvent event;
    event.kind = SearchEvent::Kind::Progress;
    event.probed = probed;
    event.total = total;
    return event;
}

SearchEvent Finished(std::string error = {}) {
    SearchEvent event;
    event.kind = SearchEvent::Kind::Finished;
    event.outcome.error = std::move(error);
    return event;
}

std::vector<std::string> Column(const SearchModel& model, SearchColumn column) {
    std::vector<std::string> cells;
    for (const SearchRow& row : model.rows()) cells.push_back(row.cells[column]);
    return cells;
}

TEST(SearchModelTest, ColumnsAreAddressModelGenerationAndFit) {
    const auto& titles = SearchColumnTitles();
    EXPECT_STREQ(titles[COLUMN_ADDRESS], "IPアドレス");
    EXPECT_STREQ(titles[COLUMN_MODEL], "機種");
    EXPECT_STREQ(titles[COLUMN_GENERATION], "世代");
    EXPECT_STREQ(titles[COLUMN_FITS], "対応");
}

// Results arrive in any order; the rows stand in numeric address order, and each
// insertion says where its row went.
struct OrderCase {
    const char* name;
    std::vector<Ipv4Address> arrivals;
    std::vector<size_t> insertedAt;
    std::vector<std::string> listed;
};

class SearchOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(SearchOrderTest, RowsAreSortedByAddressNumerically) {
    const OrderCase& c = GetParam();
    SearchModel model;
    model.Start();
    std::vector<size_t> insertedAt;
    for (const Ipv4Address& address : c.arrivals) {
        std::optional<size_t> at = model.Apply(Found(AccessPoint(address, "KRV001", '1', false)));
        insertedAt.push_back(at.value_or(999));
    }
    EXPECT_EQ(insertedAt, c.insertedAt);
    EXPECT_EQ(Column(model, COLUMN_ADDRESS), c.listed);
}

INSTANTIATE_TEST_SUITE_P(
    Arrivals, SearchOrderTest,
    ::testing::Values(
        // 10.0.0.9 before 10.0.0.10: numbers, not text
        OrderCase{"NinesBeforeTens",
                  {{10, 0, 0, 10}, {10, 0, 0, 9}, {10, 0, 0, 100}},
                  {0, 0, 2},
                  {"10.0.0.9", "10.0.0.10", "10.0.0.100"}},
        // the first byte weighs most
        OrderCase{"FirstByteFirst",
                  {{192, 168, 1, 254}, {10, 79, 0, 20}, {10, 79, 1, 2}, {172, 16, 0, 1}},
                  {0, 0, 1, 2},
                  {"10.79.0.20", "10.79.1.2", "172.16.0.1", "192.168.1.254"}},
        // an address reported twice is listed once
        OrderCase{"TwiceListedOnce", {{10, 0, 0, 5}, {10, 0, 0, 5}}, {0, 999}, {"10.0.0.5"}}),
    [](const ::testing::TestParamInfo<OrderCase>& p) { return std::string(p.param.name); });

// What a row shows of each answer, and that only access points are listed.
struct RowCase {
    const char* name;
    FoundPeer peer;
    bool listed;
    const char* model;
    const char* generation;
    const char* fit;
};

class SearchRowTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(SearchRowTest, CellsShowModelGenerationAndTheFitMark) {
    const RowCase& c = GetParam();
    SearchModel model;
    model.Start();
    model.Apply(Found(c.peer));
    ASSERT_EQ(model.rows().size(), c.listed ? 1u : 0u);
    if (!c.listed) return;
    const SearchRow& row = model.rows()[0];
    EXPECT_EQ(row.cells[COLUMN_MODEL], c.model);
    EXPECT_EQ(row.cells[COLUMN_GENERATION], c.generation);
    EXPECT_EQ(row.cells[COLUMN_FITS], c.fit);
    EXPECT_EQ(row.fits, std::string(c.fit) == TEXT_SEARCH_FITS_MARK);
}

FoundPeer NotAccessPoint() {
    FoundPeer peer;
    peer.address = {10, 0, 0, 7};
    peer.kind = PeerKind::NOT_ACCESS_POINT;
    return peer;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SearchRowTest,
    ::testing::Values(RowCase{"FittingNew", AccessPoint({10, 0, 0, 2}, "KRV001", '2', true), true, "KRV001", "2", "○"},
                      RowCase{"OtherModelOld", AccessPoint({10, 0, 0, 3}, "ZLT010", '1', false), true, "ZLT010", "1", ""},
                      RowCase{"NoGenerationByte", AccessPoint({10, 0, 0, 4}, "KRV010", 0, false), true, "KRV010", "", ""},
                      RowCase{"NotAnAccessPoint", NotAccessPoint(), false, "", "", ""}),
    [](const ::testing::TestParamInfo<RowCase>& p) { return std::string(p.param.name); });

TEST(SearchModelTest, StateLineButtonsAndBarThroughASearchThatFindsOne) {
    SearchModel model;
    model.Start();
    EXPECT_EQ(model.phase(), SearchModel::Phase::Searching);
    EXPECT_EQ(model.StateText(), TEXT_SEARCH_PROGRESS);
    EXPECT_FALSE(model.SearchAgainEnabled());
    EXPECT_FALSE(model.OkEnabled(std::nullopt));

    model.Apply(Progress(64, 256));
    EXPECT_EQ(model.barPos(), 64u);
    EXPECT_EQ(model.barRange(), 256u);
    model.Apply(Found(AccessPoint({10, 0, 0, 2}, "KRV001", '2', true)));
    EXPECT_TRUE(model.OkEnabled(0)) << "a row can be chosen while the search goes on";
    EXPECT_FALSE(model.OkEnabled(1)) << "no such row";
    EXPECT_FALSE(model.OkEnabled(std::nullopt)) << "nothing selected";

    model.Apply(Finished());
    EXPECT_EQ(model.phase(), SearchModel::Phase::Ended);
    EXPECT_EQ(model.StateText(), "");
    EXPECT_TRUE(model.SearchAgainEnabled());
    EXPECT_EQ(model.barPos(), model.barRange()) << "the bar is full at the end";
}

TEST(SearchModelTest, NothingFoundSaysSoAndOffersTheSearchAgain) {
    SearchModel model;
    model.Start();
    model.Apply(Found(NotAccessPoint()));
    model.Apply(Finished());
    EXPECT_TRUE(model.rows().empty());
    EXPECT_EQ(model.StateText(), "アクセスポイントが見つかりませんでした");
    EXPECT_TRUE(model.SearchAgainEnabled());
    EXPECT_FALSE(model.OkEnabled(0));

    model.Start();
    EXPECT_EQ(model.StateText(), "検索中...") << "the search again starts afresh";
    EXPECT_FALSE(model.SearchAgainEnabled());
}

TEST(SearchModelTest, ASearchThatCouldNotRunEndsEmptyWithItsReason) {
    SearchModel model;
    model.Start();
    model.Apply(Finished("5000 addresses: more than 4096"));
    EXPECT_EQ(model.StateText(), TEXT_SEARCH_NONE_FOUND);
    EXPECT_EQ(model.error(), "5000 addresses: more than 4096");
    model.Start();
    EXPECT_EQ(model.error(), "") << "a new search forgets the old reason";
}

TEST(SearchModelTest, ChoosingARowHandsItsAddressAndTheLanUpdateToTheSettings) {
    SearchModel model;
    model.Start();
    model.Apply(Found(AccessPoint({10, 79, 0, 20}, "KRV001", '1', true)));
    model.Apply(Found(AccessPoint({10, 79, 0, 3}, "ZLT010", '2', false)));
    std::optional<SearchChoice> choice = model.Choose(1);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->addressText, "10.79.0.20");
    EXPECT_EQ(choice->transport, TRANSPORT_LAN);
    EXPECT_LE(choice->addressText.size(), ADDRESS_TEXT_MAX);
    EXPECT_FALSE(model.Choose(2).has_value());
}

// The runner: events reach the owner's thread in order, ending with Finished, and
// Stop ends a search that is still waiting.
class Waker {
public:
    void Wake() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++wakes_;
        changed_.notify_all();
    }
    // Takes events until a Finished one arrives (or the bound passes).
    std::vector<SearchEvent> Drain(SearchRunner& runner, std::chrono::milliseconds bound) {
        std::vector<SearchEvent> all;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            for (SearchEvent& event : runner.TakeEvents()) all.push_back(std::move(event));
            if (!all.empty() && all.back().kind == SearchEvent::Kind::Finished) return all;
            std::unique_lock<std::mutex> lock(mutex_);
            if (!changed_.wait_until(lock, deadline, [&] { return wakes_ != seen_; })) return all;
            seen_ = wakes_;
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int wakes_ = 0;
    int seen_ = 0;
};

TEST(SearchRunnerTest, EventsArriveInOrderOnTheOwnersThreadEndingWithFinished) {
    Waker waker;
    std::thread::id searchThread;
    SearchRunner runner(
        [&](SearchListener& listener, const SearchStop&) {
            searchThread = std::this_thread::get_id();
            listener.OnProgress(1, 3);
            listener.OnFound(AccessPoint({10, 0, 0, 2}, "KRV001", '1', true));
            listener.OnProgress(3, 3);
            SearchOutcome outcome;
            outcome.probed = 3;
            return outcome;
        },
        [&] { waker.Wake(); });
    runner.Start();
    std::vector<SearchEvent> events = waker.Drain(runner, 10s);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, SearchEvent::Kind::Progress);
    EXPECT_EQ(events[1].kind, SearchEvent::Kind::Found);
    EXPECT_EQ(events[1].peer.modelCode, "KRV001");
    EXPECT_EQ(events[3].kind, SearchEvent::Kind::Finished);
    EXPECT_EQ(events[3].outcome.probed, 3u);
    EXPECT_NE(searchThread, std::this_thread::get_id()) << "the search ran on a thread of its own";
}

TEST(SearchRunnerTest, StopEndsAWaitingSearchAndItsFinishedEventIsLast) {
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
    EXPECT_TRUE(runner.TakeEvents().empty()) << "nothing comes after Stop";

    waiting = false;
    runner.Start();  // a search again; the runner's end stops it
    while (!waiting) std::this_thread::sleep_for(1ms);
}

}  // namespace
}  // namespace quorsel
