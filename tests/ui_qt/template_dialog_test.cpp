// Dialog units: base units from the font, and the conversion to pixels.
#include "ui/qt/template_dialog.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

namespace quorsel::testing {
namespace {

TEST(DialogUnitsTest, ConversionScalesByBaseUnitsAndRoundsHalvesUp) {
    BaseUnits units{6, 13};
    // x·6/4 and y·13/8: 13·6/4 = 19.5 -> 20, 7·13/8 = 11.375 -> 11.
    EXPECT_EQ(DialogUnitsToPixels(units, 13, 7, 50, 14), QRect(20, 11, 75, 23));
    EXPECT_EQ(DialogUnitsToPixels(units, 0, 0, 243, 149), QRect(0, 0, 365, 242));
    EXPECT_EQ(DialogUnitsToPixels(BaseUnits{7, 16}, 1, 1, 2, 3), QRect(2, 2, 4, 6));  // 1.75, 2, 3.5, 6
}

TEST(DialogUnitsTest, BaseUnitsComeFromTheAverageLetterWidthAndTheFontHeight) {
    QFont font = TemplateFont(10);
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    BaseUnits units = BaseUnitsOf(font);
    EXPECT_EQ(units.x, (letters / 26 + 1) / 2);
    EXPECT_EQ(units.y, metrics.height());
    BaseUnits larger = BaseUnitsOf(TemplateFont(11));
    EXPECT_GE(larger.y, units.y);
}

TEST(DialogUnitsTest, TheTemplateFaceIsShownWithIpaPGothicAtTheTemplateSize) {
    QFont font = TemplateFont(9);
    EXPECT_EQ(font.family(), QString::fromUtf8("ＭＳ Ｐゴシック"));
    EXPECT_EQ(font.pointSize(), 9);
    EXPECT_EQ(QFontInfo(font).family(), "IPAPGothic");
}

}  // namespace
}  // namespace quorsel::testing
