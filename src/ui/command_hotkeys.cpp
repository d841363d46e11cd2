#include "ui/command_hotkeys.h"

#include "app/station_state.h"
#include "catalogue/selection_commands.h"
#include "host/host_services.h"

namespace
{

struct CommandKey {
    int virtualKey;
    void (*command)();
};

// In the order of the slots of hotkeyIds.
const CommandKey commandKeys[4] = {
    {13, selectCurrent}, // Enter
    {46, deleteCurrent}, // Delete
    {37, showPrevious},  // Left
    {39, showNext},      // Right
};

} // namespace

void registerCommandHotkeys()
{
    for (int slot = 0; slot < 4; ++slot)
        station().hotkeyIds[slot] =
            host().registerHotkey(StationWindow::main, "标签1", 0, commandKeys[slot].virtualKey);
}

void dispatchHotkey(int32_t identifier, int32_t)
{
    // A refused key's slot holds 0, which no press carries: it must never match.
    if (identifier == 0)
        return;
    for (int slot = 0; slot < 4; ++slot)
        if (station().hotkeyIds[slot] == identifier)
            commandKeys[slot].command();
}
