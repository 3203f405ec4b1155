#include "ui/qt/port_dialog.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include "res/resource_ids.h"
#include "res/texts.h"

namespace quorsel {

namespace {

constexpr int PORT_DIALOG_POINT_SIZE = 9;
constexpr int PORT_DIALOG_WIDTH = 240;
constexpr int PORT_DIALOG_HEIGHT = 140;
// Column widths in dialog units, in column order.
constexpr int COLUMN_WIDTHS[PORT_COLUMN_COUNT] = {90, 130};

QString Utf8(const std::string& text) { return QString::fromStdString(text); }
QString Utf8(const char* text) { return QString::fromUtf8(text); }

}  // namespace

PortDialog::PortDialog(const Lister& lister, QWidget* parent)
    : TemplateDialog(RES_PORT_DIALOG, Utf8(TEXT_PORT_LIST_CAPTION), PORT_DIALOG_POINT_SIZE, PORT_DIALOG_WIDTH,
                     PORT_DIALOG_HEIGHT, parent) {
    list_ = Add(CTL_PORT_LIST, new QTreeWidget, {7, 7, 226, 98}, TAB_STOP);
    list_->setColumnCount(PORT_COLUMN_COUNT);
    QStringList titles;
    for (const char* title : PortColumnTitles()) titles << Utf8(title);
    list_->setHeaderLabels(titles);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setSectionsMovable(false);
    for (size_t column = 0; column < PORT_COLUMN_COUNT; ++column) {
        list_->setColumnWidth(static_cast<int>(column),
                              DialogUnitsToPixels(baseUnits(), 0, 0, COLUMN_WIDTHS[column], 0).width());
    }
    state_ = Add(CTL_PORT_STATE, new QLabel, {7, 110, 226, 8});
    ok_ = Add(ID_OK_BUTTON, new QPushButton(Utf8(TEXT_OK)), {127, 119, 50, 14}, TAB_STOP);
    ok_->setDefault(true);
    auto* cancel = Add(ID_CANCEL_BUTTON, new QPushButton(Utf8(TEXT_CANCEL)), {183, 119, 50, 14}, TAB_STOP);
    FinishTemplate();

    connect(ok_, &QPushButton::clicked, this, &PortDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PortDialog::reject);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] { ShowState(); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        ChooseRow(static_cast<size_t>(list_->indexOfTopLevelItem(item)));
    });

    model_.Load(lister ? lister() : std::vector<SerialPortEntry>());
    for (const SerialPortEntry& row : model_.rows()) {
        auto* item = new QTreeWidgetItem;
        item->setText(PORT_COLUMN_NAME, Utf8(row.name));
        item->setText(PORT_COLUMN_DESCRIPTION, Utf8(row.description));
        item->setToolTip(PORT_COLUMN_NAME, Utf8(row.name));
        list_->addTopLevelItem(item);
    }
    ShowState();
}

void PortDialog::ShowState() {
    state_->setText(Utf8(model_.StateText()));
    ok_->setEnabled(model_.OkEnabled(SelectedRow()));
}

std::optional<size_t> PortDialog::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    const int index = list_->indexOfTopLevelItem(selected.front());
    if (index < 0) return std::nullopt;
    return static_cast<size_t>(index);
}

void PortDialog::ChooseRow(size_t row) {
    std::optional<PortChoice> choice = model_.Choose(row);
    if (!choice) return;
    choice_ = std::move(choice);
    TemplateDialog::accept();
}

void PortDialog::accept() {
    if (std::optional<size_t> row = SelectedRow(); row && model_.OkEnabled(row)) ChooseRow(*row);
}

}  // namespace quorsel
