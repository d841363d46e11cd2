#pragma once
// Turns a byte text into something a widget can show. The bytes themselves are never changed.

#include <QString>
#include <string>

// UTF-8 when the bytes are valid UTF-8, else code page 936 (names unpacked from Windows
// archives), else the bytes with the undecodable ones escaped as \xNN.
QString displayText(const std::string &bytes);
