#include "bin/boxwalk-json/driver.hpp"
#include "bin/boxwalk/platform.hpp"

int main(int argc, char** argv) {
    boxwalk::Console console;
    // A stream keeps what the tag reader reads as well as the console's lines.
    const auto load = [](const boxwalk::Argument& path) {
        return boxwalk::load_file_for(path, boxwalk::kEveryTagPlan);
    };
    return boxwalk::run_json(boxwalk::platform_arguments(argc, argv), load, console.out(),
                             console.err(), boxwalk::load_file_again);
}
