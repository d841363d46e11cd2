#pragma once
// The login window "密码登入": the customer is chosen from the folders under the photo root and
// the station password typed; a match records the customer and the logged-in flag.

// Builds the window afresh, shows it modally and returns once it has been destroyed.
void showLoginWindow();
// Fills the customer list of the open window from the photo root and chooses its first entry.
void fillCustomerList();
// The "登入" button: checks the choice and the password; on a match stores the customer, sets
// the logged-in flag and closes the window. A refusal leaves the window open with a message.
void submitLogin();

// The message when dat.ini exists but cannot be read: nobody may log in or change the password.
inline constexpr const char *passwordFileUnreadableMessage = "密码文件无法读取";
