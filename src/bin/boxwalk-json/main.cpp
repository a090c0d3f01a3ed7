#include "bin/boxwalk-json/driver.hpp"
#include "bin/boxwalk/platform.hpp"

int main(int argc, char** argv) {
    boxwalk::Console console;
    return boxwalk::run_json(boxwalk::platform_arguments(argc, argv), boxwalk::load_file,
                             console.out(), console.err());
}
