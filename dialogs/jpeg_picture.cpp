#include "jpeg_picture.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h uses FILE without including it
#include <new>

#include <jpeglib.h>

namespace trellikon {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Everything that changes between setjmp and a longjmp lives here, in the
// caller's frame, never in a local of the function that calls setjmp: such
// locals would have indeterminate values after the jump.
struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    bool created;
};

[[noreturn]] void giveUp(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onError(j_common_ptr cinfo) {
    giveUp(cinfo);
}

void onMessage(j_common_ptr cinfo, int level) {
    // Level -1 is a warning: damaged data that libjpeg would otherwise paper
    // over (a file cut short gets an invented end). Levels 0 and up are traces.
    if (level < 0)
        giveUp(cinfo);
}

void noOutput(j_common_ptr) {}

// Only plain values in this frame: a longjmp lands back in it.
bool run(Decoder& d, std::span<const std::uint8_t> data, JpegPicture& out) {
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = onError;
    d.err.pub.emit_message = onMessage;
    d.err.pub.output_message = noOutput;
    if (setjmp(d.err.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    d.created = true;
    jpeg_mem_src(&d.cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    if (d.cinfo.image_width > unsigned(kJpegMaxSide) ||
        d.cinfo.image_height > unsigned(kJpegMaxSide)) {
        std::snprintf(d.err.message, sizeof d.err.message, "Picture too large: %u x %u",
                      d.cinfo.image_width, d.cinfo.image_height);
        return false;
    }
    d.cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d.cinfo);
    if (d.cinfo.output_components != 3) {
        std::snprintf(d.err.message, sizeof d.err.message, "Unexpected %d output components",
                      d.cinfo.output_components);
        return false;
    }
    const std::size_t stride = std::size_t(d.cinfo.output_width) * 3;
    out.rgb.resize(stride * d.cinfo.output_height);
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = out.rgb.data() + stride * d.cinfo.output_scanline;
        jpeg_read_scanlines(&d.cinfo, &row, 1);
    }
    jpeg_finish_decompress(&d.cinfo);
    out.width = int(d.cinfo.output_width);
    out.height = int(d.cinfo.output_height);
    return true;
}

} // namespace

JpegDecodeResult decodeJpeg(std::span<const std::uint8_t> data) {
    JpegDecodeResult result;
    Decoder d{};
    try {
        result.ok = run(d, data, result.picture);
        if (!result.ok)
            result.error = d.err.message;
    } catch (const std::bad_alloc&) {
        result.error = "Not enough memory for the picture";
    }
    if (d.created)
        jpeg_destroy_decompress(&d.cinfo);
    if (!result.ok)
        result.picture = JpegPicture{};
    return result;
}

} // namespace trellikon
