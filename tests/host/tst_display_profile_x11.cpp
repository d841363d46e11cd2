// The display profile published on the X server's root window decides the canvas colours.
#include "host/colour_management.h"

#include <QGuiApplication>
#include <QImage>
#include <QtGui/qguiapplication_platform.h>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace
{

xcb_connection_t *connection()
{
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t root()
{
    return xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
}

xcb_atom_t iccProfileAtom()
{
    const char *name = "_ICC_PROFILE";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection(), xcb_intern_atom(connection(), 0, strlen(name), name),
                              nullptr),
        std::free);
    return reply->atom;
}

// As a colour manager publishes it; a checked request so the property is set on return.
void publish(const std::string &bytes, xcb_atom_t type = XCB_ATOM_CARDINAL)
{
    xcb_void_cookie_t cookie =
        xcb_change_property_checked(connection(), XCB_PROP_MODE_REPLACE, root(), iccProfileAtom(),
                                    type, 8, uint32_t(bytes.size()), bytes.data());
    ASSERT_EQ(xcb_request_check(connection(), cookie), nullptr);
}

void withdraw()
{
    xcb_request_check(connection(),
                      xcb_delete_property_checked(connection(), root(), iccProfileAtom()));
}

class DisplayProfile : public ::testing::Test
{
  protected:
    void SetUp() override { ASSERT_NE(connection(), nullptr) << "needs an X server"; }
    void TearDown() override
    {
        withdraw();
        setDisplayColourProfile({});
    }
};

} // namespace

TEST_F(DisplayProfile, PublishedProfileIsReadWhole)
{
    withdraw();
    EXPECT_EQ(readDisplayIccProfile(), "");

    publish(adobeRgbIccProfile());
    EXPECT_EQ(readDisplayIccProfile(), adobeRgbIccProfile());

    // Larger than one read: the property comes in pieces.
    std::string large(3u << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 4096);
    publish(large);
    EXPECT_EQ(readDisplayIccProfile(), large);

    publish("not 8-bit cardinals", XCB_ATOM_STRING);
    EXPECT_EQ(readDisplayIccProfile(), "");
}

TEST_F(DisplayProfile, AdobeRgbDisplayShowsPhotosInItsColours)
{
    publish(adobeRgbIccProfile());
    loadDisplayColourProfile();

    // sRGB green is a duller green on an Adobe RGB display (worked out from the primaries).
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(srgb, nullptr, &size);
    std::string srgbBytes(size, '\0');
    cmsSaveProfileToMem(srgb, srgbBytes.data(), &size);
    cmsCloseProfile(srgb);
    QImage green(1, 1, QImage::Format_RGB32);
    green.fill(QColor(0, 255, 0));
    ASSERT_TRUE(convertToDisplayColours(green, srgbBytes));
    QColor shown = green.pixelColor(0, 0);
    EXPECT_NEAR(shown.red(), 144, 2);
    EXPECT_NEAR(shown.green(), 255, 2);
    EXPECT_NEAR(shown.blue(), 60, 2);

    // Adobe RGB photos are already in the display's colours.
    QImage adobe(1, 1, QImage::Format_RGB32);
    adobe.fill(QColor(100, 180, 100));
    EXPECT_TRUE(convertToDisplayColours(adobe, adobeRgbIccProfile()));
    EXPECT_EQ(adobe.pixelColor(0, 0), QColor(100, 180, 100));

    // Withdrawn: back to sRGB.
    withdraw();
    loadDisplayColourProfile();
    QImage again(1, 1, QImage::Format_RGB32);
    again.fill(QColor(0, 255, 0));
    EXPECT_TRUE(convertToDisplayColours(again, srgbBytes));
    EXPECT_EQ(again.pixelColor(0, 0), QColor(0, 255, 0));
}
