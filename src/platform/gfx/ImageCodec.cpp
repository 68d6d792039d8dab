#include "platform/gfx/ImageCodec.h"

#include <jpeglib.h>
#include <png.h>
// After jpeglib.h, whose configuration decides which messages exist.
#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>

#include "platform/core/Bundle.h"
#include "platform/core/Files.h"

namespace quorbit::platform::ImageCodec {
namespace {

Error imageError(ImageError code, const std::string& message) {
    return Error::make(code, message);
}

Error tooManyPixels(unsigned long width, unsigned long height) {
    return imageError(ImageError::TooManyPixels,
                      "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels; pictures of more than 16.8 megapixels (4096 x 4096) "
                          "are refused");
}

Error outOfMemory(unsigned long width, unsigned long height) {
    return imageError(ImageError::OutOfMemory, "not enough memory for a picture of " +
                                                   std::to_string(width) + " x " +
                                                   std::to_string(height) + " pixels");
}

bool tooLarge(unsigned long width, unsigned long height) {
    return std::uint64_t(width) * std::uint64_t(height) > std::uint64_t(kMaxPixels);
}

// Makes the picture (and, for libpng, pointers to its rows); false when the memory cannot be
// had. Kept out of line: the decoders hold setjmp points, and no exception may cross them.
__attribute__((noinline)) bool allocate(Image& image, int width, int height,
                                        std::vector<std::uint8_t*>* rows) {
    try {
        image = Image(width, height);
        if (rows) {
            rows->resize(std::size_t(height));
            for (int y = 0; y < height; ++y)
                (*rows)[std::size_t(y)] = image.pixel(0, y);
        }
        return true;
    } catch (const std::bad_alloc&) {
        image = Image();
        return false;
    }
}

// Where the decoders take their bytes from: memory, or an open file.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes; fewer only at the end of the data, or when reading failed (then
    // problem() says why).
    virtual std::size_t read(unsigned char* out, std::size_t size) = 0;
    const std::string& problem() const { return _problem; }

  protected:
    std::string _problem;
};

class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : _bytes(bytes) {}
    std::size_t read(unsigned char* out, std::size_t size) override {
        std::size_t n = std::min(size, _bytes.size() - _offset);
        if (n) std::memcpy(out, _bytes.data() + _offset, n);
        _offset += n;
        return n;
    }

  private:
    std::string_view _bytes;
    std::size_t _offset = 0;
};

// An open file, read no further than a limit: a file that grows while it is decoded is
// refused rather than followed.
class FileSource : public ByteSource {
  public:
    FileSource(int fd, std::uint64_t limit, std::string name)
        : _fd(fd), _left(limit), _limit(limit), _name(std::move(name)) {}
    std::size_t read(unsigned char* out, std::size_t size) override {
        if (!_problem.empty()) return 0;
        std::size_t want = std::size_t(std::min<std::uint64_t>(size, _left));
        auto got = readUpTo(_fd, out, want, _name);
        if (!got) {
            _problem = got.error().localizedDescription();
            return 0;
        }
        _left -= *got;
        if (*got == want && want < size) {
            unsigned char more;
            auto extra = readUpTo(_fd, &more, 1, _name);
            if (extra && *extra == 1)
                _problem = _name + " is larger than the limit of " + describeSize(_limit);
        }
        return *got;
    }

  private:
    int _fd;
    std::uint64_t _left, _limit;
    std::string _name;
};

// ---- PNG

struct PngReadState {
    ByteSource* source;
    std::string error;
};

void pngRead(png_structp png, png_bytep out, png_size_t length) {
    auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
    if (state->source->read(out, length) != length) png_error(png, "truncated PNG data");
}

void pngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
    if (state) state->error = message;
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// `signature` bytes of the PNG signature have been read from the source already.
Result<Image> readPng(ByteSource& source, int signature) {
    PngReadState state{&source, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    if (!png) return imageError(ImageError::OutOfMemory, "out of memory");
    png_infop info = png_create_info_struct(png);
    Image image;
    std::vector<png_bytep> rows;
    // Set between setjmp and a longjmp: volatile, so that the value survives the jump.
    volatile int refused = 0;  // 1: too many pixels, 2: out of memory
    volatile png_uint_32 width = 0, height = 0;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        if (!source.problem().empty()) return imageError(ImageError::Unreadable, source.problem());
        if (refused == 1) return tooManyPixels(width, height);
        if (refused == 2) return outOfMemory(width, height);
        return imageError(ImageError::CorruptPng, "corrupt PNG image: " + state.error);
    }
    png_set_read_fn(png, &state, pngRead);
    png_set_sig_bytes(png, signature);
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    if (width == 0 || height == 0) png_error(png, "unsupported image size");
    // The header is checked before any pixel memory is taken.
    if (tooLarge(width, height)) {
        refused = 1;
        png_error(png, "too many pixels");
    }
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != width * 4) png_error(png, "unexpected row layout");
    if (!allocate(image, int(width), int(height), &rows)) {
        refused = 2;
        png_error(png, "out of memory");
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

// ---- JPEG

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

// Warnings that mean part of the picture is missing end the decoding as errors: without
// this, a truncated or damaged file decodes "successfully" with grey where the data was.
// Harmless ones (unknown JFIF revision, stray bytes between markers) are let through.
void jpegWarning(j_common_ptr info, int level) {
    if (level >= 0) return;  // trace messages
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
#if JPEG_LIB_VERSION >= 70 || defined(D_ARITH_CODING_SUPPORTED)
        case JWRN_ARITH_BAD_CODE:
#endif
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
            jpegErrorExit(info);
            break;
        default:
            break;
    }
}

// A libjpeg source over a ByteSource. The bytes read to tell the format come first.
struct JpegSource {
    jpeg_source_mgr manager;
    ByteSource* source;
    JOCTET buffer[64 * 1024];
};

void jpegInitSource(j_decompress_ptr) {}
void jpegTermSource(j_decompress_ptr) {}

boolean jpegFill(j_decompress_ptr info) {
    auto* src = reinterpret_cast<JpegSource*>(info->src);
    std::size_t n = src->source->read(src->buffer, sizeof src->buffer);
    if (n == 0) {
        // The data ended early: the warning ends the decoding (see jpegWarning).
        WARNMS(info, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->manager.next_input_byte = src->buffer;
    src->manager.bytes_in_buffer = n;
    return TRUE;
}

void jpegSkip(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* manager = info->src;
    while (count > long(manager->bytes_in_buffer)) {
        count -= long(manager->bytes_in_buffer);
        (*manager->fill_input_buffer)(info);
    }
    manager->next_input_byte += count;
    manager->bytes_in_buffer -= std::size_t(count);
}

// CMYK rows as libjpeg gives them (Adobe files store the inks inverted) to RGBA, in place.
void cmykToRgba(std::uint8_t* row, int width, bool inverted) {
    for (int x = 0; x < width; ++x, row += 4) {
        unsigned c = row[0], m = row[1], y = row[2], k = row[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        row[0] = std::uint8_t((c * k + 127) / 255);
        row[1] = std::uint8_t((m * k + 127) / 255);
        row[2] = std::uint8_t((y * k + 127) / 255);
        row[3] = 255;
    }
}

// The smallest n of the scales n/8 libjpeg decodes at that keeps the longer side at least
// minSide pixels (8, the full size, when even that is smaller).
unsigned jpegScale(unsigned long width, unsigned long height, int minSide) {
    unsigned long longer = std::max(width, height);
    for (unsigned n = 1; n < 8; ++n)
        if ((longer * n + 7) / 8 >= (unsigned long)minSide) return n;
    return 8;
}

// The Exif orientation (1 to 8) in the saved APP1 segments; 1 where there is none.
int exifOrientationOf(const jpeg_decompress_struct& info) {
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 ||
            std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        const unsigned char* d = m->data + 6;
        std::size_t n = m->data_length - 6;
        bool little = d[0] == 'I' && d[1] == 'I';
        if (!little && !(d[0] == 'M' && d[1] == 'M')) return 1;
        auto u16 = [&](std::size_t at) {
            return little ? unsigned(d[at]) | unsigned(d[at + 1]) << 8
                          : unsigned(d[at]) << 8 | unsigned(d[at + 1]);
        };
        std::size_t ifd = little ? std::size_t(u16(4)) | std::size_t(u16(6)) << 16
                                 : std::size_t(u16(4)) << 16 | std::size_t(u16(6));
        if (ifd < 8 || ifd > n - 2) return 1;
        unsigned count = u16(ifd);
        for (unsigned i = 0; i < count; ++i) {
            std::size_t entry = ifd + 2 + 12 * std::size_t(i);
            if (entry + 12 > n) break;
            if (u16(entry) != 0x0112 || u16(entry + 2) != 3) continue;  // a SHORT orientation
            unsigned value = u16(entry + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
        return 1;
    }
    return 1;
}

// minSide > 0: decoded at a reduced scale (see readFileScaled); upright: turned as its Exif
// orientation says.
Result<Image> readJpeg(ByteSource& source, const unsigned char* head, std::size_t headSize,
                       int minSide = 0, bool upright = false) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = jpegErrorExit;
    error.base.emit_message = jpegWarning;
    error.message[0] = 0;
    auto input = std::make_unique<JpegSource>();
    Image* volatile image = new Image();  // survives the longjmp; freed on both paths
    volatile int refused = 0;             // 1: too many pixels, 2: out of memory
    volatile int orientation = 1;
    if (setjmp(error.jump)) {
        unsigned long width = info.image_width, height = info.image_height;
        jpeg_destroy_decompress(&info);
        delete image;
        if (!source.problem().empty()) return imageError(ImageError::Unreadable, source.problem());
        if (refused == 1) return tooManyPixels(width, height);
        if (refused == 2 || error.base.msg_code == JERR_NO_BACKING_STORE ||
            error.base.msg_code == JERR_OUT_OF_MEMORY)
            return outOfMemory(width, height);
        return imageError(ImageError::CorruptJpeg,
                          std::string("corrupt JPEG image: ") + error.message);
    }
    jpeg_create_decompress(&info);
    // Multi-scan files keep every coefficient of the picture while they are decoded; past
    // this, decoding stops with an error instead of growing further.
    info.mem->max_memory_to_use = long(kMaxJpegWorkingMemory);
    input->source = &source;
    input->manager.init_source = jpegInitSource;
    input->manager.fill_input_buffer = jpegFill;
    input->manager.skip_input_data = jpegSkip;
    input->manager.resync_to_restart = jpeg_resync_to_restart;
    input->manager.term_source = jpegTermSource;
    input->manager.next_input_byte = head;
    input->manager.bytes_in_buffer = headSize;
    info.src = &input->manager;
    if (upright) jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    orientation = upright ? exifOrientationOf(info) : 1;
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    if (minSide > 0) {
        // The inverse transform itself works at the smaller size: the full picture is never
        // made, and the limit on pixels applies to what is made.
        info.scale_num = jpegScale(info.image_width, info.image_height, minSide);
        info.scale_denom = 8;
    }
    jpeg_calc_output_dimensions(&info);
    if (tooLarge(info.output_width, info.output_height)) {
        refused = 1;
        std::longjmp(error.jump, 1);
    }
    jpeg_start_decompress(&info);
    if (!allocate(*image, int(info.output_width), int(info.output_height), nullptr)) {
        refused = 2;
        std::longjmp(error.jump, 1);
    }
    while (info.output_scanline < info.output_height) {
        int y = int(info.output_scanline);
        JSAMPROW row = image->pixel(0, y);
        if (jpeg_read_scanlines(&info, &row, 1) == 1 && cmyk)
            cmykToRgba(row, int(info.output_width), info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    Image result = std::move(*image);
    delete image;
    if (orientation != 1) return result.orientedForExif(orientation);
    return result;
}

// Tells the format by its signature, then decodes.
Result<Image> readImage(ByteSource& source, int minSide = 0, bool upright = false) {
    unsigned char head[8];
    std::size_t n = source.read(head, sizeof head);
    if (!source.problem().empty()) return imageError(ImageError::Unreadable, source.problem());
    if (n == 8 && !png_sig_cmp(head, 0, 8)) return readPng(source, 8);
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8)
        return readJpeg(source, head, n, minSide, upright);
    return imageError(ImageError::NotAnImage, "not a PNG or JPEG image");
}

}  // namespace

Result<Image> decode(const std::string& bytes) {
    MemorySource source(bytes);
    return readImage(source);
}

Result<Image> decodePng(const std::string& bytes) {
    MemorySource source(bytes);
    return readPng(source, 0);
}

Result<Image> decodeJpeg(const std::string& bytes) {
    MemorySource source(bytes);
    return readJpeg(source, nullptr, 0);
}

namespace {
Result<Image> readFileAs(const std::filesystem::path& path, int minSide, bool upright);
}  // namespace

Result<Image> readFile(const std::filesystem::path& path) {
    return readFileAs(path, 0, false);
}

Result<Image> readFileScaled(const std::filesystem::path& path, int minSide) {
    return readFileAs(path, minSide, true);
}

namespace {
Result<Image> readFileAs(const std::filesystem::path& path, int minSide, bool upright) {
    auto file = openRegularFile(path, kMaxFileBytes);
    if (!file) {
        Error error = imageError(ImageError::Unreadable, file.error().localizedDescription());
        error.underlying = std::make_shared<const Error>(file.error());
        return error;
    }
    FileSource source(file->fd(), kMaxFileBytes, path.string());
    auto image = readImage(source, minSide, upright);
    if (!image && !image.error().is(ImageError::Unreadable))
        return imageError(static_cast<ImageError>(image.error().code),
                          path.string() + ": " + image.error().localizedDescription());
    return image;
}
}  // namespace

namespace {
void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}
void pngFlush(png_structp) {}
}  // namespace

Result<std::string> encodePng(const Image& image) {
    return encodePng(image, {});
}

namespace {
// The encoder itself, with its jump point: kept apart from anything with a destructor.
__attribute__((noinline)) Result<std::string> encodePngChunks(const Image& image, png_text* chunks,
                                                              int count);
}  // namespace

Result<std::string> encodePng(const Image& image, const std::vector<PngText>& text) {
    if (image.empty()) return imageError(ImageError::EmptyImage, "empty image");
    for (const PngText& entry : text)
        if (entry.first.empty() || entry.first.size() > 79 ||
            entry.first.find('\0') != std::string::npos ||
            entry.second.find('\0') != std::string::npos)
            return imageError(ImageError::PngEncoding, "cannot encode PNG: bad text chunk");
    std::vector<png_text> chunks(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        chunks[i].compression = PNG_TEXT_COMPRESSION_NONE;
        chunks[i].key = const_cast<char*>(text[i].first.c_str());
        chunks[i].text = const_cast<char*>(text[i].second.c_str());
        chunks[i].text_length = text[i].second.size();
    }
    return encodePngChunks(image, chunks.data(), int(chunks.size()));
}

namespace {
Result<std::string> encodePngChunks(const Image& image, png_text* chunks, int count) {
    std::string out;
    PngReadState state{nullptr, {}};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, pngError, pngWarning);
    if (!png) return imageError(ImageError::OutOfMemory, "out of memory");
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return imageError(ImageError::PngEncoding, "cannot encode PNG: " + state.error);
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 3);
    if (count > 0) png_set_text(png, info, chunks, count);
    png_write_info(png, info);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, image.pixel(0, y));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}
}  // namespace

Result<std::string> encodeJpeg(const Image& image, int quality, const std::string& app1) {
    if (image.empty()) return imageError(ImageError::EmptyImage, "empty image");
    if (app1.size() > 65533)
        return imageError(ImageError::JpegEncoding, "cannot encode JPEG: APP1 segment too long");
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
        return imageError(ImageError::JpegEncoding,
                          std::string("cannot encode JPEG: ") + error.message);
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

std::vector<PngText> pngTextChunks(std::string_view bytes) {
    std::vector<PngText> found;
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() < 8 || std::memcmp(bytes.data(), kSignature, 8) != 0) return found;
    auto be32 = [&](std::size_t at) {
        auto b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
        return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 |
               std::uint32_t(b[3]);
    };
    // Length, type, data, CRC; the chunks before the pixels are all that is read.
    for (std::size_t at = 8; bytes.size() - at >= 12;) {
        std::uint32_t length = be32(at);
        std::string_view type = bytes.substr(at + 4, 4);
        if (type == "IDAT" || type == "IEND" || length > bytes.size() - at - 12) break;
        if (type == "tEXt") {
            std::string_view data = bytes.substr(at + 8, length);
            std::size_t zero = data.find('\0');
            if (zero != std::string_view::npos && zero > 0)
                found.emplace_back(std::string(data.substr(0, zero)),
                                   std::string(data.substr(zero + 1)));
        }
        at += 12 + std::size_t(length);
    }
    return found;
}

Result<void> writePng(const Image& image, const std::filesystem::path& path) {
    // Only a regular file is replaced, at the end of any symbolic links: a device, a FIFO or
    // a directory at the path is left as it is.
    auto target = writeTarget(path);
    if (!target)
        return imageError(ImageError::WriteFailed,
                          "cannot write the picture: " + target.error().localizedDescription());
    auto bytes = encodePng(image);
    if (!bytes) return bytes.error();
    std::string reason = writeFileAtomically(*target, *bytes);
    if (!reason.empty()) return imageError(ImageError::WriteFailed, reason);
    return {};
}

}  // namespace quorbit::platform::ImageCodec
