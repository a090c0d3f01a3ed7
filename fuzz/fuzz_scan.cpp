// libFuzzer entry point: the whole scan, from the top level down through the
// walker and both tag decoders, on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "bin/boxwalk/driver.hpp"

namespace {

class DiscardOutput final : public boxwalk::Output {
public:
    void write(std::string_view) override {}
    void end_line() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DiscardOutput out;
    boxwalk::scan_top_level(boxwalk::ByteView(data, size), out);
    return 0;
}
