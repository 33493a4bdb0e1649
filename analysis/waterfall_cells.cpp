#include "waterfall_cells.h"

#include "recording_analysis.h"

#include <algorithm>
#include <cmath>

namespace cli {

MapPixels waterfallMapPixels(int width, int height, int channels)
{
    // May be under 1 in a small picture: the cells then take one pixel's share each.
    return {width / std::max(1, channels) - 80, height - 120};
}

WaterfallCells::WaterfallCells(int rows, MapPixels pixels)
    : rows_(std::max(0, rows)), pixels_(pixels), highest_(size_t(ProfileRowBins), -INFINITY)
{
    binsPerColumn_ = std::max(1, (ProfileRowBins + pixels.width - 1) / std::max(1, pixels.width));
    rowsPerCellRow_ = std::max(1, (rows_ + pixels.height - 1) / std::max(1, pixels.height));
    columns_ = (ProfileRowBins + binsPerColumn_ - 1) / binsPerColumn_;
    cellRows_ = (rows_ + rowsPerCellRow_ - 1) / rowsPerCellRow_;
    cells_.assign(size_t(columns_) * size_t(cellRows_), -INFINITY);
}

void WaterfallCells::addRows(const float* rows, int count)
{
    // First the largest of each bin over a cell row's rows (a loop that vectorizes),
    // then of each column's bins once the cell row is whole: the same largest values as
    // one pass over the cells, whatever the order (the dB values are never NaN or -0).
    for (int r = 0; r < count && added_ < rows_; ++r, ++added_) {
        const float* in = rows + size_t(r) * ProfileRowBins;
        for (int k = 0; k < ProfileRowBins; ++k)
            highest_[size_t(k)] = std::max(highest_[size_t(k)], in[k]);
        if ((added_ + 1) % rowsPerCellRow_ == 0 || added_ + 1 == rows_)
            closeCellRow();
    }
}

void WaterfallCells::closeCellRow()
{
    float* out = cells_.data() + size_t(added_ / rowsPerCellRow_) * size_t(columns_);
    for (int c = 0; c < columns_; ++c)
        for (int k = c * binsPerColumn_; k < std::min(ProfileRowBins, (c + 1) * binsPerColumn_); ++k)
            out[c] = std::max(out[c], highest_[size_t(k)]);
    std::fill(highest_.begin(), highest_.end(), -INFINITY);
}

bool WaterfallCells::completeFor(int rows, MapPixels pixels) const
{
    return rows == rows_ && added_ == rows_ && pixels.width == pixels_.width && pixels.height == pixels_.height;
}

}  // namespace cli
