// One QApplication for the window tests; pt-BR pinned for everything here.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/regional.h"
#include "tests/support/prerequisites.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("LC_ALL", "pt_BR.UTF-8", 1);
    QApplication app(argc, argv);
    platform::setProcessLocale("pt_BR.UTF-8");
    testing::InitGoogleTest(&argc, argv);
    return testsupport::exitStatus(RUN_ALL_TESTS());
}
