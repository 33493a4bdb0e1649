#pragma once
// The cells of a waterfall picture's colour map, one map per channel: a map of more
// cells than the picture has pixels shows no more, so each cell is the largest of the
// rows x bins it stands for, and a path one sweep or one bin wide still shows. Built
// row by row, in order, as the rows are made (while the recording is read) or at once
// from all of them. Qt-free.

#include <cstddef>
#include <vector>

namespace cli {

// The pixels each channel's map takes in a width x height picture of `channels` maps
// side by side (room left for the axes, their titles and the colour scale); under 1
// where the picture is too small for that room.
struct MapPixels {
    int width = 1;
    int height = 1;
};
MapPixels waterfallMapPixels(int width, int height, int channels);

class WaterfallCells {
public:
    // The cells of `rows` rows in a map of the given pixels, none added yet.
    WaterfallCells(int rows, MapPixels pixels);

    // Adds the next `count` rows (ProfileRowBins floats each, in dB, never NaN), the
    // first of them row rowsAdded(). A cell row is whole once its last row is added.
    void addRows(const float* rows, int count);
    int rowsAdded() const { return added_; }

    // Whether these are the cells a map of `rows` rows in `pixels` has, all rows added.
    bool completeFor(int rows, MapPixels pixels) const;

    int columns() const { return columns_; }
    int cellRows() const { return cellRows_; }
    int binsPerColumn() const { return binsPerColumn_; }
    int rowsPerCellRow() const { return rowsPerCellRow_; }
    // Cell (column, cellRow); -infinity where no row has been added.
    float cell(int column, int cellRow) const { return cells_[std::size_t(cellRow) * std::size_t(columns_) + std::size_t(column)]; }

private:
    void closeCellRow();

    int rows_ = 0;
    MapPixels pixels_;
    int columns_ = 0;
    int cellRows_ = 0;
    int binsPerColumn_ = 1;
    int rowsPerCellRow_ = 1;
    int added_ = 0;
    std::vector<float> highest_;  // each bin's largest over the open cell row's rows so far
    std::vector<float> cells_;    // cellRows x columns
};

}  // namespace cli
