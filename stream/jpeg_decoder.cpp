#include "stream/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE without including it
#include <new>

#include <jerror.h>
#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;  // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    bool cutShort;
    bool corrupt;
};

[[noreturn]] void OnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void OnMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;  // trace messages
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:
        errors->cutShort = true;
        break;
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC:
        break;  // metadata, not pixel data
    default:
        errors->corrupt = true;
    }
}

JpegOutcome OutcomeOfError(int code)
{
    switch (code) {
    case JERR_OUT_OF_MEMORY:
        return JpegOutcome::OutOfMemory;
    case JERR_BAD_PRECISION:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_NOT_COMPILED:
        return JpegOutcome::NotAccepted;
    default:
        return JpegOutcome::Corrupt;
    }
}

// The decode proper. The error handler jumps back into this frame, which holds no
// object with a destructor (`grey` is the caller's), so the jump skips none.
JpegOutcome Decode(jpeg_decompress_struct& info, ErrorManager& errors, const unsigned char* bytes, std::size_t count,
                   cv::Mat& grey, int reduction)
{
    if (setjmp(errors.jump))
        return OutcomeOfError(errors.base.msg_code);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(count));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
        return JpegOutcome::Corrupt;
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK)
        return JpegOutcome::NotAccepted;
    // Grey is the luma plane as stored, the same the program has always read.
    info.out_color_space = JCS_GRAYSCALE;
    info.scale_num = 1;
    info.scale_denom = static_cast<unsigned int>(reduction);
    jpeg_start_decompress(&info);
    grey.create(static_cast<int>(info.output_height), static_cast<int>(info.output_width), CV_8UC1);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = grey.ptr(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return errors.cutShort ? JpegOutcome::CutShort : errors.corrupt ? JpegOutcome::Corrupt : JpegOutcome::Decoded;
}

}  // namespace

JpegOutcome DecodeJpegGrey(const unsigned char* bytes, std::size_t count, cv::Mat& grey, int reduction)
{
    if (reduction != 2 && reduction != 4 && reduction != 8)
        reduction = 1;
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnError;
    errors.base.emit_message = OnMessage;
    JpegOutcome outcome = JpegOutcome::Corrupt;
    try {
        outcome = Decode(info, errors, bytes, count, grey, reduction);
    } catch (const cv::Exception&) {
        outcome = JpegOutcome::OutOfMemory;  // the one thing Decode's own code can throw for
    } catch (const std::bad_alloc&) {
        outcome = JpegOutcome::OutOfMemory;
    }
    jpeg_destroy_decompress(&info);
    if (outcome != JpegOutcome::Decoded)
        grey.release();
    return outcome;
}
