#pragma once
// From the created main window to the first photo on the screen, and the two menu operations
// that reopen the access windows.

void startStation();
void changePassword();
void changeCustomer();
