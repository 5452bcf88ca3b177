// GoogleTest's main, except that a run with skipped tests and no failure
// ends with the status ctest reports as skipped.
#include "tests/support/prerequisites.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return testsupport::exitStatus(RUN_ALL_TESTS());
}
