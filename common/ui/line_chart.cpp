#include "line_chart.h"

#include <QMetaObject>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <stdexcept>

LineChart::LineChart(QWidget* parent) : QWidget(parent), plot_(new QCustomPlot(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);
    plot_->plotLayout()->insertRow(0);
    titleElement_ = new QCPTextElement(plot_, QString(), QFont(QStringLiteral("Arial"), 10));
    titleElement_->setTextColor(Qt::black);
    plot_->plotLayout()->addElement(0, 0, titleElement_);
    plot_->legend->setVisible(false);
    plot_->setBackground(Qt::white);
    plot_->axisRect()->setBackground(Qt::NoBrush);
    plot_->setNotAntialiasedElements(QCP::aeAll);
}

int LineChart::addSeries(const QColor& colour)
{
    QCPGraph* graph = plot_->addGraph();
    graph->setPen(QPen(colour));
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setScatterStyle(QCPScatterStyle::ssNone);
    graph->setAdaptiveSampling(true);
    series_.push_back(Series{colour, {}, false});
    return static_cast<int>(series_.size()) - 1;
}

void LineChart::clearSeries(int series)
{
    Series& s = series_.at(static_cast<size_t>(series));
    s.values.clear();
    s.dirty = true;
    scheduleFlush();
}

void LineChart::addPoint(int series, double y)
{
    Series& s = series_.at(static_cast<size_t>(series));
    s.values.push_back(y);
    s.dirty = true;
    scheduleFlush();
}

int LineChart::pointCount(int series) const
{
    return static_cast<int>(series_.at(static_cast<size_t>(series)).values.size());
}

double LineChart::pointY(int series, int index) const
{
    return series_.at(static_cast<size_t>(series)).values.at(static_cast<size_t>(index));
}

QColor LineChart::seriesColour(int series) const
{
    return series_.at(static_cast<size_t>(series)).colour;
}

void LineChart::setTitle(const QString& title)
{
    titleElement_->setText(title);
    setAccessibleName(title);
    axesDirty_ = true;
    scheduleFlush();
}

QString LineChart::title() const
{
    return titleElement_->text();
}

void LineChart::setLeftAxisAutomatic(bool automatic)
{
    leftAutomatic_ = automatic;
    if (!automatic) {
        const QCPRange range = plot_->yAxis->range();
        leftMin_ = range.lower;
        leftMax_ = range.upper;
    }
    axesDirty_ = true;
    scheduleFlush();
}

void LineChart::setLeftAxisMinimum(double minimum)
{
    leftMin_ = minimum;
    axesDirty_ = true;
    scheduleFlush();
}

void LineChart::setLeftAxisMaximum(double maximum)
{
    leftMax_ = maximum;
    axesDirty_ = true;
    scheduleFlush();
}

void LineChart::setBottomAxisAutomatic()
{
    axesDirty_ = true;
    scheduleFlush();
}

void LineChart::scheduleFlush()
{
    if (flushScheduled_)
        return;
    flushScheduled_ = true;
    QMetaObject::invokeMethod(this, &LineChart::flush, Qt::QueuedConnection);
}

void LineChart::flush()
{
    flushScheduled_ = false;
    bool anyDirty = axesDirty_;
    for (size_t i = 0; i < series_.size(); ++i) {
        Series& s = series_[i];
        if (!s.dirty)
            continue;
        anyDirty = true;
        s.dirty = false;
        QVector<double> keys(static_cast<qsizetype>(s.values.size()));
        QVector<double> values(keys.size());
        for (qsizetype k = 0; k < keys.size(); ++k) {
            keys[k] = static_cast<double>(k);
            values[k] = s.values[static_cast<size_t>(k)];
        }
        plot_->graph(static_cast<int>(i))->setData(keys, values, true);
    }
    if (!anyDirty)
        return;
    axesDirty_ = false;

    // Bottom axis: automatic over every point shown.
    double lastX = 0.0;
    for (const Series& s : series_)
        if (!s.values.empty())
            lastX = std::max(lastX, static_cast<double>(s.values.size() - 1));
    plot_->xAxis->setRange(0.0, lastX > 0.0 ? lastX : 1.0);

    if (leftAutomatic_) {
        bool found = false;
        QCPRange all;
        for (int g = 0; g < plot_->graphCount(); ++g) {
            bool ok = false;
            const QCPRange r = plot_->graph(g)->getValueRange(ok);
            if (!ok)
                continue;
            all = found ? QCPRange(std::min(all.lower, r.lower), std::max(all.upper, r.upper)) : r;
            found = true;
        }
        if (found) {
            if (all.size() == 0.0)
                all = QCPRange(all.lower - 1.0, all.upper + 1.0);
            plot_->yAxis->setRange(all);
        }
    } else {
        plot_->yAxis->setRange(QCPRange(leftMin_, leftMax_).sanitizedForLinScale());
    }
    plot_->replot();
    ++replots_;
}

QPixmap LineChart::drawToBitmap()
{
    flush();
    return plot_->toPixmap(width(), height());
}
