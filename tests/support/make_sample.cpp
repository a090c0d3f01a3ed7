// Writes the sample file that the README runs boxwalk on.
#include <cstdio>

#include "support/atoms.hpp"
#include "support/process.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 1;
    }
    boxwalk::test::write_file(argv[1], boxwalk::test::sample_song());
    return 0;
}
