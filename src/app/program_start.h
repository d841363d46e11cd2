#pragma once
// The process frame: start, the message loop, and the ways the process ends.

// Starts the station and runs its message loop; never returns (the process ends through
// quitStation's path with the loop's exit code).
[[noreturn]] void programStart(int argc, char **argv);
// Ends the process with exit code 0; the exit clean-up runs first.
[[noreturn]] void quitStation();
// Releases the texts held by the station state; runs exactly once when the process ends.
void cleanUpAtExit();
// Host initialisation shared by the station and the tests: application attributes, fonts.
void initialiseHost();
