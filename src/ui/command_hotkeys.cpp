// Placeholder until the hot-key work lands.
#include "ui/command_hotkeys.h"

void registerCommandHotkeys() {}
void dispatchHotkey(int, int) {}
