#pragma once
// The password-change window "密码修改": the station password is replaced once the old one has
// been typed correctly.

// Builds the window afresh, shows it modally and returns once it has been destroyed.
void showPasswordChangeWindow();
// The "确定" button: checks the old password; on a match stores the new one, reports it and
// closes the window. A refusal or a failed store leaves the window open with a message.
void submitPasswordChange();

// The message when the new password could not be stored; dat.ini still holds the old one.
inline constexpr const char *passwordNotStoredMessage = "密码保存失败";
