#pragma once
// Placeholder until the password-change window lands.
void showPasswordChangeWindow();
