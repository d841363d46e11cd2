#pragma once
// Colour management for the canvas: a photo that carries an ICC profile is converted from that
// profile to the display's colours (sRGB unless the X server publishes a display profile); a
// photo without one is taken to be in sRGB and left alone. Conversions are safe from any thread;
// transforms are built once per embedded profile and shared.

#include <QImage>
#include <cstddef>
#include <string>

// Sets the profile the canvas shows in; empty bytes, or bytes that are no usable RGB display
// profile, mean sRGB. Drops the cached transforms.
void setDisplayColourProfile(const std::string &iccBytes);

// GUI thread, once at start: takes the X server's display profile if it publishes one (else sRGB).
void loadDisplayColourProfile();

// The display profile the X server publishes (`_ICC_PROFILE` on the root window); empty when
// there is none or the session is not on X11. GUI thread only.
std::string readDisplayIccProfile();

// Converts `image` in place from the colours of `embeddedIcc` to the display's. Takes
// Format_RGB32, Format_ARGB32 (both 4 bytes a pixel, the faster) and Format_RGB888. Returns false
// and leaves the image as it is when the profile is empty, unusable (corrupt, or not an RGB
// profile) or the format is another, or when colour management is off.
bool convertToDisplayColours(QImage &image, const std::string &embeddedIcc);

// On by default; the benchmark switches it off to measure its cost.
void setColourManagementEnabled(bool enabled);
bool colourManagementEnabled();

// The Adobe RGB (1998) profile, for photos marked as Adobe RGB in their EXIF data but carrying
// no ICC profile of their own.
std::string adobeRgbIccProfile();

// For tests: how many transforms have been built since start.
size_t colourTransformsBuilt();
