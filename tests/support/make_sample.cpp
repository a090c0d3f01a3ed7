// Writes a sample file that the README runs boxwalk on; the file name picks
// which one (song.m4a or damaged.m4a).
#include <cstdio>
#include <filesystem>

#include "support/atoms.hpp"
#include "support/process.hpp"

int main(int argc, char** argv) {
    const std::filesystem::path output = argc == 2 ? argv[1] : "";
    const std::string name = output.filename().string();
    if (name != "song.m4a" && name != "damaged.m4a") {
        std::fprintf(stderr, "usage: %s DIR/song.m4a | DIR/damaged.m4a\n", argv[0]);
        return 1;
    }
    boxwalk::test::write_file(output, name == "song.m4a" ? boxwalk::test::sample_song()
                                                         : boxwalk::test::sample_damaged());
    return 0;
}
