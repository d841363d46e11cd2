#pragma once
// Enter, Delete, Left and Right, taken for the whole desktop once the customer has logged in.

void registerCommandHotkeys();
void dispatchHotkey(int identifier, int extra);
