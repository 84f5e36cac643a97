#ifndef IMAGE_H
#define IMAGE_H

// The image step: which kinds of file are read, the checks a file must pass
// before it is decoded, the decode, and the upload into a texture. The
// viewer and its fuzz target both run exactly this (the fuzz target all but
// the upload).

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "decoder.h"

#include <glad/gl.h>
#include <zlib.h>

// Kinds of image not read, by their first bytes: formats left out of the
// decoder, and netpbm's others, which the PNM reader below does not take.
const struct {
    unsigned char magic[4];
    std::size_t size;
    const char* failure;
} refusedFormats[] = {
    { { 0xFF, 0xD8, 0xFF }, 3, "JPEG images are not read, save it as PNG" },
    { { '8', 'B', 'P', 'S' }, 4, "Photoshop images are not read, save it as PNG" },
    { { 0x53, 0x80, 0xF6, 0x34 }, 4, "Softimage PIC images are not read, save it as PNG" },
    { { '#', '?' }, 2, "Radiance HDR images are not read, save it as PNG" },
    { { 'P', '1' }, 2, "PBM images are not read, save it as PNG" },
    { { 'P', '4' }, 2, "PBM images are not read, save it as PNG" },
    { { 'P', '2' }, 2, "plain-text PGM images are not read, save it as binary PGM or PNG" },
    { { 'P', '3' }, 2, "plain-text PPM images are not read, save it as binary PPM or PNG" },
    { { 'P', '7' }, 2, "PAM images are not read, save it as PNG" },
    { { 'P', 'F' }, 2, "PFM images are not read, save it as PNG" },
    { { 'P', 'f' }, 2, "PFM images are not read, save it as PNG" },
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

// What a file starts with: enough for every header field looked at before
// decoding.
struct ImageFile {
    std::FILE* file = nullptr;
    std::uint64_t size = 0;
    unsigned char head[64] = {};
    std::size_t headSize = 0;
    ~ImageFile()
    {
        if (file)
            std::fclose(file);
    }
};

enum class Format { Png, Gif, Bmp, Pnm, Tga };

inline Format formatOf(const ImageFile& in)
{
    if (std::memcmp(in.head, "\x89PNG", 4) == 0)
        return Format::Png;
    if (std::memcmp(in.head, "GIF8", 4) == 0)
        return Format::Gif;
    if (in.head[0] == 'B' && in.head[1] == 'M')
        return Format::Bmp;
    if (in.head[0] == 'P' && (in.head[1] == '5' || in.head[1] == '6'))
        return Format::Pnm;
    // The one format without a signature.
    return Format::Tga;
}

// Opens the file and reads its first bytes; a missing file is the one
// failure without a reason: its name says it all.
inline bool openImage(const char* path, ImageFile& in, std::string& failure)
{
    std::error_code error;
    in.size = std::filesystem::file_size(path, error);
    if (error) {
        if (error != std::errc::no_such_file_or_directory)
            failure = error.message();
        return false;
    }
    if (in.size == 0) {
        failure = "the file is empty";
        return false;
    }
    in.file = std::fopen(path, "rb");
    if (!in.file) {
        failure = std::strerror(errno);
        return false;
    }
    in.headSize = std::fread(in.head, 1, sizeof in.head, in.file);
    return true;
}

// BMPs the decoder turns away although they are valid: compressed ones,
// those of 2 or 64 bits a pixel, and headers it does not know.
inline std::string bmpKindNotRead(const unsigned char* head)
{
    std::uint32_t header = little32(head + 14);
    if (header == 16 || header == 64)
        return "OS/2 2.x BMP images are not read, save it as PNG";
    if (header == 52)
        return "BMP images with a 52-byte header are not read, save it as PNG";
    if (header == 12)
        return ""; // OS/2 1.x: uncompressed, read whatever its depth
    std::uint32_t bits = little16(head + 28);
    std::uint32_t compression = little32(head + 30);
    if (compression == 1 || compression == 2)
        return "run-length BMP images are not read, save it uncompressed or as PNG";
    if (compression == 4 || compression == 5)
        return std::string("BMP images holding a ") + (compression == 4 ? "JPEG" : "PNG")
            + " are not read, save it as PNG";
    if (compression == 6 || (compression >= 11 && compression <= 13))
        return "BMP images of compression type " + std::to_string(compression)
            + " are not read, save it uncompressed or as PNG";
    if (compression == 0 && (bits == 2 || bits == 64))
        return "BMP images of " + std::to_string(bits)
            + " bits a pixel are not read, save it as PNG";
    return "";
}

// A valid file the viewer does not read gets a reason that says so, rather
// than the decoder's, which would blame the file.
inline std::string kindNotRead(const ImageFile& in)
{
    for (const auto& format : refusedFormats) {
        if (in.headSize >= format.size && std::memcmp(in.head, format.magic, format.size) == 0)
            return format.failure;
    }
    if (formatOf(in) == Format::Bmp && in.headSize >= 34)
        return bmpKindNotRead(in.head);
    return "";
}

// A binary PGM or PPM header, read by netpbm's rules: blanks, and comments
// from '#' to the end of the line, before each of its three numbers (width,
// height, largest sample value); one blank after the last, then the
// samples. A number of ten or more digits is past any use, and would
// overflow a 32-bit count.
struct PnmHeader {
    bool overflows = false;
    std::uint64_t numbers[3] = {};
    long pixelsAt = 0;
};
inline PnmHeader readPnmHeader(std::FILE* file)
{
    PnmHeader header;
    std::fseek(file, 2, SEEK_SET);
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

// The picture's size and channels by its header alone: as the decoder reads
// it, or for PNM by netpbm's rules.
struct ImageHeader {
    std::int64_t width = 0;
    std::int64_t height = 0;
    int channels = 0;
    PnmHeader pnm;
};

inline std::string sizeOf(const ImageHeader& header)
{
    return std::to_string(header.width) + "x" + std::to_string(header.height) + " pixels";
}

// The decoder's own limits on a picture's size, which it checks before it
// decodes and then words as a corrupt file, or for a PNG's header as a file
// of no known kind: no side over STBI_MAX_DIMENSIONS (2^24), and the bytes
// of its first block, sides times bytes a pixel, within an int (for a PNG
// 2^30, a palette's pixels counted at four bytes). PNM is read here, not by
// the decoder.
const struct {
    Format format;
    std::int64_t most;
    const char* words;
} decoderLimits[] = {
    { Format::Png, std::int64_t(1) << 30, "1 GiB" },
    { Format::Gif, INT32_MAX, "2 GiB" },
    { Format::Bmp, INT32_MAX, "2 GiB" },
    { Format::Tga, INT32_MAX, "2 GiB" },
};
inline std::string decoderSizeFault(Format format, const ImageHeader& header, std::int64_t bytes)
{
    const std::int64_t side = std::int64_t(1) << 24;
    for (const auto& limit : decoderLimits) {
        if (limit.format != format)
            continue;
        if (header.width > side || header.height > side)
            return sizeOf(header) + " is larger than the decoder takes, " + std::to_string(side)
                + " pixels a side";
        if (header.width * header.height * bytes > limit.most)
            return sizeOf(header) + " at " + std::to_string(bytes)
                + (bytes == 1 ? " byte" : " bytes") + " a pixel is larger than the decoder takes, "
                + limit.words;
    }
    return "";
}

// A PNG's header chunk body: Apple's PNGs put a CgBI chunk of 4 bytes before
// it, whose body then starts 16 bytes later. None where the chunk there is
// not the header, which the decoder calls corrupt.
inline const unsigned char* pngIhdr(const ImageFile& in)
{
    const unsigned char* ihdr = in.head + 16;
    if (std::memcmp(in.head + 12, "CgBI", 4) == 0 && big32(in.head + 8) == 4)
        ihdr += 16;
    return std::memcmp(ihdr - 4, "IHDR", 4) == 0 ? ihdr : nullptr;
}

// A PNG's size as its header gives it, against the decoder's limits, which
// its header read applies and then words as a file of no known kind.
inline std::string pngSizeFault(const ImageFile& in, ImageHeader& header)
{
    const unsigned char channels[] = { 1, 0, 3, 4, 2, 0, 4 };
    const unsigned char* ihdr = pngIhdr(in);
    if (formatOf(in) != Format::Png || !ihdr)
        return "";
    header.width = big32(ihdr);
    header.height = big32(ihdr + 4);
    // A colour type it does not know the decoder calls corrupt, after the
    // sides.
    return decoderSizeFault(Format::Png, header, ihdr[9] <= 6 ? channels[ihdr[9]] : 0);
}

inline std::string readHeader(const ImageFile& in, DecoderInput& input, ImageHeader& header)
{
    if (formatOf(in) == Format::Pnm) {
        header.pnm = readPnmHeader(in.file);
        if (header.pnm.overflows)
            return "its PNM header holds a number too large to read";
        header.width = std::int64_t(header.pnm.numbers[0]);
        header.height = std::int64_t(header.pnm.numbers[1]);
        header.channels = in.head[1] == '5' ? 1 : 3;
        return "";
    }
    std::string tooLarge = pngSizeFault(in, header);
    if (!tooLarge.empty())
        return tooLarge;
    int width = 0, height = 0;
    std::rewind(in.file);
    if (!stbi_info_from_callbacks(&decoderCallbacks, &input, &width, &height, &header.channels))
        return std::string("the decoder says: ") + stbi_failure_reason();
    // The size as the decoder will use it: a negative BMP height stands for
    // rows stored top first.
    header.width = width;
    header.height = std::abs(std::int64_t(height));
    return "";
}

// A file that claims a picture larger than any texture is turned away before
// the decoder allocates or reads for it. largestTexture is asked only for an
// image over 16384 pixels a side, which every 4.6 implementation takes.
inline std::string sizeFault(const ImageHeader& header, GLint (*largestTexture)())
{
    if (header.width <= 0 || header.height <= 0)
        return "its header gives an empty picture, " + sizeOf(header);
    if (header.width > 16384 || header.height > 16384) {
        GLint largest = largestTexture();
        if (header.width > largest || header.height > largest)
            return sizeOf(header) + " is larger than the largest texture this GL takes, "
                + std::to_string(largest) + " pixels a side";
    }
    return "";
}

// Where pixels are stored as they are, or in runs, the header says how many
// bytes they take at the least: a file shorter than that is cut off, and is
// refused before any work is done for it.
inline std::string cutOff(const ImageFile& in, const ImageHeader& header, std::uint64_t least)
{
    if (least <= in.size)
        return "";
    return "the file ends before its pixels do: " + sizeOf(header) + " take "
        + std::to_string(least) + " bytes, and it holds " + std::to_string(in.size);
}

inline std::string pnmFault(const ImageFile& in, const ImageHeader& header)
{
    std::uint64_t largest = header.pnm.numbers[2];
    if (largest == 0 || largest > 65535)
        return "its PNM header gives a largest sample value of " + std::to_string(largest)
            + ", outside 1 to 65535";
    std::uint64_t sample = largest > 255 ? 2 : 1;
    return cutOff(in, header,
        std::uint64_t(header.pnm.pixelsAt)
            + std::uint64_t(header.width * header.height) * std::uint64_t(header.channels)
                * sample);
}

inline std::string bmpFault(const ImageFile& in, const ImageHeader& header)
{
    // Rows are padded to four bytes, but the last one's padding may be left
    // out.
    std::uint32_t size = little32(in.head + 14);
    std::uint32_t pixelsAt = little32(in.head + 10);
    std::uint64_t width = std::uint64_t(header.width);
    std::uint64_t bits = little16(in.head + (size == 12 ? 24 : 28));
    std::uint64_t row = (width * bits + 31) / 32 * 4;
    std::string cut = cutOff(
        in, header, pixelsAt + row * std::uint64_t(header.height - 1) + (width * bits + 7) / 8);
    // The palette is what lies between the header and the pixels, counted as
    // the decoder counts it. An index past its end has the decoder take a
    // colour from memory the file never filled, so every index is looked at
    // when the palette is shorter than they reach (the decoder takes palettes
    // of 1, 4 and 8 bits only).
    std::int64_t colours
        = size == 12 ? (std::int64_t(pixelsAt) - 38) / 3 : (std::int64_t(pixelsAt) - 14 - size) / 4;
    if (!cut.empty() || (bits != 1 && bits != 4 && bits != 8) || colours >= (1 << bits))
        return cut;
    std::string rowBytes(row, '\0');
    std::fseek(in.file, long(pixelsAt), SEEK_SET);
    for (std::int64_t y = 0; y < header.height; y++) {
        if (std::fread(rowBytes.data(), 1, row, in.file) == 0)
            break;
        std::string fault = paletteFault(rowBytes, width, unsigned(bits), colours);
        if (!fault.empty())
            return fault;
    }
    return "";
}

// A TGA, having no signature, is known only once the decoder has read its
// header; so its kind not read is named here: rows stored right to left (bit
// 4 of its descriptor), which the decoder would show mirrored. Then its
// identification field and colour map come first, and the pixels, each
// pixel or run of up to 128 of them at least one byte more.
inline std::string tgaFault(const ImageFile& in, const ImageHeader& header)
{
    const unsigned char* head = in.head;
    if (head[17] & 0x10)
        return "TGA images stored right to left are not read, save it as PNG";
    std::uint64_t pixels = std::uint64_t(header.width * header.height);
    std::uint64_t map = head[1] == 1 ? little16(head + 5) * ((head[7] + 7u) / 8) : 0;
    std::uint64_t bytes = (head[16] + 7u) / 8;
    return cutOff(in, header,
        18 + head[0] + map + (head[2] >= 9 ? (pixels + 127) / 128 * (1 + bytes) : pixels * bytes));
}

// The PNG decoder inflates into one block whose size it keeps in an int:
// wider or deeper pictures it cannot take at all. Apple's PNGs put a CgBI
// chunk of 4 bytes before the header chunk, whose body then starts 16 bytes
// later.
inline std::string pngFault(const ImageFile& in, const ImageHeader& header)
{
    const unsigned char channels[] = { 1, 0, 3, 1, 2, 0, 4 };
    const unsigned char* ihdr = in.head + 16;
    if (std::memcmp(in.head + 12, "CgBI", 4) == 0) {
        if (big32(in.head + 8) != 4)
            return "its CgBI chunk is not Apple's, of 4 bytes, but of "
                + std::to_string(big32(in.head + 8));
        ihdr += 16;
    }
    unsigned depth = ihdr[8];
    std::uint64_t inflated = (std::uint64_t(header.width) * depth + 7) / 8
            * std::uint64_t(header.height) * channels[ihdr[9] % 7]
        + std::uint64_t(header.height);
    if (inflated > INT32_MAX)
        return sizeOf(header) + " at " + std::to_string(depth)
            + " bits a channel inflate to more than the decoder takes, 2 GiB; save it at 8 bits";
    return pngStreamFault(in.file, ihdr);
}

// What each format must hold beyond its size before it is decoded.
inline std::string formatFault(const ImageFile& in, const ImageHeader& header)
{
    switch (formatOf(in)) {
    case Format::Pnm:
        return pnmFault(in, header);
    case Format::Bmp:
        return bmpFault(in, header);
    case Format::Tga:
        return tgaFault(in, header);
    case Format::Png:
        return pngFault(in, header);
    case Format::Gif:
        break;
    }
    return "";
}

// Binary PGM and PPM samples as netpbm defines them: one byte each up to a
// largest value of 255, else two, most significant first, each scaled from
// 0 to the largest value onto 0 to 255. (The decoder would keep the low byte
// of a 16-bit sample and scale none.)
inline std::string decodePnm(const ImageFile& in, const ImageHeader& header, Image& image)
{
    std::uint32_t largest = std::uint32_t(header.pnm.numbers[2]);
    std::size_t sample = largest > 255 ? 2 : 1;
    std::size_t row = std::size_t(header.width) * std::size_t(header.channels);
    std::string samples(row * sample, '\0');
    image.pixels = static_cast<unsigned char*>(std::malloc(row * std::size_t(header.height)));
    if (!image.pixels)
        return "its " + sizeOf(header) + " do not fit in memory";
    image.width = int(header.width);
    image.height = int(header.height);
    image.channels = header.channels;
    std::fseek(in.file, header.pnm.pixelsAt, SEEK_SET);
    for (int y = 0; y < image.height; y++) {
        if (std::fread(samples.data(), 1, samples.size(), in.file) != samples.size())
            return "the file ends before its pixels do";
        // Bottom row first, as the decoder hands the other formats over.
        unsigned char* out = image.pixels + std::size_t(image.height - 1 - y) * row;
        for (std::size_t x = 0; x < row; x++) {
            const auto* p = reinterpret_cast<const unsigned char*>(samples.data()) + x * sample;
            std::uint32_t value = sample == 2 ? std::uint32_t(p[0] << 8 | p[1]) : p[0];
            if (value > largest)
                return "its pixels hold a value of " + std::to_string(value)
                    + ", past the largest its header gives, " + std::to_string(largest);
            out[x] = static_cast<unsigned char>((value * 255 + largest / 2) / largest);
        }
    }
    return "";
}

// A 16-bit TGA whose descriptor gives it one alpha bit keeps that in each
// pixel's top bit, which the decoder drops. Read here from the pixel stream,
// raw or in runs, and set beside the decoder's colours, whose rows it has
// turned bottom first.
inline bool hasTgaAlphaBit(const ImageFile& in)
{
    return formatOf(in) == Format::Tga && (in.head[2] == 2 || in.head[2] == 10) && in.head[16] == 16
        && (in.head[17] & 0x0F) == 1;
}
inline std::string addTgaAlpha(const ImageFile& in, Image& image)
{
    const unsigned char* head = in.head;
    std::size_t width = std::size_t(image.width);
    std::size_t pixels = width * std::size_t(image.height);
    auto* rgba = static_cast<unsigned char*>(std::malloc(pixels * 4));
    if (!rgba)
        return "its " + std::to_string(pixels) + " pixels do not fit in memory";
    bool runs = head[2] == 10, topFirst = head[17] & 0x20, repeat = false;
    std::size_t left = 0; // pixels left in the packet being read
    unsigned char pixel[2] = {};
    std::fseek(in.file, 18 + head[0], SEEK_SET);
    for (std::size_t i = 0; i < pixels; i++) {
        bool read = !runs || left == 0 || !repeat;
        if (runs && left == 0) {
            int packet = std::getc(in.file);
            left = std::size_t(packet & 0x7F) + 1;
            repeat = packet & 0x80;
        }
        if (read && std::fread(pixel, 1, 2, in.file) != 2) {
            std::free(rgba);
            return "the file ends before its pixels do";
        }
        left -= runs;
        std::size_t row = topFirst ? std::size_t(image.height) - 1 - i / width : i / width;
        std::size_t at = row * width + i % width;
        std::memcpy(rgba + at * 4, image.pixels + at * 3, 3);
        rgba[at * 4 + 3] = pixel[1] & 0x80 ? 255 : 0;
    }
    stbi_image_free(image.pixels);
    image.pixels = rgba;
    image.channels = 4;
    return "";
}

inline std::string decode(
    const ImageFile& in, DecoderInput& input, const ImageHeader& header, Image& image)
{
    if (formatOf(in) == Format::Pnm)
        return decodePnm(in, header, image);
    decoderBlockRefused = 0;
    input.pastEnd = false;
    std::rewind(in.file);
    image.pixels = stbi_load_from_callbacks(
        &decoderCallbacks, &input, &image.width, &image.height, &image.channels, 0);
    if (input.pastEnd)
        return "the file ends before its pixels do";
    if (!image.pixels && decoderBlockRefused)
        return "decoding it would take a block of "
            + std::to_string((decoderBlockRefused + (1 << 20) - 1) >> 20)
            + " MiB, out of proportion to a file of " + std::to_string(in.size) + " bytes";
    if (!image.pixels)
        return std::string("the decoder says: ") + stbi_failure_reason();
    if (image.width <= 0 || image.height <= 0 || image.width > header.width
        || image.height > header.height)
        return "the decoder gives " + std::to_string(image.width) + "x"
            + std::to_string(image.height) + " pixels where the header gives " + sizeOf(header);
    return hasTgaAlphaBit(in) ? addTgaAlpha(in, image) : "";
}

inline void chooseGlFormat(Image& image)
{
    if (image.channels == 1) {
        image.format = GL_RED;
        image.swizzle = greySwizzle;
    } else if (image.channels == 2) {
        image.format = GL_RG;
        image.swizzle = greyAlphaSwizzle;
    } else if (image.channels == 3) {
        image.format = GL_RGB;
    }
}

// Decodes the image at path with the channel count it has, or says why not:
// each step runs only while none before it has found a failure.
inline Image loadImage(const char* path, GLint (*largestTexture)())
{
    Image image;
    // The first row handed to GL is the image's bottom row, as GL's texture
    // coordinates expect.
    stbi_set_flip_vertically_on_load(1);
    ImageFile in;
    if (!openImage(path, in, image.failure))
        return image;
    decoderBlockLimit = in.size * 65536 + (16 << 20);
    DecoderInput input { in.file, false };
    ImageHeader header;
    image.failure = kindNotRead(in);
    if (image.failure.empty())
        image.failure = readHeader(in, input, header);
    if (image.failure.empty())
        image.failure = sizeFault(header, largestTexture);
    if (image.failure.empty() && formatOf(in) != Format::Png)
        image.failure = decoderSizeFault(formatOf(in), header, header.channels);
    if (image.failure.empty())
        image.failure = formatFault(in, header);
    if (image.failure.empty())
        image.failure = decode(in, input, header, image);
    if (!image.failure.empty()) {
        stbi_image_free(image.pixels);
        image.pixels = nullptr;
        return image;
    }
    chooseGlFormat(image);
    return image;
}

// The one line printed for an image that is not shown; the scene check
// prints it too, so the two cannot say different things.
inline std::string failureLine(const Image& image)
{
    return "failed to load test.png" + (image.failure.empty() ? "" : ": " + image.failure);
}

// The decoded image into the bound 2D texture, with its mipmap chain.
inline void uploadImage(const Image& image)
{
    // Rows of one to three bytes a pixel need not start on four bytes.
    if (image.channels != 4)
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, image.format,
        GL_UNSIGNED_BYTE, image.pixels);
    if (image.swizzle)
        glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, image.swizzle);
    glGenerateMipmap(GL_TEXTURE_2D);
}

#endif
