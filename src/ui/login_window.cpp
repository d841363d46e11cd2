// Placeholder until the login window lands.
#include "ui/login_window.h"
void showLoginWindow() {}
