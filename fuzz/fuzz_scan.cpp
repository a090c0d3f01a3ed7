// libFuzzer entry point: the whole scan after the load, from the top level
// down through the walker and both tag decoders, on arbitrary bytes. Besides
// the sanitizers' checks, the output must be whole lines of valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "primitives/text.hpp"
#include "tree/scan.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    boxwalk::StringOutput out;
    boxwalk::scan_top_level(boxwalk::ByteView(data, size), out);
    const std::string& text = out.text();
    if (!boxwalk::is_valid_utf8(
            boxwalk::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) ||
        (!text.empty() && text.back() != '\n')) {
        std::abort();
    }
    return 0;
}
