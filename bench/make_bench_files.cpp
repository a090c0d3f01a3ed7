// Writes the three metadata-heavy benchmark files into the directory given:
// leaves.mp4 (a udta of 1,000,000 leaves), items.mp4 (an ilst of 200,000
// items, half freeform) and xtra.mp4 (an Xtra of 200,000 entries).
#include <cstdio>
#include <string>

#include "heavy_files.hpp"

namespace {

bool write_file(const std::string& path, const boxwalk::bench::Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <directory>\n", argv[0]);
        return 1;
    }
    using namespace boxwalk::bench;
    const std::string dir = argv[1];
    const bool ok = write_file(dir + "/leaves.mp4", many_leaves_file(1000000)) &&
                    write_file(dir + "/items.mp4", item_list_file(200000)) &&
                    write_file(dir + "/xtra.mp4", xtra_file(200000));
    return ok ? 0 : 1;
}
