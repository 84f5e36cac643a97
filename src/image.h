#ifndef IMAGE_H
#define IMAGE_H

// The image step without GL: which formats are read, the checks a file's
// header must pass, the decode and how GL is to read the pixels. The viewer
// and its fuzz target both run exactly this; the unit that includes it after
// defining STB_IMAGE_IMPLEMENTATION holds the decoder.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

// The decoder sizes some blocks from what a file declares before it reads
// what was promised: a few hundred bytes can claim a picture, or a chunk, of
// gigabytes, and it would then allocate, fill and decode zeros for all of it.
// No format read here packs more than 65536 bytes of any one of its decoding
// blocks into one byte of file (the densest, GIF's LZW and PNG's one-bit
// palettes through zlib, stay under 35000); on top of that every file may
// have 16 MiB, enough for a GIF whose small frames stand on a large screen.
// Larger blocks are refused, and loadImage names the largest it refused.
//
// Every block starts filled, so that no byte a decoder leaves unwritten can
// reach GL as whatever memory held before; zeros in the viewer, and other
// fillings in the fuzz target, which decodes twice to show that no such
// byte reaches the picture.
inline std::size_t decoderBlockLimit = 0;
inline std::size_t decoderBlockRefused = 0;
inline unsigned char decoderFill = 0;
inline void* decoderAllocate(void* block, std::size_t oldSize, std::size_t size)
{
    if (size > decoderBlockLimit) {
        decoderBlockRefused = std::max(decoderBlockRefused, size);
        return nullptr;
    }
    // calloc takes fresh pages the kernel has zeroed, at no cost until used.
    if (!block && decoderFill == 0)
        return std::calloc(1, std::max<std::size_t>(size, 1));
    auto* grown = static_cast<unsigned char*>(std::realloc(block, std::max<std::size_t>(size, 1)));
    if (grown && size > oldSize)
        std::memset(grown + oldSize, decoderFill, size - oldSize);
    return grown;
}
#define STBI_MALLOC(size) decoderAllocate(nullptr, 0, size)
#define STBI_REALLOC_SIZED(block, oldSize, size) decoderAllocate(block, oldSize, size)
#define STBI_FREE(block) std::free(block)
// The decoder's reasons in words for people ("Corrupt PNG") rather than its
// own short codes.
#define STBI_FAILURE_USERMSG

// Left out, as fuzzing found them unsafe whatever the caller asks of them:
// the JPEG decoder, which a malformed file makes write past one of its
// tables; the Photoshop decoder, whose matte removal turns out-of-range
// floats into bytes for half-transparent pixels; the Softimage PIC decoder,
// which reads through a null pointer when a three-channel file breaks off;
// and the Radiance HDR decoder, which loops for ever on a file that ends
// inside a run-length scanline.
#define STBI_NO_JPEG
#define STBI_NO_PSD
#define STBI_NO_PIC
#define STBI_NO_HDR
// With these left out, GCC 14 inlines more of the PNG decoder and then takes a
// colour key that is always set before use for one that may not be; the
// warning is about the decoder, which is not ours to change.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <glad/gl.h>
#include <zlib.h>

// Files of a left-out format, by their first bytes.
const struct {
    unsigned char magic[4];
    std::size_t size;
    const char* failure;
} refusedFormats[] = {
    { { 0xFF, 0xD8, 0xFF }, 3, "JPEG images are not read, save it as PNG" },
    { { '8', 'B', 'P', 'S' }, 4, "Photoshop images are not read, save it as PNG" },
    { { 0x53, 0x80, 0xF6, 0x34 }, 4, "Softimage PIC images are not read, save it as PNG" },
    { { '#', '?' }, 2, "Radiance HDR images are not read, save it as PNG" },
};

// A PNM header as the decoder reads it: blanks, and comments from '#' to the
// end of the line, before each of its three numbers (width, height, largest
// value); the pixels start one character after the last. The decoder adds
// up each number in an int, which one of ten or more digits overflows.
struct PnmHeader {
    bool overflows = false;
    std::uint64_t numbers[3] = {};
    long pixelsAt = 0;
};
inline PnmHeader readPnmHeader(std::FILE* file)
{
    PnmHeader header;
    int c = std::getc(file);
    for (int number = 0; number < 3; number++) {
        for (;;) {
            while (c == ' ' || (c >= '\t' && c <= '\r'))
                c = std::getc(file);
            if (c != '#')
                break;
            while (c != EOF && c != '\n' && c != '\r')
                c = std::getc(file);
        }
        int digits = 0;
        for (; c >= '0' && c <= '9'; c = std::getc(file)) {
            digits += digits > 0 || c != '0';
            header.numbers[number] = header.numbers[number] * 10 % 10000000000 + (c - '0');
        }
        header.overflows |= digits > 9;
    }
    header.pixelsAt = std::ftell(file);
    return header;
}

// The decoder reads through these, so that a read it makes past the end of
// the file is seen: it then goes on with zeros, which are not the picture.
// It reads ahead in blocks of 128 bytes, and a block cut short by the end is
// no harm until it asks for more; any other request cut short is data
// missing.
struct DecoderInput {
    std::FILE* file;
    bool pastEnd;
};
const stbi_io_callbacks decoderCallbacks = {
    [](void* user, char* data, int size) {
        auto* input = static_cast<DecoderInput*>(user);
        std::size_t got = std::fread(data, 1, std::size_t(size), input->file);
        if (size > 0 && (got == 0 || (got < std::size_t(size) && size != 128)))
            input->pastEnd = true;
        return int(got);
    },
    [](void* user, int bytes) {
        std::FILE* file = static_cast<DecoderInput*>(user)->file;
        std::fseek(file, bytes, SEEK_CUR);
        // As the decoder's own file reading does: the end is noticed here.
        int c = std::getc(file);
        if (c != EOF)
            std::ungetc(c, file);
    },
    [](void* user) {
        std::FILE* file = static_cast<DecoderInput*>(user)->file;
        return int(std::feof(file) || std::ferror(file));
    },
};

inline std::uint32_t little16(const unsigned char* p)
{
    return p[0] | p[1] << 8;
}
inline std::uint32_t little32(const unsigned char* p)
{
    return little16(p) | little16(p + 2) << 16;
}

inline std::uint32_t big32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The failure for a row of packed palette indices (1, 2, 4 or 8 bits, the
// first pixel in the high bits) that names a colour past the end of a
// palette of `colours`, or none. Both the BMP and the PNG decoder look such
// an index up in table entries the file never filled.
inline std::string paletteFault(
    const std::string& row, std::uint64_t width, unsigned bits, std::int64_t colours)
{
    for (std::uint64_t x = 0; x < width; x++) {
        unsigned byte = static_cast<unsigned char>(row[x * bits / 8]);
        if (std::int64_t(byte >> (8 - bits - x * bits % 8) & ((1u << bits) - 1)) >= colours)
            return "its pixels name colours past the end of its palette of "
                + std::to_string(std::max<std::int64_t>(colours, 0));
    }
    return "";
}

// A PNG's pixel stream read before the decoder reads it, for two of the
// decoder's faults. It takes the two distance codes deflate leaves undefined
// for a distance of 0, and then copies into the picture bytes it never
// wrote; and it looks up an index past the end of a short palette in table
// entries on its stack that the file never filled. So zlib inflates the
// stream first, as the decoder will (its two header bytes are the decoder's
// to check, and it checks no checksum), and names the first fault it meets;
// when the palette is shorter than the indices reach, the rows are
// unfiltered and every index looked at. A data chunk cut off by the end of
// the file is named too. ihdr is the header chunk's body.
inline std::string pngStreamFault(std::FILE* file, const unsigned char* ihdr)
{
    z_stream stream {};
    if (inflateInit2(&stream, -15) != Z_OK)
        return "zlib cannot start";
    unsigned char in[16384], out[32768], chunk[8];
    int status = Z_OK;
    std::size_t header = 2;
    unsigned depth = ihdr[8];
    std::uint32_t colours = 256;
    bool check = false;
    // Rows of the pass being read, as (x step, y step, x start, y start):
    // Adam7's seven passes, then the whole picture for one not interlaced.
    const unsigned adam7[8][4] = { { 8, 8, 0, 0 }, { 8, 8, 4, 0 }, { 4, 8, 0, 4 }, { 4, 4, 2, 0 },
        { 2, 4, 0, 2 }, { 2, 2, 1, 0 }, { 1, 2, 0, 1 }, { 1, 1, 0, 0 } };
    bool interlaced = ihdr[12] == 1;
    int pass = interlaced ? -1 : 6;
    std::uint64_t width = 0, rows = 0, at = 0, filter = 0;
    std::string row, prior;
    auto nextPass = [&] {
        do {
            pass = pass == 6 && interlaced ? 8 : pass + 1;
            if (pass == 8)
                return;
            width = (big32(ihdr) + adam7[pass][0] - adam7[pass][2] - 1) / adam7[pass][0];
            rows = (big32(ihdr + 4) + adam7[pass][1] - adam7[pass][3] - 1) / adam7[pass][1];
        } while (width == 0 || rows == 0);
        row.assign((width * depth + 7) / 8, '\0');
        prior = row;
        at = 0;
    };
    nextPass();
    std::fseek(file, 8, SEEK_SET);
    while (status == Z_OK && std::fread(chunk, 1, 8, file) == 8) {
        std::uint32_t length = big32(chunk);
        if (std::memcmp(chunk + 4, "CgBI", 4) == 0)
            header = 0; // Apple's PNGs hold bare deflate, which the decoder knows
        if (std::memcmp(chunk + 4, "PLTE", 4) == 0)
            colours = length / 3;
        check = ihdr[9] == 3 && (depth == 1 || depth == 2 || depth == 4 || depth == 8)
            && colours < (1u << depth);
        if (std::memcmp(chunk + 4, "IDAT", 4) != 0) {
            std::fseek(file, long(length) + 4, SEEK_CUR);
            continue;
        }
        for (std::size_t left = length, got; status == Z_OK && left > 0; left -= got) {
            got = std::fread(in, 1, std::min(left, sizeof in), file);
            if (got == 0) {
                inflateEnd(&stream);
                return "the file ends before its pixels do";
            }
            std::size_t skip = std::min(header, got);
            header -= skip;
            stream.next_in = in + skip;
            stream.avail_in = unsigned(got - skip);
            do {
                stream.next_out = out;
                stream.avail_out = sizeof out;
                status = inflate(&stream, Z_NO_FLUSH);
                for (unsigned char* p = out; check && pass < 8 && p < stream.next_out; p++) {
                    if (at == 0) {
                        filter = *p;
                        at++;
                        continue;
                    }
                    // One byte a pixel at most: the byte before is the
                    // pixel before.
                    std::size_t i = at - 1;
                    unsigned a = i ? static_cast<unsigned char>(row[i - 1]) : 0;
                    unsigned b = static_cast<unsigned char>(prior[i]);
                    unsigned c = i ? static_cast<unsigned char>(prior[i - 1]) : 0;
                    int estimate = int(a + b - c);
                    unsigned paeth = std::abs(estimate - int(a)) <= std::abs(estimate - int(b))
                            && std::abs(estimate - int(a)) <= std::abs(estimate - int(c))
                        ? a
                        : std::abs(estimate - int(b)) <= std::abs(estimate - int(c)) ? b
                                                                                     : c;
                    const unsigned predictions[] = { 0, a, b, (a + b) / 2, paeth };
                    row[i] = char(*p + (filter < 5 ? predictions[filter] : 0));
                    if (++at <= row.size())
                        continue;
                    std::string fault = paletteFault(row, width, depth, colours);
                    if (!fault.empty()) {
                        inflateEnd(&stream);
                        return fault;
                    }
                    std::swap(row, prior);
                    at = 0;
                    if (--rows == 0)
                        nextPass();
                }
            } while (status == Z_OK && stream.avail_out == 0);
            if (status == Z_BUF_ERROR)
                status = Z_OK; // more input wanted
        }
        std::fseek(file, 4, SEEK_CUR);
    }
    std::string fault = status == Z_DATA_ERROR || status == Z_MEM_ERROR
        ? std::string("its compressed pixels are corrupt: ")
            + (stream.msg ? stream.msg : "zlib says so")
        : "";
    inflateEnd(&stream);
    return fault;
}

// Grey images are handed to GL as one channel and grey with alpha as two;
// these spread them back over red, green and blue.
const GLint greySwizzle[] = { GL_RED, GL_RED, GL_RED, GL_ONE };
const GLint greyAlphaSwizzle[] = { GL_RED, GL_RED, GL_RED, GL_GREEN };

struct Image {
    unsigned char* pixels = nullptr; // 8 bits a channel, bottom row first; stbi_image_free
    int width = 0;
    int height = 0;
    int channels = 0;
    GLenum format = GL_RGBA;
    const GLint* swizzle = nullptr; // for the texture, when the format needs one
    std::string failure; // why pixels is null, when there is more to say
};

// Decodes the image at path with the channel count it has. largestTexture
// gives the GL's largest texture side; it is asked only for an image over
// 16384 pixels a side, which every 4.6 implementation takes. A missing file
// is the one failure without a reason: its name says it all.
inline Image loadImage(const char* path, GLint (*largestTexture)())
{
    Image image;
    // The first row handed to GL is the image's bottom row, as GL's texture
    // coordinates expect.
    stbi_set_flip_vertically_on_load(1);
    std::error_code error;
    std::uint64_t fileSize = std::filesystem::file_size(path, error);
    if (error) {
        if (error != std::errc::no_such_file_or_directory)
            image.failure = error.message();
        return image;
    }
    if (fileSize == 0) {
        image.failure = "the file is empty";
        return image;
    }
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        image.failure = std::strerror(errno);
        return image;
    }
    struct Closer {
        std::FILE* file;
        ~Closer() { std::fclose(file); }
    } closer { file };

    // A left-out format is named by the file's first bytes, so that a user
    // learns why a good image is not shown.
    unsigned char head[32] = {};
    std::size_t headSize = std::fread(head, 1, sizeof head, file);
    for (const auto& format : refusedFormats) {
        if (headSize >= format.size && std::memcmp(head, format.magic, format.size) == 0) {
            image.failure = format.failure;
            return image;
        }
    }
    bool pnm = head[0] == 'P' && (head[1] == '5' || head[1] == '6');
    PnmHeader pnmHeader;
    if (pnm) {
        std::fseek(file, 2, SEEK_SET);
        pnmHeader = readPnmHeader(file);
        if (pnmHeader.overflows) {
            image.failure = "its PNM header holds a number too large to read";
            return image;
        }
        // Said here, as some versions of the decoder say only that they
        // know no such image.
        if (pnmHeader.numbers[0] == 0 || pnmHeader.numbers[1] == 0) {
            image.failure = "its header gives an empty picture, "
                + std::to_string(pnmHeader.numbers[0]) + "x" + std::to_string(pnmHeader.numbers[1])
                + " pixels";
            return image;
        }
    }

    // The size comes from the header alone, and is checked as the decoder
    // will use it: a negative BMP height stands for rows stored top first.
    decoderBlockLimit = fileSize * 65536 + (16 << 20);
    DecoderInput input { file, false };
    std::rewind(file);
    if (!stbi_info_from_callbacks(
            &decoderCallbacks, &input, &image.width, &image.height, &image.channels)) {
        image.failure = std::string("the decoder says: ") + stbi_failure_reason();
        return image;
    }
    std::int64_t width = image.width;
    std::int64_t height = std::abs(std::int64_t(image.height));
    std::string size = std::to_string(width) + "x" + std::to_string(height) + " pixels";
    if (width <= 0 || height <= 0) {
        image.failure = "its header gives an empty picture, " + size;
        return image;
    }
    // A file that claims a picture larger than any texture is turned away
    // before the decoder allocates or reads for it.
    if (width > 16384 || height > 16384) {
        GLint largest = largestTexture();
        if (width > largest || height > largest) {
            image.failure = size + " is larger than the largest texture this GL takes, "
                + std::to_string(largest) + " pixels a side";
            return image;
        }
    }

    // Where pixels are stored as they are, or in runs, the header says how
    // many bytes they take at the least: a file shorter than that is cut
    // off, and is refused before any work is done for it.
    std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    std::uint64_t least = 0;
    if (pnm) {
        std::uint64_t sample = pnmHeader.numbers[2] > 255 ? 2 : 1;
        least = std::uint64_t(pnmHeader.pixelsAt) + pixels * std::uint64_t(image.channels) * sample;
    } else if (head[0] == 'B' && head[1] == 'M') {
        // Rows are padded to four bytes, but the last one's padding may
        // be left out.
        std::uint32_t header = little32(head + 14);
        std::uint32_t pixelsAt = little32(head + 10);
        std::uint64_t bits = little16(head + (header == 12 ? 24 : 28));
        std::uint64_t row = (std::uint64_t(width) * bits + 31) / 32 * 4;
        least = pixelsAt + row * std::uint64_t(height - 1) + (std::uint64_t(width) * bits + 7) / 8;
        // The palette is what lies between the header and the pixels,
        // counted as the decoder counts it. An index past its end has the
        // decoder take a colour from memory the file never filled, so every
        // index is looked at when the palette is shorter than they reach
        // (the decoder takes palettes of 1, 4 and 8 bits only).
        std::int64_t colours = header == 12 ? (std::int64_t(pixelsAt) - 38) / 3
                                            : (std::int64_t(pixelsAt) - 14 - header) / 4;
        if ((bits == 1 || bits == 4 || bits == 8) && colours < (1 << bits) && least <= fileSize) {
            std::string rowBytes(row, '\0');
            std::fseek(file, long(pixelsAt), SEEK_SET);
            for (std::int64_t y = 0; y < height; y++) {
                if (std::fread(rowBytes.data(), 1, row, file) == 0)
                    break;
                image.failure
                    = paletteFault(rowBytes, std::uint64_t(width), unsigned(bits), colours);
                if (!image.failure.empty())
                    return image;
            }
        }
    } else if (std::memcmp(head, "\x89PNG", 4) != 0 && std::memcmp(head, "GIF8", 4) != 0) {
        // TGA, the one format without a signature: its identification
        // field and colour map come first, then the pixels, each pixel
        // or run of up to 128 of them at least one byte more.
        std::uint64_t map = head[1] == 1 ? little16(head + 5) * ((head[7] + 7u) / 8) : 0;
        std::uint64_t bytes = (head[16] + 7u) / 8;
        least = 18 + head[0] + map
            + (head[2] >= 9 ? (pixels + 127) / 128 * (1 + bytes) : pixels * bytes);
    } else if (head[0] == 0x89) {
        // The PNG decoder inflates into one block whose size it keeps in
        // an int: wider or deeper pictures it cannot take at all.
        const unsigned char channels[] = { 1, 0, 3, 1, 2, 0, 4 };
        std::uint64_t inflated = (std::uint64_t(width) * head[24] + 7) / 8 * std::uint64_t(height)
                * channels[head[25] % 7]
            + height;
        if (inflated > INT32_MAX) {
            image.failure = size + " at " + std::to_string(head[24])
                + " bits a channel inflate to more than the decoder takes, 2 GiB; save it at 8 "
                  "bits";
            return image;
        }
        image.failure = pngStreamFault(file, head + 16);
        if (!image.failure.empty())
            return image;
    }
    if (least > fileSize) {
        image.failure = "the file ends before its pixels do: " + size + " take "
            + std::to_string(least) + " bytes, and it holds " + std::to_string(fileSize);
        return image;
    }

    decoderBlockRefused = 0;
    input.pastEnd = false;
    std::rewind(file);
    image.pixels = stbi_load_from_callbacks(
        &decoderCallbacks, &input, &image.width, &image.height, &image.channels, 0);
    if (input.pastEnd) {
        image.failure = "the file ends before its pixels do";
    } else if (!image.pixels && decoderBlockRefused) {
        image.failure = "decoding it would take a block of "
            + std::to_string((decoderBlockRefused + (1 << 20) - 1) >> 20)
            + " MiB, out of proportion to a file of " + std::to_string(fileSize) + " bytes";
    } else if (!image.pixels) {
        image.failure = std::string("the decoder says: ") + stbi_failure_reason();
    } else if (image.width <= 0 || image.height <= 0 || image.width > width
        || image.height > height) {
        image.failure = "the decoder gives " + std::to_string(image.width) + "x"
            + std::to_string(image.height) + " pixels where the header gives " + size;
    }
    if (!image.failure.empty()) {
        stbi_image_free(image.pixels);
        image.pixels = nullptr;
        return image;
    }

    if (image.channels == 1) {
        image.format = GL_RED;
        image.swizzle = greySwizzle;
    } else if (image.channels == 2) {
        image.format = GL_RG;
        image.swizzle = greyAlphaSwizzle;
    } else if (image.channels == 3) {
        image.format = GL_RGB;
    }
    return image;
}

#endif
