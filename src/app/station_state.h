#pragma once
// The one process-wide record that every station command reads and writes (GUI thread only).

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct StationState {
    // Identifiers of the hot-key registrations, in the order Enter, Delete, Left, Right.
    std::array<int32_t, 4> hotkeyIds{0, 0, 0, 0};
    // Bare file names of the current source folder's photos, in the file system's order.
    // Positions are 1-based in the station's commands: entry p is photoList[p - 1].
    std::vector<std::string> photoList;
    std::string customer;     // the chosen customer folder, directly under the photo root
    std::string photoRoot;    // ends with "/" once the customers have been listed
    int32_t currentIndex = 0; // 1-based position of the photo on the canvas; 0 = none
    int32_t loggedIn = 0;
};

StationState &station();
