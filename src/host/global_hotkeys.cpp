// Placeholder until the X11 grab lands.
#include "host/global_hotkeys.h"

bool grabGlobalKey(QWidget *, int, int, std::function<void()>)
{
    return false;
}
