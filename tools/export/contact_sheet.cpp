#include "tools/export/contact_sheet.h"

#include <cerrno>
#include <cstring>
#include <png.h>
#include <zlib.h>

namespace nimbra {

uint64_t SheetLayout::height(uint64_t cells) const {
    const uint64_t rows = (cells + columns - 1) / columns;
    return kGap + rows * rowHeight();
}

ContactSheet::~ContactSheet() { _Abandon(); }

void ContactSheet::_Abandon() {
    if (rows_) fclose(rows_);
    rows_ = nullptr;
    open_ = false;
}

bool ContactSheet::open(const std::string &path, const SheetOptions &options, std::string &error) {
    _Abandon();
    if (options.columns < 1 || options.columns > 64 ||
        (options.shrink != 1 && options.shrink != 2 && options.shrink != 4)) {
        error = "a contact sheet takes 1 to 64 columns and cells shrunk by 1, 2 or 4";
        return false;
    }
    rows_ = tmpfile();
    if (!rows_) {
        error = std::string("cannot make a scratch file: ") + strerror(errno);
        return false;
    }
    path_ = path;
    options_ = options;
    layout_.columns = (uint32_t)options.columns;
    layout_.cellWidth = (uint32_t)(kScreenWidth / options.shrink);
    layout_.cellHeight = (uint32_t)(kScreenHeight / options.shrink);
    count_ = 0;
    open_ = true;
    return true;
}

bool ContactSheet::add(const IndexedFrame &frame, std::string &error) {
    if (!open_) {
        error = "the contact sheet is not open";
        return false;
    }
    // A PNG is at most 2^31 - 1 pixels tall (the column limit keeps the
    // width far below that).
    if (layout_.height(count_ + 1) > 0x7FFFFFFF) {
        error = "the contact sheet would be too tall: choose fewer frames (--frames) or smaller cells (--shrink)";
        return false;
    }
    const uint64_t i = count_;
    if (i % layout_.columns == 0) row_ = RgbPicture(layout_.width(), layout_.rowHeight(), SheetLayout::kBackground);
    const uint32_t x = layout_.cellX(i);
    drawNumber(row_, (int32_t)x, (int32_t)((SheetLayout::kLabelHeight - kDigitHeight * SheetLayout::kLabelScale) / 2),
               frame.number, SheetLayout::kLabelScale, SheetLayout::kLabelColour);
    const RgbPicture cell = options_.shrink == 1 ? enlargeFrame(frame, 1) : shrinkFrame(frame, options_.shrink);
    for (uint32_t y = 0; y < cell.height; y++)
        memcpy(row_.at(x, SheetLayout::kLabelHeight + y), cell.at(0, y), (size_t)cell.width * 3);
    count_++;
    return count_ % layout_.columns != 0 || _FlushRow(error);
}

bool ContactSheet::_FlushRow(std::string &error) {
    // The gap above the first row is written with it.
    const size_t rowBytes = (size_t)layout_.width() * 3;
    if (ftell(rows_) == 0) {
        std::vector<uint8_t> top(rowBytes * SheetLayout::kGap);
        for (size_t k = 0; k < top.size(); k += 3) memcpy(&top[k], &SheetLayout::kBackground, 3);
        if (fwrite(top.data(), 1, top.size(), rows_) != top.size()) {
            error = std::string("cannot keep the contact sheet's rows: ") + strerror(errno);
            return false;
        }
    }
    if (fwrite(row_.rgb.data(), 1, row_.rgb.size(), rows_) != row_.rgb.size()) {
        error = std::string("cannot keep the contact sheet's rows: ") + strerror(errno);
        return false;
    }
    return true;
}

bool ContactSheet::finish(std::string &error) {
    if (!open_) {
        error = "the contact sheet is not open";
        return false;
    }
    if (count_ == 0) {
        error = "no frame to put on " + path_;
        _Abandon();
        return false;
    }
    if (count_ % layout_.columns != 0 && !_FlushRow(error)) return false;
    // Fewer frames than columns: the sheet is as wide as they are. The rows
    // kept are as wide as the columns asked for, and are cut as they are read.
    const uint32_t keptWidth = layout_.width();
    SheetLayout written = layout_;
    if (count_ < layout_.columns) written.columns = (uint32_t)count_;
    const uint32_t width = written.width(), height = (uint32_t)written.height(count_);
    std::vector<uint8_t> line((size_t)keptWidth * 3);

    const std::string partial = path_ + ".partial";
    FILE *out = fopen(partial.c_str(), "wb");
    if (!out) {
        error = "cannot write " + path_ + ": " + strerror(errno);
        return false;
    }
    rewind(rows_);
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        error = "cannot write " + path_ + ": " + (errno ? strerror(errno) : "cannot encode the PNG file");
        png_destroy_write_struct(&png, &info);
        fclose(out);
        remove(partial.c_str());
        return false;
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 6);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; y++) {
        if (fread(line.data(), 1, line.size(), rows_) != line.size()) {
            error = "cannot read back the contact sheet's rows";
            png_destroy_write_struct(&png, &info);
            fclose(out);
            remove(partial.c_str());
            return false;
        }
        png_write_row(png, line.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    const bool closed = fclose(out) == 0;
    _Abandon();
    if (!closed || rename(partial.c_str(), path_.c_str()) != 0) {
        error = "cannot write " + path_ + ": " + strerror(errno);
        remove(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace nimbra
