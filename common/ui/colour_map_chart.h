#pragma once
// A colour map over QCustomPlot: a grid of columns (horizontal axis) by rows (vertical
// axis, row 0 at the top), each cell a value shown in colour beside a colour scale.
// Rows may arrive one at a time; cells not yet given are left blank. Redraws are
// gathered: any number of rows set between two turns of the event loop cost one.

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <optional>
#include <utility>

class QCustomPlot;
class QCPColorMap;
class QCPColorScale;
class QCPItemRect;
class QMouseEvent;

class ColourMapChart : public QWidget {
    Q_OBJECT
public:
    explicit ColourMapChart(QWidget* parent = nullptr);

    // columns cells across, keys firstKey, firstKey + 1, ...; rows cells down, row r
    // at value r. Every cell starts blank.
    void setGrid(int columns, int rows, double firstKey);
    int columns() const { return columns_; }
    int rows() const { return rows_; }
    // Row r's values, values[0 .. columns - 1].
    void setRow(int row, const double* values);
    // The value of a cell, nullopt while it is blank.
    std::optional<double> cell(int column, int row) const;

    void setAxisLabels(const QString& keyLabel, const QString& rowLabel, const QString& scaleLabel);
    // The right-hand axis: the row number scaled (a block's first sweep, say).
    void setSecondRowAxis(const QString& label, double perRow);

    // Colour scale: automatic (the range of the cells given) or fixed.
    void setColourRangeAutomatic();
    // false, and the scale left as it was, for a range the map cannot spread its
    // colours over: ends not finite or not ascending, or beyond what the plot takes
    // (ends past +-1e250, or closer together than 1e-280).
    bool setColourRange(double lowest, double highest);
    bool colourRangeAutomatic() const { return automaticRange_; }
    std::pair<double, double> colourRange() const;

    // A band over rows first .. last (fractional rows allowed) marked by a frame;
    // nullopt removes it.
    void markRows(std::optional<std::pair<double, double>> rows);
    std::optional<std::pair<double, double>> markedRows() const { return marked_; }

    // The cell under a point of the widget, if any.
    std::optional<std::pair<int, int>> cellAt(const QPoint& position) const;

    QPixmap drawToBitmap();
    // Redraws now instead of at the next turn of the event loop.
    void flush();

signals:
    // The pointer over a cell (column, row), or off the grid (cellLeft).
    void cellHovered(int column, int row);
    void cellLeft();
    // A click with the left button on a cell.
    void cellClicked(int column, int row);

private:
    void scheduleReplot();
    void fitColourRange();
    void onMouseMove(QMouseEvent* event);
    void onMousePress(QMouseEvent* event);

    QCustomPlot* plot_;
    QCPColorMap* map_;
    QCPColorScale* scale_;
    QCPItemRect* mark_;
    int columns_ = 0;
    int rows_ = 0;
    double firstKey_ = 0.0;
    bool automaticRange_ = true;
    bool replotScheduled_ = false;
    bool anyCell_ = false;
    double lowest_ = 0.0;
    double highest_ = 0.0;
    double perRow_ = 1.0;
    std::optional<std::pair<double, double>> marked_;
};
