#pragma once
// Placeholder until the login window lands.
void showLoginWindow();
