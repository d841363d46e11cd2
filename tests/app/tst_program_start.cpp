// The ways the process ends: at once, with its exit code, after the clean-up ran once.
#include "app/program_start.h"
#include "app/settings.h"
#include "app/station_state.h"
#include "host/host_services.h"

#include <cstdio>
#include <gtest/gtest.h>

TEST(ProgramStart, QuitBeforeTheMessageLoopEndsWithCodeZeroAfterTheCleanUp)
{
    EXPECT_EXIT(
        {
            station().photoList = {"a.jpg"};
            host().setExitCleanUp([] {
                cleanUpAtExit();
                std::fprintf(stderr, "clean-up ran, %zu left\n", station().photoList.size());
            });
            quitStation();
        },
        ::testing::ExitedWithCode(0), "clean-up ran, 0 left\n$");
}

TEST(ProgramStart, CleanUpRunsOnceWhicheverWayTheProcessEnds)
{
    EXPECT_EXIT(
        {
            host().setExitCleanUp([] {
                static int runs = 0;
                std::fprintf(stderr, "clean-up %d\n", ++runs);
            });
            host().runExitCleanUp(); // the message loop ended
            host().endProcess(0);
        },
        ::testing::ExitedWithCode(0), "clean-up 1\n$");
}

TEST(ProgramStart, SettingsLiveBesideTheExecutable)
{
    EXPECT_EQ(settingsPath(), host().runDirectory() + "/cif.ini");
    EXPECT_NE(host().runDirectory().back(), '/');
}
