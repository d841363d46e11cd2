// Placeholder until the password-change window lands.
#include "ui/password_window.h"
void showPasswordChangeWindow() {}
