#pragma once
// The settings file cif.ini beside the executable; the station only reads it.

#include <string>

std::string settingsPath(); // the run directory + "/cif.ini"
// Section "设置", key "图片目录": the photo root, or "" when the file, section, key or value is
// missing.
std::string readPhotoRootSetting();
// Section "设置", key "统计地址": a studio's own statistics counter; "" when not set.
std::string readCounterUrlSetting();
