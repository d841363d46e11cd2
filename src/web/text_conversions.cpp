// The one place that uses OpenCC.
#include "web/text_conversions.h"

#include "host/codepage.h"

#include <mutex>
#include <opencc/opencc.h>

namespace
{

std::string untilZero(const std::string &text)
{
    return text.substr(0, text.find('\0'));
}

// Traditional to simplified Chinese with OpenCC's t2s tables; the converter is opened once and
// kept for the life of the process (opening it loads the dictionaries). Without the tables the
// text stays as it is.
std::string traditionalToSimplified(const std::string &utf8)
{
    static std::mutex mutex;
    static opencc_t converter = reinterpret_cast<opencc_t>(-1);
    static bool opened = false;
    std::lock_guard lock(mutex);
    if (!opened) {
        converter = opencc_open("t2s.json");
        opened = true;
    }
    if (converter == reinterpret_cast<opencc_t>(-1))
        return utf8;
    char *converted = opencc_convert_utf8(converter, utf8.data(), utf8.size());
    if (!converted)
        return utf8;
    std::string out(converted);
    opencc_convert_utf8_free(converted);
    return out;
}

} // namespace

std::string utf8ToGbk(const std::string &text)
{
    return convertText(untilZero(text), "UTF-8", "CP936", Unconvertible::question).value_or("");
}

std::string big5ToSimplifiedGbk(const std::string &text)
{
    std::string utf8 =
        convertText(untilZero(text), "CP950", "UTF-8", Unconvertible::stop).value_or("");
    return convertText(traditionalToSimplified(utf8), "UTF-8", "CP936", Unconvertible::stop)
        .value_or("");
}
