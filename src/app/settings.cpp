#include "app/settings.h"

#include "host/host_services.h"
#include "host/ini_file.h"

std::string settingsPath()
{
    return host().runDirectory() + "/cif.ini";
}

std::string readPhotoRootSetting()
{
    return readIniValue(settingsPath(), "设置", "图片目录", "");
}

std::string readCounterUrlSetting()
{
    return readIniValue(settingsPath(), "设置", "统计地址", "");
}
