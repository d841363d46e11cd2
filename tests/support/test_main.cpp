// Test entry: one QApplication for the whole program, as the station has.
#include "app/program_start.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    initialiseHost();
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests re-run the test program, so a forked child never inherits Qt's threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
