// The settings reader on arbitrary file content: the station's own key, and names with blanks,
// other case and bytes of code page 936.
#include "host/ini_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    const char *const queries[][2] = {{"设置", "图片目录"},
                                      {" 设置 ", "图片目录 "},
                                      {"Settings", "PATH"},
                                      {"", ""},
                                      {"\xC9\xE8\xD6\xC3", "\xCD\xBC\xC6\xAC\xC4\xBF\xC2\xBC"}};
    for (const auto &query : queries) {
        std::string value = iniValueFromText(text, query[0], query[1], "default");
        if (value.size() > 10239)
            std::abort(); // values are cut to the reader's limit
    }
    return 0;
}
