#include "platform/gfx/ImageCodec.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "platform/core/Bundle.h"

namespace quorbit::platform::ImageCodec {
namespace {

constexpr const char* kDomain = "quorbit.image";
constexpr long kMaxPixels = 1L << 28;  // refuse absurd sizes before allocating

Error imageError(long code, const std::string& message) {
    return Error::make(kDomain, code, message);
}

struct PngReadState {
    const std::string* bytes;
    size_t offset;
    std::string error;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (state->offset + length > state->bytes->size()) png_error(png, "truncated PNG data");
    std::memcpy(out, state->bytes->data() + state->offset, length);
    state->offset += length;
}

void pngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
    if (state) state->error = message;
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

}  // namespace

Result<Image> decode(const std::string& bytes) {
    if (bytes.size() >= 8 && !png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8))
        return decodePng(bytes);
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xD8)
        return decodeJpeg(bytes);
    return imageError(1, "not a PNG or JPEG image");
}

Result<Image> decodePng(const std::string& bytes) {
    PngReadState state{&bytes, 0, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    if (!png) return imageError(2, "out of memory");
    png_infop info = png_create_info_struct(png);
    Image image;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return imageError(3, "corrupt PNG image: " + state.error);
    }
    png_set_read_fn(png, &state, pngRead);
    png_read_info(png, info);
    png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || long(width) * long(height) > kMaxPixels)
        png_error(png, "unsupported image size");
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != width * 4) png_error(png, "unexpected row layout");
    image = Image(int(width), int(height));
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] = image.pixel(0, int(y));
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

namespace {
struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegErrorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->jump, 1);
}

void jpegSilence(j_common_ptr, int) {}
}  // namespace

Result<Image> decodeJpeg(const std::string& bytes) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jpegErrorExit;
    error.base.emit_message = jpegSilence;
    error.message[0] = 0;
    Image* volatile image = new Image();  // survives the longjmp; freed on both paths
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        delete image;
        return imageError(4, std::string("corrupt JPEG image: ") + error.message);
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    if (long(info.output_width) * long(info.output_height) > kMaxPixels) {
        std::strcpy(error.message, "unsupported image size");
        std::longjmp(error.jump, 1);
    }
    *image = Image(int(info.output_width), int(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->pixel(0, int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    Image result = std::move(*image);
    delete image;
    return result;
}

Result<Image> readFile(const std::filesystem::path& path) {
    auto bytes = platform::readFile(path);
    if (!bytes) return imageError(5, "cannot read " + path.string());
    auto image = decode(*bytes);
    if (!image)
        return imageError(image.error().code,
                          path.string() + ": " + image.error().localizedDescription());
    return image;
}

namespace {
void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}
void pngFlush(png_structp) {}
}  // namespace

Result<std::string> encodePng(const Image& image) {
    if (image.empty()) return imageError(6, "empty image");
    std::string out;
    PngReadState state{nullptr, 0, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    if (!png) return imageError(2, "out of memory");
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return imageError(7, "cannot encode PNG: " + state.error);
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    png_write_info(png, info);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.pixel(0, y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Result<std::string> encodeJpeg(const Image& image, int quality, const std::string& app1) {
    if (image.empty()) return imageError(6, "empty image");
    if (app1.size() > 65533) return imageError(8, "cannot encode JPEG: APP1 segment too long");
    jpeg_compress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jpegErrorExit;
    error.base.emit_message = jpegSilence;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        free(buffer);
        return imageError(8, std::string("cannot encode JPEG: ") + error.message);
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width());
    info.image_height = JDIMENSION(image.height());
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBA;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    if (!app1.empty()) info.write_JFIF_header = FALSE;
    jpeg_start_compress(&info, TRUE);
    if (!app1.empty())
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()),
                          static_cast<unsigned>(app1.size()));
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.pixel(0, int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string out(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return out;
}

Result<void> writePng(const Image& image, const std::filesystem::path& path) {
    auto bytes = encodePng(image);
    if (!bytes) return bytes.error();
    std::string reason = writeFileAtomically(path, *bytes);
    if (!reason.empty()) return imageError(9, reason);
    return {};
}

}  // namespace quorbit::platform::ImageCodec
