#include "bench/codec/LibjpegFloor.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace bmp2jpg::bench {

std::vector<std::uint8_t> EncodeBgrWithLibjpeg(const std::vector<std::uint8_t>& bgr, std::uint32_t width,
    std::uint32_t height)
{
    // The default error handler ends the program, which suits a benchmark.
    jpeg_error_mgr errors;
    jpeg_compress_struct cinfo;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t rowBytes = std::size_t{width} * 3;
    for (std::uint32_t y = 0; y < height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(&bgr[y * rowBytes]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<std::uint8_t> jpeg(buffer, buffer + size);
    std::free(buffer);
    jpeg_destroy_compress(&cinfo);
    return jpeg;
}

} // namespace bmp2jpg::bench
