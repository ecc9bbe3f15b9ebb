// A contact sheet: frames side by side in a grid of `columns`, each under a
// strip with its number, written as one RGB PNG. Cells are whole frames, or
// frames shrunk by 2 or 4 (each pixel the mean of a block). Any number of
// frames: finished rows of cells wait in a scratch file until the height of
// the picture is known.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/export/frame_pictures.h"

namespace nimbra {

struct SheetOptions {
    int columns = 4;   // 1 to 64
    int shrink = 1;    // 1, 2 or 4
};

// Where things are on a sheet: a gap around and between cells, and above
// each cell its number strip.
struct SheetLayout {
    static constexpr uint32_t kGap = 8;
    static constexpr uint32_t kLabelHeight = 20;
    static constexpr int kLabelScale = 2;
    static constexpr Rgb kBackground{0x20, 0x20, 0x20};
    static constexpr Rgb kLabelColour{0xFF, 0xFF, 0xFF};

    uint32_t columns = 1, cellWidth = kScreenWidth, cellHeight = kScreenHeight;

    uint32_t rowHeight() const { return kLabelHeight + cellHeight + kGap; }
    uint32_t width() const { return kGap + columns * (cellWidth + kGap); }
    uint64_t height(uint64_t cells) const;
    // The top-left corner of cell `i` (its picture, below the number strip).
    uint32_t cellX(uint64_t i) const { return kGap + (uint32_t)(i % columns) * (cellWidth + kGap); }
    uint64_t cellY(uint64_t i) const { return kGap + (i / columns) * rowHeight() + kLabelHeight; }
};

class ContactSheet {
public:
    ContactSheet() = default;
    ~ContactSheet();
    ContactSheet(const ContactSheet &) = delete;
    ContactSheet &operator=(const ContactSheet &) = delete;

    bool open(const std::string &path, const SheetOptions &options, std::string &error);
    bool add(const IndexedFrame &frame, std::string &error);
    // Writes the picture; with fewer frames than columns the sheet is as
    // wide as the frames. False when nothing was added or it cannot be written.
    bool finish(std::string &error);

    const SheetLayout &layout() const { return layout_; }

private:
    bool _FlushRow(std::string &error);
    void _Abandon();

    std::string path_;
    SheetOptions options_;
    SheetLayout layout_;
    RgbPicture row_;          // the row of cells being filled (one sheet row tall)
    uint64_t count_ = 0;
    FILE *rows_ = nullptr;    // finished rows of cells, raw RGB
    bool open_ = false;
};

}  // namespace nimbra
