#pragma once
// The four command keys, taken for the whole desktop once the customer has logged in: Enter
// selects, Delete deletes, Left shows the previous photo and Right the next.

#include <cstdint>

// Registers the four keys in the order Enter, Delete, Left, Right as global keys of the main
// window received by its label 标签1, storing each identifier (0 when refused) in hotkeyIds.
// Called once; the keys stay taken until the process ends.
void registerCommandHotkeys();
// Runs the command of the key whose identifier this is; `extra` is ignored. The feedback event of
// the main window's 标签1 runs it for every press.
void dispatchHotkey(int32_t identifier, int32_t extra);
