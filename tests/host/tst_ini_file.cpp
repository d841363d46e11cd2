// cif.ini as studios really have it: written on Linux or by Windows Notepad.
#include "host/ini_file.h"

#include "host/codepage.h"

#include <gtest/gtest.h>

TEST(IniFile, EncodingsAndLineEnds)
{
    const std::string utf8 = "[设置]\n图片目录=/srv/相片/\n";
    const std::string cp936 =
        *convertText("[设置]\r\n图片目录=/srv/相片/\r\n", "UTF-8", "CP936", Unconvertible::fail);
    for (const std::string &text : {utf8, "\xEF\xBB\xBF" + utf8, cp936})
        EXPECT_EQ(iniValueFromText(text, "设置", "图片目录", ""), "/srv/相片/");
}

TEST(IniFile, NamesAndValuesAsTheProfileReaderTakesThem)
{
    struct Case {
        std::string text, expected;
    } cases[] = {
        {"[设置]\n图片目录=\n", ""},
        {"[设置]\n其他=1\n", ""},                          // key missing
        {"[别的]\n图片目录=/x\n", ""},                     // section missing
        {"", ""},                                          // no file
        {"  [ 设置 ]  \n  图片目录  =  /x y  \n", "/x y"}, // blanks around names and values
        {"[Settings]\nPATH=/x\n", ""},
        {"[设置]\n;图片目录=/old\n图片目录=/new\n", "/new"},
        {"[设置]\n图片目录=\"/quoted\"\n", "/quoted"},
        {"[设置]\n图片目录=/first\n图片目录=/second\n", "/first"},
        {"[设置]\n图片目录=a=b\n", "a=b"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(iniValueFromText(c.text, "设置", "图片目录", ""), c.expected) << c.text;
    EXPECT_EQ(iniValueFromText("[settings]\npath=/x\n", "SETTINGS", "Path", ""), "/x");
}

TEST(IniFile, OverLongValueIsCut)
{
    std::string value(20000, 'a');
    EXPECT_EQ(iniValueFromText("[设置]\n图片目录=" + value + "\n", "设置", "图片目录", "").size(),
              10239u);
}
