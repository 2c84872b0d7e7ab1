#include "codec/JpegEncoder.h"

#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <jpeglib.h>

#include <jerror.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's JCS_EXT_BGR input is needed"
#endif

namespace bmp2jpg {
namespace {

constexpr int kQuality = 90;

// libjpeg's error manager with the place its errors jump back to.
struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

// A destination that collects the encoded bytes in a vector.
struct ByteSink {
    jpeg_destination_mgr manager;
    std::vector<std::uint8_t>* bytes;
};

[[noreturn]] void JumpToTrap(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

void IgnoreMessage(j_common_ptr, int) {}

ByteSink& SinkOf(j_compress_ptr cinfo)
{
    return *reinterpret_cast<ByteSink*>(cinfo->dest);
}

bool TryResize(std::vector<std::uint8_t>& bytes, std::size_t size) noexcept
{
    try {
        bytes.resize(size);
        return true;
    } catch (...) {
        return false;
    }
}

// Exceptions must not cross libjpeg's C frames, so running out of memory is
// reported as libjpeg's own error.
void OfferSpace(j_compress_ptr cinfo, std::size_t used, std::size_t size)
{
    ByteSink& sink = SinkOf(cinfo);
    if (size <= used || !TryResize(*sink.bytes, size))
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    sink.manager.next_output_byte = sink.bytes->data() + used;
    sink.manager.free_in_buffer = size - used;
}

void StartSink(j_compress_ptr cinfo)
{
    // Four bits a pixel: more than quality 90 takes for most pictures.
    OfferSpace(cinfo, 0, std::size_t{cinfo->image_width} * cinfo->image_height / 2 + 4096);
}

boolean GrowSink(j_compress_ptr cinfo)
{
    const std::size_t used = SinkOf(cinfo).bytes->size();
    OfferSpace(cinfo, used, used * 2);
    return TRUE;
}

void FinishSink(j_compress_ptr cinfo)
{
    ByteSink& sink = SinkOf(cinfo);
    sink.bytes->resize(sink.bytes->size() - sink.manager.free_in_buffer);
}

// One libjpeg compressor, released on every path.
struct Compressor {
    ErrorTrap trap{};
    ByteSink sink{};
    jpeg_compress_struct cinfo{};
    bool created = false;

    explicit Compressor(std::vector<std::uint8_t>& output)
    {
        cinfo.err = jpeg_std_error(&trap.manager);
        trap.manager.error_exit = JumpToTrap;
        trap.manager.emit_message = IgnoreMessage;
        sink.manager.init_destination = StartSink;
        sink.manager.empty_output_buffer = GrowSink;
        sink.manager.term_destination = FinishSink;
        sink.bytes = &output;
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
    ~Compressor()
    {
        if (created)
            jpeg_destroy_compress(&cinfo);
    }
};

// libjpeg reports an error by a longjmp back into this frame, skipping the
// frames in between: neither this function nor anything it calls may hold an
// object with a destructor while libjpeg runs.
bool CompressRows(Compressor& c, BgrPicture& picture)
{
    if (setjmp(c.trap.jump) != 0)
        return false;
    jpeg_create_compress(&c.cinfo);
    c.created = true;
    c.cinfo.dest = &c.sink.manager;
    c.cinfo.image_width = picture.Width();
    c.cinfo.image_height = picture.Height();
    c.cinfo.input_components = 3;
    // The rows are blue, green, red already: no swap, same output as RGB.
    c.cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c.cinfo);
    jpeg_set_quality(&c.cinfo, kQuality, TRUE);
    c.cinfo.dct_method = JDCT_FLOAT;
    jpeg_start_compress(&c.cinfo, TRUE);
    for (JDIMENSION y = 0; y < c.cinfo.image_height; ++y) {
        // libjpeg only reads the rows it is given.
        JSAMPROW row = const_cast<JSAMPROW>(picture.Row(y));
        jpeg_write_scanlines(&c.cinfo, &row, 1);
    }
    jpeg_finish_compress(&c.cinfo);
    return true;
}

} // namespace

std::vector<std::uint8_t> EncodeJpeg(BgrPicture& picture)
{
    std::vector<std::uint8_t> jpeg;
    if (picture.Width() == 0 || picture.Height() == 0)
        return jpeg;
    Compressor compressor(jpeg);
    if (!CompressRows(compressor, picture))
        throw std::runtime_error("JPEG error #" + std::to_string(compressor.trap.manager.msg_code));
    return jpeg;
}

} // namespace bmp2jpg
