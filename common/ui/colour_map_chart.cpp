#include "colour_map_chart.h"

#include <QMetaObject>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

ColourMapChart::ColourMapChart(QWidget* parent) : QWidget(parent), plot_(new QCustomPlot(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);
    plot_->setBackground(Qt::white);
    plot_->setNotAntialiasedElements(QCP::aeAll);
    plot_->setMouseTracking(true);  // the pointer is followed without a button held

    map_ = new QCPColorMap(plot_->xAxis, plot_->yAxis);
    map_->setInterpolate(false);
    map_->setTightBoundary(false);
    scale_ = new QCPColorScale(plot_);
    plot_->plotLayout()->addElement(0, 1, scale_);
    scale_->setType(QCPAxis::atRight);
    map_->setColorScale(scale_);
    // After the scale is attached, which would otherwise give the map its own gradient.
    QCPColorGradient gradient(QCPColorGradient::gpJet);
    gradient.setNanHandling(QCPColorGradient::nhTransparent);
    map_->setGradient(gradient);
    // The scale runs alongside the map, not the whole height of the widget.
    auto* group = new QCPMarginGroup(plot_);
    plot_->axisRect()->setMarginGroup(QCP::msBottom | QCP::msTop, group);
    scale_->setMarginGroup(QCP::msBottom | QCP::msTop, group);

    plot_->yAxis->setRangeReversed(true);
    plot_->yAxis2->setVisible(false);
    plot_->yAxis2->setRangeReversed(true);

    mark_ = new QCPItemRect(plot_);
    mark_->setPen(QPen(Qt::white, 2));
    mark_->setBrush(Qt::NoBrush);
    mark_->setVisible(false);

    connect(plot_, &QCustomPlot::mouseMove, this, &ColourMapChart::onMouseMove);
    connect(plot_, &QCustomPlot::mousePress, this, &ColourMapChart::onMousePress);
}

void ColourMapChart::setGrid(int columns, int rows, double firstKey)
{
    columns_ = std::max(1, columns);
    rows_ = std::max(1, rows);
    firstKey_ = firstKey;
    anyCell_ = false;
    map_->data()->setSize(columns_, rows_);
    map_->data()->setRange(QCPRange(firstKey, firstKey + columns_ - 1), QCPRange(0, rows_ - 1));
    map_->data()->fill(std::numeric_limits<double>::quiet_NaN());
    plot_->xAxis->setRange(firstKey - 0.5, firstKey + columns_ - 0.5);
    plot_->yAxis->setRange(-0.5, rows_ - 0.5);
    plot_->yAxis2->setRange(-0.5 * perRow_, (rows_ - 0.5) * perRow_);
    scheduleReplot();
}

void ColourMapChart::setRow(int row, const double* values)
{
    if (row < 0 || row >= rows_)
        return;
    QCPColorMapData* data = map_->data();
    for (int c = 0; c < columns_; ++c) {
        data->setCell(c, row, values[c]);
        if (!std::isfinite(values[c]))
            continue;
        if (!anyCell_) {
            lowest_ = highest_ = values[c];
            anyCell_ = true;
        }
        lowest_ = std::min(lowest_, values[c]);
        highest_ = std::max(highest_, values[c]);
    }
    if (automaticRange_)
        fitColourRange();
    scheduleReplot();
}

std::optional<double> ColourMapChart::cell(int column, int row) const
{
    if (column < 0 || column >= columns_ || row < 0 || row >= rows_)
        return std::nullopt;
    const double v = map_->data()->cell(column, row);
    if (std::isnan(v))
        return std::nullopt;
    return v;
}

void ColourMapChart::setAxisLabels(const QString& keyLabel, const QString& rowLabel, const QString& scaleLabel)
{
    plot_->xAxis->setLabel(keyLabel);
    plot_->yAxis->setLabel(rowLabel);
    scale_->axis()->setLabel(scaleLabel);
    scheduleReplot();
}

void ColourMapChart::setSecondRowAxis(const QString& label, double perRow)
{
    perRow_ = perRow;
    plot_->yAxis2->setVisible(true);
    plot_->yAxis2->setTickLabels(true);
    plot_->yAxis2->setLabel(label);
    plot_->yAxis2->setRange(-0.5 * perRow_, (rows_ - 0.5) * perRow_);
    scheduleReplot();
}

void ColourMapChart::setColourRangeAutomatic()
{
    automaticRange_ = true;
    fitColourRange();
    scheduleReplot();
}

bool ColourMapChart::setColourRange(double lowest, double highest)
{
    // The map ignores a range it cannot use; the scale would then claim a range it
    // does not show.
    if (!(lowest < highest) || !QCPRange::validRange(lowest, highest))
        return false;
    automaticRange_ = false;
    map_->setDataRange(QCPRange(lowest, highest));
    scheduleReplot();
    return true;
}

std::pair<double, double> ColourMapChart::colourRange() const
{
    const QCPRange range = map_->dataRange();
    return {range.lower, range.upper};
}

void ColourMapChart::fitColourRange()
{
    if (!anyCell_)
        return;
    // A range of one value still needs a width to map colours over.
    map_->setDataRange(QCPRange(lowest_, highest_ > lowest_ ? highest_ : lowest_ + 1.0));
}

void ColourMapChart::markRows(std::optional<std::pair<double, double>> rows)
{
    marked_ = rows;
    mark_->setVisible(rows.has_value());
    if (rows) {
        mark_->topLeft->setCoords(firstKey_ - 0.5, rows->first - 0.5);
        mark_->bottomRight->setCoords(firstKey_ + columns_ - 0.5, rows->second + 0.5);
    }
    scheduleReplot();
}

std::optional<std::pair<int, int>> ColourMapChart::cellAt(const QPoint& position) const
{
    if (!plot_->axisRect()->rect().contains(position))
        return std::nullopt;
    const double key = plot_->xAxis->pixelToCoord(position.x());
    const double value = plot_->yAxis->pixelToCoord(position.y());
    const int column = static_cast<int>(std::floor(key - firstKey_ + 0.5));
    const int row = static_cast<int>(std::floor(value + 0.5));
    if (column < 0 || column >= columns_ || row < 0 || row >= rows_)
        return std::nullopt;
    return std::make_pair(column, row);
}

void ColourMapChart::onMouseMove(QMouseEvent* event)
{
    if (const auto at = cellAt(event->position().toPoint()))
        emit cellHovered(at->first, at->second);
    else
        emit cellLeft();
}

void ColourMapChart::onMousePress(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (const auto at = cellAt(event->position().toPoint()))
        emit cellClicked(at->first, at->second);
}

QPixmap ColourMapChart::drawToBitmap()
{
    flush();
    return plot_->toPixmap(plot_->width(), plot_->height());
}

void ColourMapChart::flush()
{
    replotScheduled_ = false;
    plot_->replot();
}

void ColourMapChart::scheduleReplot()
{
    if (replotScheduled_)
        return;
    replotScheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (replotScheduled_)
                flush();
        },
        Qt::QueuedConnection);
}
