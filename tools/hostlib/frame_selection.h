// Which frames a tool works on, written as on its command line: "1,4-9"
// (single frames and inclusive ranges, in any order), "20-" (from frame 20
// to the last); empty selects every frame.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nimbra {

class FrameSelection {
public:
    // Every frame.
    FrameSelection() = default;
    // Parses the text; nullopt, with what is wrong in `error`, for anything
    // else than the forms above (a range that runs backwards too).
    static std::optional<FrameSelection> parse(const std::string &text, std::string &error);

    bool all() const { return ranges_.empty(); }
    bool contains(uint64_t frame) const;
    // Past the last frame it selects: no later frame is wanted (never for an
    // open range or for every frame).
    bool endsBefore(uint64_t frame) const;

private:
    struct Range {
        uint64_t first, last;   // inclusive; last = UINT64_MAX for an open end
    };
    std::vector<Range> ranges_;
};

}  // namespace nimbra
