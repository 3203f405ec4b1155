// The test program's main: one application object on the offscreen platform for
// every test (also when the test list is read at build time).
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "tests/support/temp_dir.h"
#include "ui/qt/template_dialog.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A desktop session has a runtime folder private to its user; a login shell, su
    // or cron has none, and Qt would make one in /tmp and leave it there.
    std::optional<quorsel::testing::TempDir> runtime;
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr && !runtime.emplace().path().empty()) {
        std::filesystem::permissions(runtime->path(), std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime->path().c_str(), 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start the test program anew for the one test, with its own
    // application object.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    quorsel::RegisterTemplateFont();
    return RUN_ALL_TESTS();
}
