// The search for access points (dialog 132): a report list view of the access
// points found, sorted by address, a progress bar and state line, "再検索", OK and
// Cancel. The search runs on its own thread from the dialog's initialisation; its
// events reach the dialog by a posted message, and the shared search model says
// what the controls show. Its texts go through the UTF-16 interfaces.
#pragma once

#include <windows.h>

#include <optional>

#include "ui/search_model.h"
#include "ui/search_runner.h"
#include "ui/win32/modal_dialog.h"

namespace quorsel {

class SearchDialog : public ModalDialog {
public:
    SearchDialog(HINSTANCE instance, SearchRunner::Search search);
    ~SearchDialog() override;

    // After IDOK: what the chosen row hands to the settings.
    const std::optional<SearchChoice>& choice() const { return choice_; }

protected:
    bool OnInitDialog() override;
    // OK chooses the selected row (nothing happens without one); OK and Cancel stop
    // a search that still runs.
    void OnOK() override;
    void OnCancel() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void StartSearch();
    void TakeEvents();
    void InsertRow(size_t index);
    void ShowState();
    std::optional<size_t> SelectedRow() const;
    void ChooseRow(size_t row);

    SearchRunner::Search search_;
    SearchModel model_;
    std::optional<SearchRunner> runner_;  // made once the window exists: it posts to it
    std::optional<SearchChoice> choice_;
};

}  // namespace quorsel
