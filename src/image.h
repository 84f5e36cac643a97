#ifndef IMAGE_H
#define IMAGE_H

// The image step without GL: which formats are read, the size check, the
// decode and how GL is to read the pixels. The viewer and its fuzz target
// both run exactly this; the unit that includes it after defining
// STB_IMAGE_IMPLEMENTATION holds the decoder.

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
// palettes through zlib, stay under 35000), so larger blocks are refused and
// such a file fails like any other corrupt one. loadImage sets the limit from
// the file's size.
inline std::size_t decoderBlockLimit = 0;
inline void* decoderRealloc(void* block, std::size_t size)
{
    return size > decoderBlockLimit ? nullptr : std::realloc(block, size);
}
#define STBI_MALLOC(size) decoderRealloc(nullptr, size)
#define STBI_REALLOC(block, size) decoderRealloc(block, size)
#define STBI_FREE(block) std::free(block)

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

// The PNM reader adds up each header number in an int, which a number of ten
// or more digits overflows; this reads the header as it does (blanks, and
// comments from '#' to the end of the line, before each number) to find one.
inline bool pnmHeaderOverflows(std::FILE* file)
{
    int c = std::getc(file);
    if (c != 'P' || ((c = std::getc(file)) != '5' && c != '6'))
        return false;
    c = std::getc(file);
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
        for (; c >= '0' && c <= '9'; c = std::getc(file))
            digits += digits > 0 || c != '0';
        if (digits > 9)
            return true;
    }
    return false;
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
// 16384 pixels a side, which every 4.6 implementation takes.
inline Image loadImage(const char* path, GLint (*largestTexture)())
{
    Image image;
    // The first row handed to GL is the image's bottom row, as GL's texture
    // coordinates expect.
    stbi_set_flip_vertically_on_load(1);
    std::error_code error;
    std::uintmax_t fileSize = std::filesystem::file_size(path, error);
    decoderBlockLimit = error ? 0 : fileSize * 65536 + (1 << 20);

    // A left-out format is named by the file's first bytes, so that a user
    // learns why a good image is not shown.
    unsigned char head[sizeof refusedFormats[0].magic] = {};
    bool overflows = false;
    if (std::FILE* file = std::fopen(path, "rb")) {
        if (std::fread(head, 1, sizeof head, file) != sizeof head)
            head[0] = 0;
        std::rewind(file);
        overflows = pnmHeaderOverflows(file);
        std::fclose(file);
    }
    for (const auto& format : refusedFormats) {
        if (std::memcmp(head, format.magic, format.size) == 0) {
            image.failure = format.failure;
            return image;
        }
    }
    if (overflows) {
        image.failure = "its PNM header holds a number too large to read";
        return image;
    }

    // The size comes from the header alone: a file that claims a picture
    // larger than any texture is turned away before the decoder allocates
    // or reads for it.
    if (!stbi_info(path, &image.width, &image.height, &image.channels))
        return image;
    if (image.width > 16384 || image.height > 16384) {
        GLint largest = largestTexture();
        if (image.width > largest || image.height > largest) {
            image.failure = std::to_string(image.width) + "x" + std::to_string(image.height)
                + " pixels is larger than the largest texture this GL takes, "
                + std::to_string(largest) + " pixels a side";
            return image;
        }
    }

    image.pixels = stbi_load(path, &image.width, &image.height, &image.channels, 0);
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
