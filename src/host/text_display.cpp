#include "host/text_display.h"

#include "host/codepage.h"

QString displayText(const std::string &bytes)
{
    if (isValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (auto utf8 = convertText(bytes, "CP936", "UTF-8", Unconvertible::fail))
        return QString::fromUtf8(utf8->data(), static_cast<qsizetype>(utf8->size()));
    QString shown;
    for (unsigned char c : bytes) {
        if (c < 0x80 && c >= 0x20)
            shown += QChar(c);
        else
            shown += QStringLiteral("\\x%1").arg(c, 2, 16, QChar('0'));
    }
    return shown;
}
