// The search for access points from the settings dialog's window menu, driven as a
// person would: the list fills in address order while the search runs, a choice
// puts the address into the settings dialog with the LAN update selected, Cancel
// stops the search, and an empty search offers "再検索". The searches here are
// scripted; gui_run_test.cpp runs a real one against quorsel-apsim.
#include "ui/qt/search_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "res/resource_ids.h"
#include "res/texts.h"
#include "tests/ui_qt/gui_driver.h"
#include "ui/qt/settings_dialog.h"

namespace quorsel::testing {
namespace {

using namespace std::chrono_literals;

QString U(const char* text) { return QString::fromUtf8(text); }

FoundPeer Peer(Ipv4Address address, const char* model, char digit, bool fits,
               PeerKind kind = PeerKind::ACCESS_POINT) {
    FoundPeer peer;
    peer.address = address;
    peer.kind = kind;
    peer.modelCode = model;
    peer.generationDigit = digit;
    peer.fitsFirmware = fits;
    return peer;
}

// A scripted search: reports its peers; from run holdFrom on it then waits until
// it is stopped.
class ScriptedSearch {
public:
    explicit ScriptedSearch(std::vector<FoundPeer> peers, int holdFrom = 1)
        : peers_(std::move(peers)), holdFrom_(holdFrom) {}

    SearchRunner::Search Function() {
        return [this](SearchListener& listener, const SearchStop& stop) {
            const int run = ++runs_;
            size_t probed = 0;
            for (const FoundPeer& peer : peers_) {
                listener.OnFound(peer);
                listener.OnProgress(++probed, 254);
            }
            SearchOutcome outcome;
            while (run >= holdFrom_ && !stop.Requested()) std::this_thread::sleep_for(1ms);
            outcome.stopped = stop.Requested();
            stopped_ = outcome.stopped;
            outcome.probed = probed;
            return outcome;
        };
    }
    int runs() const { return runs_; }
    bool stopped() const { return stopped_; }

private:
    std::vector<FoundPeer> peers_;
    int holdFrom_;
    std::atomic<int> runs_{0};
    std::atomic<bool> stopped_{false};
};

QTreeWidget* List(SearchDialog& dialog) { return dialog.controlAs<QTreeWidget>(CTL_SEARCH_LIST); }

std::vector<QString> ListColumn(SearchDialog& dialog, int column) {
    std::vector<QString> cells;
    QTreeWidget* list = List(dialog);
    for (int row = 0; row < list->topLevelItemCount(); ++row) cells.push_back(list->topLevelItem(row)->text(column));
    return cells;
}

class SearchDialogTest : public ::testing::Test {
protected:
    // The settings dialog on serial, with the search behind its menu entry.
    void OpenSettings(ScriptedSearch& search) {
        UpdateJob job;
        job.transport = TRANSPORT_SERIAL;
        job.addressText = "192.168.1.254";
        settings_.SetValues(job);
        settings_.SetSearch(search.Function());
        ShowAndActivate(settings_);
    }
    QString Address() { return settings_.controlAs<QLineEdit>(ID_ADDRESS_EDIT)->text(); }
    bool LanChosen() { return settings_.controlAs<QRadioButton>(ID_LAN_RADIO)->isChecked(); }

    SettingsDialog settings_;
};

TEST_F(SearchDialogTest, ListFillsInAddressOrderAndOkPutsTheChosenAddressIntoTheSettings) {
    ScriptedSearch search({Peer({10, 79, 0, 100}, "ZLT010", '1', false),
                           Peer({10, 79, 0, 7}, "", 0, false, PeerKind::NOT_ACCESS_POINT),
                           Peer({10, 79, 0, 20}, "KRV001", '2', true), Peer({10, 79, 0, 9}, "KRV010", '1', false)});
    OpenSettings(search);
    EXPECT_EQ(settings_.searchAction()->text(), U("アクセスポイントを検索..."));
    QString caption, searching;
    std::vector<QString> headers, addresses, fits;
    bool okBeforeSelection = true, againWhileSearching = true, okAfterSelection = false;
    WhenVisible<SearchDialog>(
        [&](SearchDialog& dialog) {
            QTreeWidget* list = List(dialog);
            caption = dialog.windowTitle();
            for (int column = 0; column < list->columnCount(); ++column) headers.push_back(list->headerItem()->text(column));
            ASSERT_TRUE(WaitUntil([&] { return list->topLevelItemCount() == 3; }));
            searching = TextOf(dialog.control(CTL_SEARCH_STATE));
            againWhileSearching = dialog.control(CTL_SEARCH_AGAIN)->isEnabled();
            okBeforeSelection = dialog.control(ID_OK_BUTTON)->isEnabled();
            addresses = ListColumn(dialog, COLUMN_ADDRESS);
            fits = ListColumn(dialog, COLUMN_FITS);
            // Select 10.79.0.20 with the mouse, then OK.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(1)).center());
            okAfterSelection = dialog.control(ID_OK_BUTTON)->isEnabled();
            ClickButton(dialog, ID_OK_BUTTON);
        },
        "the search dialog");
    settings_.searchAction()->trigger();

    EXPECT_EQ(caption, U("アクセスポイントの検索"));
    EXPECT_EQ(headers, (std::vector<QString>{U("IPアドレス"), U("機種"), U("世代"), U("対応")}));
    EXPECT_EQ(searching, U("検索中..."));
    EXPECT_FALSE(againWhileSearching);
    EXPECT_FALSE(okBeforeSelection);
    EXPECT_EQ(addresses, (std::vector<QString>{"10.79.0.9", "10.79.0.20", "10.79.0.100"}));
    EXPECT_EQ(fits, (std::vector<QString>{"", U("○"), ""}));
    EXPECT_TRUE(okAfterSelection);
    EXPECT_TRUE(search.stopped()) << "OK ended the search";
    EXPECT_EQ(Address(), "10.79.0.20");
    EXPECT_TRUE(LanChosen());
    EXPECT_TRUE(settings_.control(ID_ADDRESS_EDIT)->isEnabled()) << "the LAN enabling was applied";
    EXPECT_FALSE(settings_.control(1005)->isEnabled());
}

TEST_F(SearchDialogTest, DoubleClickChoosesWhileTheSearchStillRunsAndStopsIt) {
    ScriptedSearch search({Peer({172, 16, 5, 2}, "MXD001", '2', false)});
    OpenSettings(search);
    WhenVisible<SearchDialog>(
        [&](SearchDialog& dialog) {
            QTreeWidget* list = List(dialog);
            ASSERT_TRUE(WaitUntil([&] { return list->topLevelItemCount() == 1; }));
            QRect cell = list->visualItemRect(list->topLevelItem(0));
            // A person's double-click: a press and release, then the double-click.
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        },
        "the search dialog");
    settings_.searchAction()->trigger();
    EXPECT_EQ(Address(), "172.16.5.2");
    EXPECT_TRUE(LanChosen());
    EXPECT_TRUE(search.stopped()) << "choosing ended the search";
}

// The first search finds nothing; "再検索" starts a second, which Cancel stops.
TEST_F(SearchDialogTest, NothingFoundOffersSearchAgainAndCancelStopsTheSearch) {
    ScriptedSearch search({}, 2);
    OpenSettings(search);
    QString nothing;
    bool okUsable = true;
    WhenVisible<SearchDialog>(
        [&](SearchDialog& dialog) {
            ASSERT_TRUE(WaitUntil([&] { return dialog.control(CTL_SEARCH_AGAIN)->isEnabled(); }));
            nothing = TextOf(dialog.control(CTL_SEARCH_STATE));
            okUsable = dialog.control(ID_OK_BUTTON)->isEnabled();
            ClickButton(dialog, CTL_SEARCH_AGAIN);
            ASSERT_TRUE(WaitUntil([&] { return search.runs() == 2; }));
            ClickButton(dialog, ID_CANCEL_BUTTON);
        },
        "the search dialog");
    settings_.searchAction()->trigger();
    EXPECT_EQ(nothing, U("アクセスポイントが見つかりませんでした"));
    EXPECT_FALSE(okUsable);
    EXPECT_TRUE(search.stopped()) << "Cancel stopped the second search";
    EXPECT_EQ(Address(), "192.168.1.254");
    EXPECT_FALSE(LanChosen()) << "serial stays selected";
}

}  // namespace
}  // namespace quorsel::testing
