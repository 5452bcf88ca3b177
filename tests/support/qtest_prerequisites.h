#pragma once
// REQUIRE_PREREQUISITE for Qt Test programs: a missing prerequisite skips
// outside CI and fails with CI=true, where a skip would read as passed.

#include "tests/support/prerequisites.h"

#include <QTest>

#define QREQUIRE_PREREQUISITE(available, what)                                                   \
    do {                                                                                         \
        if (!(available)) {                                                                      \
            if (::testsupport::inCi())                                                           \
                QFAIL(what " (CI=true: a missing prerequisite fails the test)");                 \
            else                                                                                 \
                QSKIP(what);                                                                     \
        }                                                                                        \
    } while (0)
