// libFuzzer entry point: the plan of what a load reads against the scan
// that reads it. The scan of the whole input and the scan of a view that
// holds only the planned bytes must print the same, with every other page
// inaccessible and the unplanned bytes of the planned pages set to 0x00,
// then to 0xFF. A read the plan missed faults or changes the output; either
// aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bin/boxwalk/scan.hpp"
#include "bin/boxwalk/system.hpp"

namespace {

using boxwalk::ByteView;

// Plans into a reservation of the input's length, copying the bytes asked
// for from the input onto pages filled with `filler`.
class CopyPlanner final : public boxwalk::ReadPlanner {
public:
    CopyPlanner(ByteView input, std::uint8_t filler)
        : input_(input),
          filler_(filler),
          page_(boxwalk::sys::page_size()),
          reserved_((input.size() + page_ - 1) / page_ * page_),
          base_(reserved_ == 0 ? nullptr : boxwalk::sys::reserve_pages(reserved_)),
          committed_(reserved_ / page_, false) {
        if (reserved_ != 0 && base_ == nullptr) {
            std::abort();
        }
    }
    ~CopyPlanner() {
        if (base_ != nullptr) {
            boxwalk::sys::release_pages(base_, reserved_);
        }
    }

    ByteView view() const { return ByteView(base_, input_.size()); }

    bool fetch(std::uint64_t pos, std::uint64_t count) override {
        if (pos >= input_.size()) {
            return true;
        }
        const std::uint64_t end = count > input_.size() - pos ? input_.size() : pos + count;
        for (std::uint64_t page = pos / page_; page * page_ < end; ++page) {
            if (!committed_[page]) {
                std::uint8_t* const at = base_ + page * page_;
                if (!boxwalk::sys::commit_pages(at, page_)) {
                    std::abort();
                }
                std::memset(at, filler_, page_);
                committed_[page] = true;
            }
        }
        std::memcpy(base_ + pos, input_.data() + pos, end - pos);
        return true;
    }

    void seal() {
        for (std::size_t page = 0; page < committed_.size(); ++page) {
            if (committed_[page]) {
                boxwalk::sys::seal_pages(base_ + page * page_, page_);
            }
        }
    }

private:
    ByteView input_;
    std::uint8_t filler_;
    std::uint64_t page_;
    std::uint64_t reserved_;
    std::uint8_t* base_;
    std::vector<bool> committed_;
};

std::string scan(ByteView data) {
    boxwalk::StringOutput out;
    boxwalk::scan_top_level(data, out);
    return out.text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteView input(data, size);
    const std::string whole = scan(input);
    for (const std::uint8_t filler : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
        CopyPlanner planner(input, filler);
        if (!boxwalk::plan_reads(planner.view(), planner)) {
            std::abort();
        }
        planner.seal();
        if (scan(planner.view()) != whole) {
            std::abort();
        }
    }
    return 0;
}
