#ifndef DECODER_H
#define DECODER_H

// The image decoder, stb_image, as the image step runs it: its blocks bounded
// and filled, the formats it may read, and its input through callbacks that
// see a read past the end of the file. The unit that includes this after
// defining STB_IMAGE_IMPLEMENTATION holds the decoder.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The decoder sizes some blocks from what a file declares before it reads
// what was promised: a few hundred bytes can claim a picture, or a chunk, of
// gigabytes, and it would then allocate, fill and decode zeros for all of it.
// No format read here packs more than 65536 bytes of any one of its decoding
// blocks into one byte of file (the densest, GIF's LZW and PNG's one-bit
// palettes through zlib, stay under 35000); on top of that every file may
// have 16 MiB, enough for a GIF whose small frames stand on a large screen.
// Larger blocks are refused, and the image step names the largest refused.
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
// PNM is read by the image step, by netpbm's rules, which the decoder does
// not follow.
#define STBI_NO_PNM
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

#endif
