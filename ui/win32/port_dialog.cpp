#include "ui/win32/port_dialog.h"

#include <commctrl.h>

#include <string>
#include <utility>

#include "res/resource_ids.h"
#include "ui/win32/wide_text.h"

namespace quorsel {

namespace {

// Column widths in dialog units, in column order.
constexpr int COLUMN_WIDTHS[PORT_COLUMN_COUNT] = {50, 170};

}  // namespace

PortDialog::PortDialog(HINSTANCE instance, Lister lister)
    : ModalDialog(instance, RES_PORT_DIALOG), lister_(std::move(lister)) {}

bool PortDialog::OnInitDialog() {
    HWND list = Item(CTL_PORT_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const auto& titles = PortColumnTitles();
    for (size_t column = 0; column < PORT_COLUMN_COUNT; ++column) {
        RECT width{0, 0, COLUMN_WIDTHS[column], 0};
        MapDialogRect(window(), &width);
        std::wstring title = WideText(titles[column]);
        LVCOLUMNW entry{};
        entry.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        entry.cx = width.right;
        entry.pszText = title.data();
        entry.iSubItem = static_cast<int>(column);
        SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&entry));
    }
    model_.Load(lister_ ? lister_() : std::vector<SerialPortEntry>());
    for (size_t index = 0; index < model_.rows().size(); ++index) {
        const SerialPortEntry& row = model_.rows()[index];
        const std::wstring cells[PORT_COLUMN_COUNT] = {WideText(row.name), WideText(row.description)};
        for (size_t column = 0; column < PORT_COLUMN_COUNT; ++column) {
            std::wstring text = cells[column];
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(index);
            item.iSubItem = static_cast<int>(column);
            item.pszText = text.data();
            SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, column == 0 ? 0 : index,
                         reinterpret_cast<LPARAM>(&item));
        }
    }
    ShowState();
    return true;
}

void PortDialog::ShowState() {
    SetDlgItemTextW(window(), CTL_PORT_STATE, WideText(model_.StateText()).c_str());
    EnableWindow(Item(IDOK), model_.OkEnabled(SelectedRow()) ? TRUE : FALSE);
}

std::optional<size_t> PortDialog::SelectedRow() const {
    const LRESULT index = SendMessageW(Item(CTL_PORT_LIST), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    if (index < 0) return std::nullopt;
    return static_cast<size_t>(index);
}

void PortDialog::ChooseRow(size_t row) {
    std::optional<PortChoice> choice = model_.Choose(row);
    if (!choice) return;
    choice_ = std::move(choice);
    EndDialog(window(), IDOK);
}

void PortDialog::OnOK() {
    if (std::optional<size_t> row = SelectedRow(); row && model_.OkEnabled(row)) ChooseRow(*row);
}

bool PortDialog::OnMessage(UINT message, WPARAM, LPARAM lParam, INT_PTR&) {
    if (message != WM_NOTIFY) return false;
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header->idFrom != CTL_PORT_LIST) return false;
    if (header->code == LVN_ITEMCHANGED) {
        ShowState();
        return true;
    }
    if (header->code == LVN_ITEMACTIVATE) {  // double-click
        const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(lParam);
        if (activate->iItem >= 0) ChooseRow(static_cast<size_t>(activate->iItem));
        return true;
    }
    return false;
}

}  // namespace quorsel
