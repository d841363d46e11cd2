#include "host/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

// Hazard: libjpeg reports a fatal error by calling error_exit, which must not return. Ours
// longjmps back into decodeStream, the one function that called setjmp. A longjmp skips
// destructors, so decodeStream keeps no C++ object with a destructor alive across libjpeg calls;
// everything it changes after setjmp and reads after the jump lives behind its pointer arguments.

namespace
{

// A progressive file made of thousands of tiny scans takes minutes to decode; cameras write ~10.
constexpr int maxScans = 500;
// Rows asked of libjpeg at once.
constexpr int batchRows = 16;

struct ErrorManager {
    jpeg_error_mgr pub; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
};

[[noreturn]] void jumpBack(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// Warnings are counted, not printed (the default writes to stderr).
void countWarning(j_common_ptr cinfo, int level)
{
    if (level < 0)
        ++cinfo->err->num_warnings;
}

void limitScans(j_common_ptr cinfo)
{
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > maxScans)
        jumpBack(cinfo);
}

int orientationOf(j_decompress_ptr cinfo)
{
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
            std::memcmp(m->data, "Exif", 4) == 0)
            return exifOrientation(m->data, m->data_length);
    return 1;
}

// CMYK rows to Format_RGB32 in place. Adobe's applications write CMYK inverted (0 is full ink)
// and mark the file with their APP14 segment; other writers store plain values.
void convertCmykRows(JSAMPARRAY rows, int count, JDIMENSION width, bool inverted)
{
    for (int r = 0; r < count; ++r) {
        unsigned char *p = rows[r];
        for (JDIMENSION x = 0; x < width; ++x, p += 4) {
            unsigned c = p[0], m = p[1], y = p[2], k = p[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            p[0] = static_cast<unsigned char>((y * k + 127) / 255); // blue
            p[1] = static_cast<unsigned char>((m * k + 127) / 255); // green
            p[2] = static_cast<unsigned char>((c * k + 127) / 255); // red
            p[3] = 0xff;
        }
    }
}

void decodeStream(j_decompress_ptr cinfo, ErrorManager *errors, jpeg_progress_mgr *progress,
                  const unsigned char *data, size_t size, const JpegDecodeSteps *steps,
                  JpegDecodeResult *out)
{
    cinfo->err = jpeg_std_error(&errors->pub);
    errors->pub.error_exit = jumpBack;
    errors->pub.emit_message = countWarning;
    if (setjmp(errors->jump)) {
        out->outcome = out->rowsDone > 0 ? JpegOutcome::partial : JpegOutcome::failed;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = maxJpegMemory;
    progress->progress_monitor = limitScans;
    cinfo->progress = progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xffff); // Exif
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xffff); // ICC profile
    jpeg_read_header(cinfo, TRUE);

    out->header.size =
        QSize(static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height));
    out->header.orientation = orientationOf(cinfo);
    JOCTET *icc = nullptr;
    unsigned iccLength = 0;
    if (jpeg_read_icc_profile(cinfo, &icc, &iccLength) && icc) {
        out->header.iccProfile.assign(reinterpret_cast<const char *>(icc), iccLength);
        std::free(icc); // libjpeg hands the profile over in memory from malloc
    }
    int denominator = 0;
    if (cinfo->image_width > 0 && cinfo->image_height > 0 &&
        static_cast<long long>(cinfo->image_width) * cinfo->image_height <= maxJpegPixels)
        denominator = steps->chooseScale(out->header);
    if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) {
        out->outcome = JpegOutcome::refused;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    cinfo->scale_num = 1;
    cinfo->scale_denom = static_cast<unsigned>(denominator);
    bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX; // BGRX is Format_RGB32's layout
    jpeg_calc_output_dimensions(cinfo);
    if (!steps->begin(
            QSize(static_cast<int>(cinfo->output_width), static_cast<int>(cinfo->output_height)))) {
        out->outcome = JpegOutcome::refused;
        jpeg_destroy_decompress(cinfo);
        return;
    }
    jpeg_start_decompress(cinfo);
    JSAMPARRAY rows = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo),
                                                  JPOOL_IMAGE, cinfo->output_width * 4, batchRows);
    while (cinfo->output_scanline < cinfo->output_height) {
        int first = static_cast<int>(cinfo->output_scanline);
        int count = static_cast<int>(jpeg_read_scanlines(cinfo, rows, batchRows));
        if (count <= 0)
            break;
        if (cmyk)
            convertCmykRows(rows, count, cinfo->output_width, cinfo->saw_Adobe_marker);
        steps->rows(rows, first, count);
        out->rowsDone = first + count;
    }
    jpeg_finish_decompress(cinfo);
    out->outcome = errors->pub.num_warnings > 0 ? JpegOutcome::repaired : JpegOutcome::complete;
    jpeg_destroy_decompress(cinfo);
}

} // namespace

JpegDecodeResult decodeJpeg(const unsigned char *data, size_t size, const JpegDecodeSteps &steps)
{
    JpegDecodeResult result;
    if (!data || size == 0)
        return result;
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    jpeg_progress_mgr progress{};
    decodeStream(&cinfo, &errors, &progress, data, size, &steps, &result);
    return result;
}

int exifOrientation(const unsigned char *data, size_t size)
{
    // "Exif\0\0", then a TIFF header: byte order, 42, the offset of the first directory.
    if (!data || size < 6 + 8 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return 1;
    const unsigned char *tiff = data + 6;
    size_t length = size - 6;
    bool little;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        little = false;
    else
        return 1;
    auto u16 = [&](size_t at) -> unsigned {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto u32 = [&](size_t at) -> size_t {
        return little ? size_t(u16(at)) | size_t(u16(at + 2)) << 16
                      : size_t(u16(at)) << 16 | size_t(u16(at + 2));
    };
    if (u16(2) != 42)
        return 1;
    size_t directory = u32(4);
    if (directory < 8 || directory > length - 2)
        return 1;
    unsigned entries = u16(directory);
    for (unsigned i = 0; i < entries; ++i) {
        size_t entry = directory + 2 + 12 * size_t(i);
        if (entry + 12 > length)
            break;
        if (u16(entry) != 0x0112) // Orientation
            continue;
        unsigned type = u16(entry + 2);
        size_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}
