// libFuzzer target: each input is the viewer's image file, read by its own
// image step; the sanitizers report a bad access, a leak or undefined behaviour.
#define STB_IMAGE_IMPLEMENTATION
#include "image.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
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
// the file did not supply shows as a difference. Returns the outcome:
// "loads", or the reason the image is refused.
static std::string check(const char* file)
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
    return image.pixels ? "loads" : image.failure;
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
// Without libFuzzer: every input in DIR, each against the outcome MANIFEST
// gives it, one line a file: its name, a tab, and "loads" or the reason it
// is refused. A failing input ends the run with the sanitizers' report or an
// abort; a wrong outcome, an input over the time limit or one the manifest
// does not name fails it.
int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_replay MANIFEST DIR\n");
        return 2;
    }
    const double limit = 20; // seconds an input, under the sanitizers
    std::map<std::string, std::string> expected;
    std::ifstream manifest(argv[1]);
    for (std::string line; std::getline(manifest, line);) {
        std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            expected[line.substr(0, tab)] = line.substr(tab + 1);
    }
    int failed = 0, replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(argv[2])) {
        std::string name = entry.path().filename().string();
        auto start = std::chrono::steady_clock::now();
        std::string outcome = check(entry.path().c_str());
        double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        replayed++;
        auto want = expected.find(name);
        std::string says = want == expected.end() ? "" : want->second;
        if (want != expected.end())
            expected.erase(want);
        if (says.empty())
            std::printf("%s: not in the manifest (outcome: %s)\n", name.c_str(), outcome.c_str());
        else if (outcome != says)
            std::printf("%s: %s, where the manifest says %s\n", name.c_str(), outcome.c_str(),
                says.c_str());
        else if (seconds > limit)
            std::printf("%s: %.1f s, past the limit of %.0f s\n", name.c_str(), seconds, limit);
        else
            continue;
        failed++;
    }
    for (const auto& left : expected) {
        std::printf("%s: in the manifest but not in %s\n", left.first.c_str(), argv[2]);
        failed++;
    }
    std::printf("%d inputs replayed, %d failed\n", replayed, failed);
    return failed ? 1 : 0;
}
#endif
