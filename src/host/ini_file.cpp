#include "host/ini_file.h"

#include "host/codepage.h"
#include "host/host_services.h"

namespace
{

constexpr size_t maxValueBytes = 10239;

std::string trimmed(const std::string &text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20)
        --end;
    return text.substr(begin, end - begin);
}

bool sameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto fold = [](unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; };
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

std::string iniValueFromText(const std::string &raw, const std::string &section,
                             const std::string &key, const std::string &defaultValue)
{
    std::string text = raw;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    else if (!isValidUtf8(text))
        text = convertText(text, "CP936", "UTF-8", Unconvertible::question).value_or(text);

    std::string wantedSection = trimmed(section), wantedKey = trimmed(key);
    bool inSection = false;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            inSection = close != std::string::npos &&
                        sameName(trimmed(line.substr(1, close - 1)), wantedSection);
            continue;
        }
        if (!inSection)
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos || !sameName(trimmed(line.substr(0, equals)), wantedKey))
            continue;
        std::string value = trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (value.size() > maxValueBytes)
            value.resize(maxValueBytes);
        return value;
    }
    return defaultValue.size() > maxValueBytes ? defaultValue.substr(0, maxValueBytes)
                                               : defaultValue;
}

std::string readIniValue(const std::string &path, const std::string &section,
                         const std::string &key, const std::string &defaultValue)
{
    return iniValueFromText(host().readWholeFile(path), section, key, defaultValue);
}
