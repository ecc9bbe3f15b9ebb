#include "tools/hostlib/frame_selection.h"

#include <charconv>

namespace nimbra {

namespace {

// A frame number: decimal digits only, no sign, no blanks.
bool _Number(const std::string &text, uint64_t &value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && text[0] != '+' && text[0] != '-';
}

}  // namespace

std::optional<FrameSelection> FrameSelection::parse(const std::string &text, std::string &error) {
    FrameSelection selection;
    if (text.empty()) {
        error = "no frames given (write them as 1,4-9 or 20-)";
        return std::nullopt;
    }
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(start, comma - start);
        const size_t dash = item.find('-');
        Range r{};
        bool ok;
        if (dash == std::string::npos) {
            ok = _Number(item, r.first);
            r.last = r.first;
        } else {
            ok = _Number(item.substr(0, dash), r.first);
            const std::string last = item.substr(dash + 1);
            if (last.empty()) {
                r.last = UINT64_MAX;
            } else {
                ok = ok && _Number(last, r.last);
            }
        }
        if (!ok) {
            error = "'" + item + "' is no frame number or range (write them as 1,4-9 or 20-)";
            return std::nullopt;
        }
        if (r.last < r.first) {
            error = "the range '" + item + "' runs backwards";
            return std::nullopt;
        }
        selection.ranges_.push_back(r);
        start = comma + 1;
    }
    return selection;
}

bool FrameSelection::contains(uint64_t frame) const {
    if (ranges_.empty()) return true;
    for (const Range &r : ranges_)
        if (frame >= r.first && frame <= r.last) return true;
    return false;
}

bool FrameSelection::endsBefore(uint64_t frame) const {
    if (ranges_.empty()) return false;
    for (const Range &r : ranges_)
        if (r.last >= frame) return false;
    return true;
}

}  // namespace nimbra
