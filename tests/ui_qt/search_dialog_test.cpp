// The search for access points from the settings dialog's window menu, driven as a
// person would: the list fills in address order while the search runs, a choice
// puts the address into the settings dialog with the LAN update selected, Cancel
// stops the search, and an empty search offers "再検索". The searches here are
// scripted; gui_run_test.cpp runs a real one against quorsel-apsim.
#include "ui/qt/search_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
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

// A scripted search: reports its peers, then waits until the test lets it end (or
// it is stopped).
class ScriptedSearch {
public:
    explicit ScriptedSearch(std::vector<FoundPeer> peers) : peers_(std::move(peers)) {}

    SearchRunner::Search Function() {
        return [this](SearchListener& listener, const SearchStop& stop) {
            ++runs_;
            size_t probed = 0;
            for (const FoundPeer& peer : peers_) {
                listener.OnFound(peer);
                listener.OnProgress(++probed, 254);
            }
            SearchOutcome outcome;
            while (!release_ && !stop.Requested()) std::this_thread::sleep_for(1ms);
            outcome.stopped = stop.Requested();
            stopped_ = outcome.stopped;
            outcome.probed = probed;
            return outcome;
        };
    }
    void Release() { release_ = true; }
    int runs() const { return runs_; }
    bool stopped() const { return stopped_; }

private:
    std::vector<FoundPeer> peers_;
    std::atomic<bool> release_{false};
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
    ScriptedSearch search({Peer({10, 79, 0, 100}, "ZLT010", '1', false), Peer({10, 79, 0, 7}, "", 0, false,
                                                                             PeerKind::NOT_ACCESS_POINT),
                           Peer({10, 79, 0, 20}, "KRV001", '2', true), Peer({10, 79, 0, 9}, "KRV010", '1', false)});
    OpenSettings(search);
    EXPECT_TRUE(settings_.searchAction()->isVisible());
    EXPECT_EQ(settings_.searchAction()->text(), U("アクセスポイントを検索..."));

    struct Seen {
        QString caption, stateWhileSearching, stateAtEnd;
        std::vector<QString> headers, addresses, models, generations, fits;
        bool okBeforeSelection = true, okAfterSelection = false, againWhileSearching = true, againAtEnd = false;
        int barValue = -1, barMaximum = -1;
    } seen;
    WhenVisible<SearchDialog>(
        [&](SearchDialog& dialog) {
            seen.caption = dialog.windowTitle();
            for (int column = 0; column < List(dialog)->columnCount(); ++column) {
                seen.headers.push_back(List(dialog)->headerItem()->text(column));
            }
            ASSERT_TRUE(WaitUntil([&] { return List(dialog)->topLevelItemCount() == 3; }));
            seen.stateWhileSearching = TextOf(dialog.control(CTL_SEARCH_STATE));
            seen.againWhileSearching = dialog.control(CTL_SEARCH_AGAIN)->isEnabled();
            seen.okBeforeSelection = dialog.control(ID_OK_BUTTON)->isEnabled();
            auto* bar = dialog.controlAs<QProgressBar>(CTL_SEARCH_PROGRESS);
            seen.barValue = bar->value();
            seen.barMaximum = bar->maximum();
            search.Release();
            ASSERT_TRUE(WaitUntil([&] { return dialog.model().phase() == SearchModel::Phase::Ended; }));
            seen.stateAtEnd = TextOf(dialog.control(CTL_SEARCH_STATE));
            seen.againAtEnd = dialog.control(CTL_SEARCH_AGAIN)->isEnabled();
            seen.addresses = ListColumn(dialog, COLUMN_ADDRESS);
            seen.models = ListColumn(dialog, COLUMN_MODEL);
            seen.generations = ListColumn(dialog, COLUMN_GENERATION);
            seen.fits = ListColumn(dialog, COLUMN_FITS);
            // Select 10.79.0.20 with the mouse, then OK.
            QTreeWidget* list = List(dialog);
            QRect cell = list->visualItemRect(list->topLevelItem(1));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
            seen.okAfterSelection = dialog.control(ID_OK_BUTTON)->isEnabled();
            ClickButton(dialog, ID_OK_BUTTON);
        },
        "the search dialog");
    settings_.searchAction()->trigger();

    EXPECT_EQ(seen.caption, U("アクセスポイントの検索"));
    EXPECT_EQ(seen.headers, (std::vector<QString>{U("IPアドレス"), U("機種"), U("世代"), U("対応")}));
    EXPECT_EQ(seen.stateWhileSearching, U("検索中..."));
    EXPECT_FALSE(seen.againWhileSearching);
    EXPECT_FALSE(seen.okBeforeSelection);
    EXPECT_EQ(seen.barValue, 4);
    EXPECT_EQ(seen.barMaximum, 254);
    EXPECT_EQ(seen.stateAtEnd, "");
    EXPECT_TRUE(seen.againAtEnd);
    EXPECT_EQ(seen.addresses, (std::vector<QString>{"10.79.0.9", "10.79.0.20", "10.79.0.100"}))
        << "sorted by address; the service that is no access point is not offered";
    EXPECT_EQ(seen.models, (std::vector<QString>{"KRV010", "KRV001", "ZLT010"}));
    EXPECT_EQ(seen.generations, (std::vector<QString>{"1", "2", "1"}));
    EXPECT_EQ(seen.fits, (std::vector<QString>{"", U("○"), ""}));
    EXPECT_TRUE(seen.okAfterSelection);
    EXPECT_EQ(Address(), "10.79.0.20");
    EXPECT_TRUE(LanChosen()) << "the LAN update is selected";
    EXPECT_TRUE(settings_.control(ID_ADDRESS_EDIT)->isEnabled());
    EXPECT_FALSE(settings_.control(1005)->isEnabled()) << "the LAN enabling was applied";
    EXPECT_TRUE(settings_.isVisible()) << "back in the settings dialog";
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

TEST_F(SearchDialogTest, CancelStopsTheSearchAndLeavesTheSettingsAsTheyWere) {
    ScriptedSearch search({Peer({10, 0, 0, 2}, "KRV001", '1', true)});
    OpenSettings(search);
    WhenVisible<SearchDialog>(
        [&](SearchDialog& dialog) {
            ASSERT_TRUE(WaitUntil([&] { return List(dialog)->topLevelItemCount() == 1; }));
            ClickButton(dialog, ID_CANCEL_BUTTON);
        },
        "the search dialog");
    settings_.searchAction()->trigger();
    EXPECT_TRUE(search.stopped());
    EXPECT_EQ(Address(), "192.168.1.254");
    EXPECT_FALSE(LanChosen()) << "serial stays selected";
}

TEST_F(SearchDialogTest, NothingFoundSaysSoAndSearchAgainRunsANewSearch) {
    ScriptedSearch search({});
    search.Release();
    OpenSettings(search);
    QString nothing;
    bool okUsable = true;
    WhenVisible<SearchDialog>(
        [&](SearchDialog& dialog) {
            ASSERT_TRUE(WaitUntil([&] { return dialog.control(CTL_SEARCH_AGAIN)->isEnabled(); }));
            nothing = TextOf(dialog.control(CTL_SEARCH_STATE));
            okUsable = dialog.control(ID_OK_BUTTON)->isEnabled();
            ClickButton(dialog, CTL_SEARCH_AGAIN);
            ASSERT_TRUE(WaitUntil([&] { return search.runs() == 2 && dialog.control(CTL_SEARCH_AGAIN)->isEnabled(); }));
            QTest::keyClick(&dialog, Qt::Key_Escape);
        },
        "the search dialog");
    settings_.searchAction()->trigger();
    EXPECT_EQ(nothing, U("アクセスポイントが見つかりませんでした"));
    EXPECT_FALSE(okUsable);
    EXPECT_EQ(search.runs(), 2);
    EXPECT_EQ(Address(), "192.168.1.254");
}

}  // namespace
}  // namespace quorsel::testing
