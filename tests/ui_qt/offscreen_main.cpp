// The test program's main: one application object on the offscreen platform for
// every test (also when the test list is read at build time).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "ui/qt/template_dialog.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start the test program anew for the one test, with its own
    // application object.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    quorsel::RegisterTemplateFont();
    return RUN_ALL_TESTS();
}
