#include "ui/win32/search_dialog.h"

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>

#include "res/resource_ids.h"

namespace quorsel {

namespace {

// Posted by the search's thread when events wait to be taken.
constexpr UINT WM_SEARCH_EVENTS = WM_APP + 1;
// Column widths in dialog units, in column order.
constexpr int COLUMN_WIDTHS[SEARCH_COLUMN_COUNT] = {80, 56, 36, 36};

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

}  // namespace

SearchDialog::SearchDialog(HINSTANCE instance, SearchRunner::Search search)
    : ModalDialog(instance, RES_SEARCH_DIALOG), search_(std::move(search)) {}

SearchDialog::~SearchDialog() {
    if (runner_) runner_->Stop();
}

bool SearchDialog::OnInitDialog() {
    HWND list = Item(CTL_SEARCH_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const auto& titles = SearchColumnTitles();
    for (size_t column = 0; column < SEARCH_COLUMN_COUNT; ++column) {
        RECT width{0, 0, COLUMN_WIDTHS[column], 0};
        MapDialogRect(window(), &width);
        std::wstring title = Wide(titles[column]);
        LVCOLUMNW entry{};
        entry.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        entry.cx = width.right;
        entry.pszText = title.data();
        entry.iSubItem = static_cast<int>(column);
        SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&entry));
    }
    HWND dialog = window();
    runner_.emplace(search_, [dialog] { PostMessageW(dialog, WM_SEARCH_EVENTS, 0, 0); });
    StartSearch();
    return true;
}

void SearchDialog::StartSearch() {
    runner_->Stop();
    runner_->TakeEvents();
    SendMessageW(Item(CTL_SEARCH_LIST), LVM_DELETEALLITEMS, 0, 0);
    choice_.reset();
    model_.Start();
    ShowState();
    runner_->Start();
}

void SearchDialog::TakeEvents() {
    for (const SearchEvent& event : runner_->TakeEvents()) {
        if (std::optional<size_t> at = model_.Apply(event)) InsertRow(*at);
        if (event.kind == SearchEvent::Kind::Finished && !model_.error().empty()) {
            std::fprintf(stderr, "quorsel: the search could not run: %s\n", model_.error().c_str());
        }
    }
    ShowState();
}

void SearchDialog::InsertRow(size_t index) {
    HWND list = Item(CTL_SEARCH_LIST);
    const SearchRow& row = model_.rows()[index];
    for (size_t column = 0; column < SEARCH_COLUMN_COUNT; ++column) {
        std::wstring text = Wide(row.cells[column]);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(index);
        item.iSubItem = static_cast<int>(column);
        item.pszText = text.data();
        SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, column == 0 ? 0 : index,
                     reinterpret_cast<LPARAM>(&item));
    }
}

void SearchDialog::ShowState() {
    SetDlgItemTextW(window(), CTL_SEARCH_STATE, Wide(model_.StateText()).c_str());
    HWND bar = Item(CTL_SEARCH_PROGRESS);
    SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(model_.barRange()));
    SendMessageW(bar, PBM_SETPOS, model_.barPos(), 0);
    EnableWindow(Item(IDOK), model_.OkEnabled(SelectedRow()) ? TRUE : FALSE);
    EnableWindow(Item(CTL_SEARCH_AGAIN), model_.SearchAgainEnabled() ? TRUE : FALSE);
}

std::optional<size_t> SearchDialog::SelectedRow() const {
    const LRESULT index = SendMessageW(Item(CTL_SEARCH_LIST), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
    if (index < 0) return std::nullopt;
    return static_cast<size_t>(index);
}

void SearchDialog::ChooseRow(size_t row) {
    std::optional<SearchChoice> choice = model_.Choose(row);
    if (!choice) return;
    runner_->Stop();
    choice_ = std::move(choice);
    EndDialog(window(), IDOK);
}

void SearchDialog::OnOK() {
    if (std::optional<size_t> row = SelectedRow(); row && model_.OkEnabled(row)) ChooseRow(*row);
}

void SearchDialog::OnCancel() {
    if (runner_) runner_->Stop();
    EndDialog(window(), IDCANCEL);
}

bool SearchDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR&) {
    switch (message) {
        case WM_SEARCH_EVENTS:
            TakeEvents();
            return true;
        case WM_COMMAND:
            if (LOWORD(wParam) != CTL_SEARCH_AGAIN || HIWORD(wParam) != BN_CLICKED) return false;
            if (model_.SearchAgainEnabled()) StartSearch();
            return true;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom != CTL_SEARCH_LIST) return false;
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
        default:
            return false;
    }
}

}  // namespace quorsel
