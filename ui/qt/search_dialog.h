// The search for access points (dialog 132): the list of access points found,
// sorted by address, a progress bar and state line, "再検索", OK and Cancel. The
// search runs on its own thread from the first showing; the shared search model
// says what the controls show.
#pragma once

#include <optional>

#include "ui/qt/template_dialog.h"
#include "ui/search_model.h"
#include "ui/search_runner.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QShowEvent;
class QTreeWidget;

namespace quorsel {

class SearchDialog : public TemplateDialog {
    Q_OBJECT

public:
    explicit SearchDialog(SearchRunner::Search search, QWidget* parent = nullptr);
    ~SearchDialog() override;

    // After OK: what the chosen row hands to the settings.
    const std::optional<SearchChoice>& choice() const { return choice_; }
    const SearchModel& model() const { return model_; }

    // OK chooses the selected row; OK and Cancel stop a search that still runs.
    void accept() override;
    void reject() override;

public slots:
    // Starts a (new) search: "再検索".
    void SearchAgain();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void TakeEvents();
    void ShowState();
    std::optional<size_t> SelectedRow() const;
    void ChooseRow(size_t row);

    SearchModel model_;
    SearchRunner runner_;
    std::optional<SearchChoice> choice_;
    QTreeWidget* list_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QLabel* state_ = nullptr;
    QPushButton* again_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace quorsel
