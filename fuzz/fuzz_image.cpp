// libFuzzer target: each input is the viewer's image file, read by its own
// image step; the sanitizers report a bad access, a leak or undefined behaviour.
#define STB_IMAGE_IMPLEMENTATION
#include "image.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

// The smallest largest texture a 4.6 implementation may have, so that every
// image the viewer could be asked to decode is decoded here.
static GLint largestTexture()
{
    return 16384;
}

// One file per process, on a memory file system where there is one.
static std::string path;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/viewer-fuzz-"
        + std::to_string(getpid()) + ".img";
    std::atexit([] { unlink(path.c_str()); });
    return 0;
}

// Decoded twice, the decoder's blocks filled differently each time: a byte
// the file did not supply shows as a difference.
static void check(const char* file)
{
    Image image = loadImage(file, largestTexture);
    decoderFill = 0xA5;
    Image again = loadImage(file, largestTexture);
    decoderFill = 0;
    if (!image.pixels != !again.pixels || image.failure != again.failure)
        std::abort();
    // A refused image always says why, but for a missing file.
    if (!image.pixels && image.failure.empty())
        std::abort();
    if (image.pixels) {
        GLenum formats[] = { GL_RED, GL_RG, GL_RGB, GL_RGBA };
        if (image.channels < 1 || image.channels > 4 || image.format != formats[image.channels - 1]
            || image.width <= 0 || image.height <= 0 || image.width > largestTexture()
            || image.height > largestTexture() || image.width != again.width
            || image.height != again.height || image.channels != again.channels)
            std::abort();
        // GL reads width x height x channels bytes: all of them are compared,
        // so a short buffer shows as the overflow it would be in the upload.
        std::size_t bytes
            = std::size_t(image.width) * std::size_t(image.height) * std::size_t(image.channels);
        if (std::memcmp(image.pixels, again.pixels, bytes) != 0)
            std::abort();
    }
    stbi_image_free(again.pixels);
    stbi_image_free(image.pixels);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        std::abort();
    check(path.c_str());
    return 0;
}

#ifdef FUZZ_REPLAY
// Without libFuzzer: each file named on the command line is one input, and a
// failing one ends the run with the sanitizers' report or an abort.
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++)
        check(argv[i]);
    std::printf("%d inputs replayed\n", argc - 1);
    return 0;
}
#endif
