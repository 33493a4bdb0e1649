#pragma once
// The line chart both windows draw on: exactly what they ask of a chart, over
// QCustomPlot. Points added one by one are collected and handed to the plot in one
// batch, so adding thousands of points costs a single replot.

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <vector>

class QCustomPlot;
class QCPTextElement;

class LineChart : public QWidget {
    Q_OBJECT
public:
    explicit LineChart(QWidget* parent = nullptr);

    // Series are numbered from 0 in the order they were added.
    int addSeries(const QColor& colour);
    int seriesCount() const { return static_cast<int>(series_.size()); }
    void clearSeries(int series);
    // Adds a point whose X is its position in the series (0, 1, 2, ...).
    void addPoint(int series, double y);
    int pointCount(int series) const;
    double pointY(int series, int index) const;
    QColor seriesColour(int series) const;

    void setTitle(const QString& title);
    QString title() const;

    // Left axis: automatic (fits the data) or fixed; the minimum is set before the maximum.
    void setLeftAxisAutomatic(bool automatic);
    bool leftAxisAutomatic() const { return leftAutomatic_; }
    void setLeftAxisMinimum(double minimum);
    void setLeftAxisMaximum(double maximum);
    double leftAxisMinimum() const { return leftMin_; }
    double leftAxisMaximum() const { return leftMax_; }
    // Bottom axis: automatic, fitted to the points shown.
    void setBottomAxisAutomatic();

    // The chart at its current size as a bitmap.
    QPixmap drawToBitmap();

    // Hands pending points to the plot and redraws now (otherwise done once the
    // event loop runs again).
    void flush();
    // Number of redraws so far (for measurements).
    int replotCount() const { return replots_; }

private:
    struct Series {
        QColor colour;
        std::vector<double> values;
        bool dirty = false;
    };
    void scheduleFlush();

    QCustomPlot* plot_;
    QCPTextElement* titleElement_;
    std::vector<Series> series_;
    bool leftAutomatic_ = true;
    double leftMin_ = 0.0;
    double leftMax_ = 0.0;
    bool flushScheduled_ = false;
    bool axesDirty_ = false;
    int replots_ = 0;
};
