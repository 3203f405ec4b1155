#include "ui/qt/template_dialog.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QVariant>

namespace quorsel {

namespace {

// The 52 letters the dialog manager averages over.
constexpr const char* BASE_UNIT_SAMPLE = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// MulDiv(value, numerator, denominator) for non-negative denominators: the exact
// quotient rounded half away from zero.
int MulDiv(int value, int numerator, int denominator) {
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    long long rounded = product >= 0 ? (product + half) / denominator : (product - half) / denominator;
    return static_cast<int>(rounded);
}

}  // namespace

void RegisterTemplateFont() {
    static const bool registered = [] {
        QFont::insertSubstitution(QString::fromUtf8(TEMPLATE_FONT_FACE), QString::fromUtf8(TEMPLATE_FONT_SUBSTITUTE));
        return true;
    }();
    static_cast<void>(registered);
}

QFont TemplateFont(int pointSize) {
    RegisterTemplateFont();
    QFont font(QString::fromUtf8(TEMPLATE_FONT_FACE));
    font.setPointSize(pointSize);
    return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
    QFontMetrics metrics(font);
    int sampleWidth = metrics.horizontalAdvance(QString::fromLatin1(BASE_UNIT_SAMPLE));
    BaseUnits units;
    units.x = (sampleWidth / 26 + 1) / 2;
    units.y = metrics.height();
    return units;
}

QRect DialogUnitsToPixels(const BaseUnits& units, int x, int y, int width, int height) {
    return QRect(MulDiv(x, units.x, 4), MulDiv(y, units.y, 8), MulDiv(width, units.x, 4), MulDiv(height, units.y, 8));
}

QIcon ApplicationIcon() {
    // A blue tile with a white "Q", drawn at the two sizes captions and the
    // version box use.
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2A, 0x6F, 0xB0));
        painter.drawRoundedRect(QRectF(0.5, 0.5, size - 1.0, size - 1.0), size / 6.0, size / 6.0);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setBold(true);
        font.setPixelSize(size * 3 / 4);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("Q"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

TemplateDialog::TemplateDialog(int resourceId, const QString& caption, int pointSize, int widthUnits,
                               int heightUnits, QWidget* parent)
    : QDialog(parent), resourceId_(resourceId) {
    setObjectName(QStringLiteral("dialog%1").arg(resourceId));
    setProperty("dialogId", resourceId);
    setWindowTitle(caption);
    // Title bar with system menu and close box only: no minimise, maximise or help.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    QFont font = TemplateFont(pointSize);
    setFont(font);
    units_ = BaseUnitsOf(font);
    QRect size = DialogUnitsToPixels(units_, 0, 0, widthUnits, heightUnits);
    setFixedSize(size.width(), size.height());
}

QWidget* TemplateDialog::control(int id) const {
    for (QWidget* widget : controls_) {
        if (widget->property("controlId").toInt() == id) return widget;
    }
    return nullptr;
}

void TemplateDialog::accept() { done(RESULT_OK); }

void TemplateDialog::reject() { done(RESULT_CANCEL); }

void TemplateDialog::Place(int id, QWidget* widget, UnitRect rect, unsigned flags) {
    widget->setParent(this);
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    widget->setProperty("controlId", id);
    widget->setGeometry(DialogUnitsToPixels(units_, rect.x, rect.y, rect.width, rect.height));

    const bool decoration = qobject_cast<QGroupBox*>(widget) != nullptr || qobject_cast<QLabel*>(widget) != nullptr;
    if (decoration) {
        // Frames and labels let clicks through to the controls they overlap, and are
        // drawn beneath them.
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget->setFocusPolicy(Qt::NoFocus);
    } else if (flags & TAB_STOP) {
        widget->setFocusPolicy(Qt::StrongFocus);
    } else if (qobject_cast<QAbstractButton*>(widget) != nullptr || qobject_cast<QLineEdit*>(widget) != nullptr) {
        widget->setFocusPolicy(Qt::ClickFocus);
    }
    if (qobject_cast<QGroupBox*>(widget) != nullptr) widget->lower();
    if (flags & HIDDEN) widget->setVisible(false);
    if (flags & DISABLED) widget->setEnabled(false);
    controls_.push_back(widget);
}

void TemplateDialog::FinishTemplate() {
    QWidget* previous = nullptr;
    for (QWidget* widget : controls_) {
        if (widget->focusPolicy() == Qt::NoFocus) continue;
        if (previous != nullptr) setTabOrder(previous, widget);
        previous = widget;
    }
}

}  // namespace quorsel
