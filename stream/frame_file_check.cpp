#include "stream/frame_file_check.h"

#include <cstddef>
#include <fstream>
#include <vector>

namespace {

// Walks the markers from the start of image. Segments are skipped by their length, so
// the markers of an embedded thumbnail are never seen; the entropy-coded data after a
// start of scan holds no marker but stuffed bytes (FF 00) and restarts (FF D0 .. D7).
// Anything after the end-of-image marker (a trailer) does not matter.
bool EndsBeforeEndOfImage(const std::vector<unsigned char>& b)
{
    const std::size_t n = b.size();
    std::size_t i = 2;
    for (;;) {
        while (i < n && b[i] != 0xFF)
            ++i;  // entropy-coded data, or stray bytes
        while (i < n && b[i] == 0xFF)
            ++i;  // fill bytes
        if (i >= n)
            return true;
        const unsigned char marker = b[i++];
        if (marker == 0xD9)
            return false;  // end of image
        const bool standalone = marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
        if (standalone)
            continue;
        if (i + 2 > n)
            return true;
        const std::size_t length = (static_cast<std::size_t>(b[i]) << 8) | b[i + 1];
        if (length < 2)
            return true;
        i += length;
    }
}

}  // namespace

bool IsTruncatedJpegFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    unsigned char magic[3] = {};
    if (!file.read(reinterpret_cast<char*>(magic), 3) || magic[0] != 0xFF || magic[1] != 0xD8 || magic[2] != 0xFF)
        return false;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size <= 0)
        return false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(bytes.data()), size))
        return false;
    return EndsBeforeEndOfImage(bytes);
}
