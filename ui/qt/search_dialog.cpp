#include "ui/qt/search_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>

#include <cstdio>
#include <utility>

#include "res/resource_ids.h"
#include "res/texts.h"

namespace quorsel {

namespace {

constexpr int SEARCH_DIALOG_POINT_SIZE = 9;
constexpr int SEARCH_DIALOG_WIDTH = 240;
constexpr int SEARCH_DIALOG_HEIGHT = 168;
// Column widths in dialog units, in column order.
constexpr int COLUMN_WIDTHS[SEARCH_COLUMN_COUNT] = {80, 56, 36, 36};

QString Utf8(const std::string& text) { return QString::fromStdString(text); }
QString Utf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

SearchDialog::SearchDialog(SearchRunner::Search search, QWidget* parent)
    : TemplateDialog(RES_SEARCH_DIALOG, Utf8(TEXT_SEARCH_CAPTION), SEARCH_DIALOG_POINT_SIZE, SEARCH_DIALOG_WIDTH,
                     SEARCH_DIALOG_HEIGHT, parent),
      // Woken on the search's thread: the events are taken on this dialog's thread.
      runner_(std::move(search), [this] { QMetaObject::invokeMethod(this, [this] { TakeEvents(); }, Qt::QueuedConnection); }) {
    list_ = Add(CTL_SEARCH_LIST, new QTreeWidget, {7, 7, 226, 98}, TAB_STOP);
    list_->setColumnCount(SEARCH_COLUMN_COUNT);
    QStringList titles;
    for (const char* title : SearchColumnTitles()) titles << Utf8(title);
    list_->setHeaderLabels(titles);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setSectionsMovable(false);
    for (size_t column = 0; column < SEARCH_COLUMN_COUNT; ++column) {
        list_->setColumnWidth(static_cast<int>(column),
                              DialogUnitsToPixels(baseUnits(), 0, 0, COLUMN_WIDTHS[column], 0).width());
    }
    bar_ = Add(CTL_SEARCH_PROGRESS, new QProgressBar, {7, 110, 226, 9});
    bar_->setTextVisible(false);
    // Three lines: the subnets searched, when some were left out, wrap.
    state_ = Add(CTL_SEARCH_STATE, new QLabel, {7, 122, 226, 24});
    state_->setWordWrap(true);
    state_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    again_ = Add(CTL_SEARCH_AGAIN, new QPushButton(Utf8(TEXT_SEARCH_AGAIN)), {7, 147, 50, 14}, TAB_STOP);
    ok_ = Add(ID_OK_BUTTON, new QPushButton(Utf8(TEXT_OK)), {127, 147, 50, 14}, TAB_STOP);
    ok_->setDefault(true);
    auto* cancel = Add(ID_CANCEL_BUTTON, new QPushButton(Utf8(TEXT_CANCEL)), {183, 147, 50, 14}, TAB_STOP);
    FinishTemplate();

    connect(again_, &QPushButton::clicked, this, &SearchDialog::SearchAgain);
    connect(ok_, &QPushButton::clicked, this, &SearchDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SearchDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { ShowState(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        ChooseRow(static_cast<size_t>(list_->indexOfTopLevelItem(item)));
    });
    ShowState();
}

SearchDialog::~SearchDialog() { runner_.Stop(); }

void SearchDialog::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    // The search starts with the showing.
    if (!event->spontaneous()) SearchAgain();
}

void SearchDialog::SearchAgain() {
    runner_.Stop();
    runner_.TakeEvents();
    list_->clear();
    choice_.reset();
    model_.Start();
    ShowState();
    runner_.Start();
}

void SearchDialog::TakeEvents() {
    for (const SearchEvent& event : runner_.TakeEvents()) {
        if (std::optional<size_t> at = model_.Apply(event)) {
            const SearchRow& row = model_.rows()[*at];
            auto* item = new QTreeWidgetItem;
            for (size_t column = 0; column < SEARCH_COLUMN_COUNT; ++column) {
                item->setText(static_cast<int>(column), Utf8(row.cells[column]));
            }
            list_->insertTopLevelItem(static_cast<int>(*at), item);
        }
        if (event.kind == SearchEvent::Kind::Finished && !model_.error().empty()) {
            std::fprintf(stderr, "quorsel: the search could not run: %s\n", model_.error().c_str());
        }
    }
    ShowState();
}

void SearchDialog::ShowState() {
    state_->setText(Utf8(model_.StateText()));
    bar_->setRange(0, static_cast<int>(model_.barRange()));
    bar_->setValue(static_cast<int>(model_.barPos()));
    ok_->setEnabled(model_.OkEnabled(SelectedRow()));
    again_->setEnabled(model_.SearchAgainEnabled());
}

std::optional<size_t> SearchDialog::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    const int index = list_->indexOfTopLevelItem(selected.front());
    if (index < 0) return std::nullopt;
    return static_cast<size_t>(index);
}

void SearchDialog::ChooseRow(size_t row) {
    std::optional<SearchChoice> choice = model_.Choose(row);
    if (!choice) return;
    runner_.Stop();
    choice_ = std::move(choice);
    TemplateDialog::accept();
}

void SearchDialog::accept() {
    // Enter without a selection chooses nothing.
    if (std::optional<size_t> row = SelectedRow(); row && model_.OkEnabled(row)) ChooseRow(*row);
}

void SearchDialog::reject() {
    runner_.Stop();
    TemplateDialog::reject();
}

}  // namespace quorsel
