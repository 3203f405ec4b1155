// Dialogs built from fixed templates: a caption, a font and size, and controls at
// positions given in dialog units, converted to pixels from the font's base units
// the way the Windows dialog manager does it.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>

#include <vector>

namespace quorsel {

// Modal results of the template dialogs.
constexpr int RESULT_OK = 1;
constexpr int RESULT_CANCEL = 2;
// The OK and Cancel buttons have the ids of the results they give.
constexpr int ID_OK_BUTTON = 1;
constexpr int ID_CANCEL_BUTTON = 2;
// The never-visible button of the progress and power-on dialogs whose id names the
// status command.
constexpr int ID_STATUS_COMMAND = 1019;

// The face the templates name. It does not exist on Linux; RegisterTemplateFont
// maps it to IPAPGothic, a proportional gothic with the same metrics family.
inline constexpr const char* TEMPLATE_FONT_FACE = "ＭＳ Ｐゴシック";
inline constexpr const char* TEMPLATE_FONT_SUBSTITUTE = "IPAPGothic";

// Registers the substitute for the template face (once per process).
void RegisterTemplateFont();
// The template font at pointSize points.
QFont TemplateFont(int pointSize);

// Dialog base units of a font: baseX is the average width of the Latin letters,
// baseY the font's height.
struct BaseUnits {
    int x = 0;
    int y = 0;
};
BaseUnits BaseUnitsOf(const QFont& font);
// x·baseX/4 and y·baseY/8, rounded as MulDiv rounds.
QRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int width, int height);

// The application icon shown in window captions and the version box.
QIcon ApplicationIcon();

// Position of a control in dialog units.
struct UnitRect {
    int x, y, width, height;
};

// A dialog whose controls are placed at absolute positions in template order. Every
// control gets the object name "control<ID>" and the dynamic property "controlId".
// Its results are RESULT_OK (accept) and RESULT_CANCEL (reject, close box, Escape).
class TemplateDialog : public QDialog {
    Q_OBJECT

public:
    TemplateDialog(int resourceId, const QString& caption, int pointSize, int widthUnits, int heightUnits,
                   QWidget* parent = nullptr);

    int resourceId() const { return resourceId_; }
    const BaseUnits& baseUnits() const { return units_; }
    // Every control in template order.
    const std::vector<QWidget*>& controls() const { return controls_; }
    // The first control with this id, or nullptr.
    QWidget* control(int id) const;
    template <class W>
    W* controlAs(int id) const {
        return qobject_cast<W*>(control(id));
    }

    void accept() override;
    void reject() override;

protected:
    enum Flags : unsigned {
        TAB_STOP = 1u << 0,     // reached with Tab
        HIDDEN = 1u << 1,       // not visible
        DISABLED = 1u << 2,     // greyed
    };
    // Places widget at the template position and appends it to the template order.
    template <class W>
    W* Add(int id, W* widget, UnitRect rect, unsigned flags = 0) {
        Place(id, widget, rect, flags);
        return widget;
    }
    // Chains the tab order through the controls in template order; call once after
    // the last Add.
    void FinishTemplate();

private:
    void Place(int id, QWidget* widget, UnitRect rect, unsigned flags);

    int resourceId_;
    BaseUnits units_;
    std::vector<QWidget*> controls_;
};

}  // namespace quorsel
