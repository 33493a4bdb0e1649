// The picture of `sounder campaign --plot`: path gain against log10 distance with the
// fitted line, and beneath it the median RMS delay spread of each channel against it.

#include "campaign_plot.h"

#include "analysis_plot.h"

#include <qcustomplot.h>


#include <cmath>

namespace cli {

namespace {

const QColor Colours[3] = {QColor(200, 0, 0), QColor(0, 128, 0), QColor(0, 0, 200)};

// Distances are drawn as log10(d / 1 m), the variable the fit is linear in.
QCPAxisRect* logDistanceRect(QCustomPlot& plot, const QString& left)
{
    auto* rect = new QCPAxisRect(&plot);
    rect->axis(QCPAxis::atBottom)->setLabel("log10(distance from the transmitter / 1 m)");
    rect->axis(QCPAxis::atLeft)->setLabel(left);
    return rect;
}

void scatter(QCustomPlot& plot, QCPAxisRect* rect, const QVector<double>& x, const QVector<double>& y,
             const QColor& colour, const QString& name, QCPLegend* legend)
{
    QCPGraph* g = plot.addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    g->setData(x, y);
    g->setLineStyle(QCPGraph::lsNone);
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, colour, colour, 7));
    g->setName(name);
    if (legend)
        g->addToLegend(legend);
}

}  // namespace

std::string campaignPlotPng(const Campaign& campaign, const CampaignSettings& settings)
{
    QCustomPlot plot;
    plot.setLocale(QLocale::c());  // numbers as in the heading and the CSV, in every locale
    plot.resize(CampaignPlotWidth, CampaignPlotHeight);
    plot.setBackground(Qt::white);
    plot.setAutoAddPlottableToLegend(false);
    plot.plotLayout()->clear();
    QString heading = QString("%1 recordings, origin %2, %3")
                          .arg(campaign.rows.size())
                          .arg(settings.origin.latitudeDeg, 0, 'f', 6)
                          .arg(settings.origin.longitudeDeg, 0, 'f', 6);
    if (campaign.fit)
        heading += QString(": n = %1, path gain at 1 m %2 dB, residual %3 dB")
                       .arg(campaign.fit->exponent, 0, 'f', 3)
                       .arg(campaign.fit->interceptGainDb, 0, 'f', 2)
                       .arg(campaign.fit->residualStdDb, 0, 'f', 2);
    else
        heading += ": fit not made (" + QString::fromStdString(campaign.fitNote) + ")";
    plot.plotLayout()->addElement(0, 0, new QCPTextElement(&plot, heading, QFont("Sans", 13, QFont::Bold)));

    double nearest = 1e300, farthest = -1e300;
    QVector<double> gx, gy;
    QVector<double> sx[3], sy[3];
    for (const CampaignRow& row : campaign.rows) {
        if (!row.distance || !(row.distance->geodesicM > 0.0))
            continue;
        const double d = std::log10(row.distance->geodesicM);
        nearest = std::min(nearest, d);
        farthest = std::max(farthest, d);
        if (row.pathGainDb) {
            gx.push_back(d);
            gy.push_back(*row.pathGainDb);
        }
        for (int c = 0; c < 3; ++c)
            if (row.medianRmsSpreadBins[size_t(c)]) {
                sx[c].push_back(d);
                sy[c].push_back(*row.medianRmsSpreadBins[size_t(c)]);
            }
    }
    if (farthest < nearest) {
        nearest = 0.0;
        farthest = 1.0;
    }
    const double low = nearest - 0.2, high = farthest + 0.2;

    QCPAxisRect* gain = logDistanceRect(plot, "median path gain (dB)");
    plot.plotLayout()->addElement(1, 0, gain);
    scatter(plot, gain, gx, gy, Colours[2], "recordings", nullptr);
    if (campaign.fit) {
        QCPGraph* line = plot.addGraph(gain->axis(QCPAxis::atBottom), gain->axis(QCPAxis::atLeft));
        const auto at = [&](double x) { return campaign.fit->interceptGainDb - 10.0 * campaign.fit->exponent * x; };
        line->setData(QVector<double>{low, high}, QVector<double>{at(low), at(high)});
        line->setPen(QPen(Qt::black, 2));
    }
    gain->axis(QCPAxis::atBottom)->setRange(low, high);
    if (!gy.isEmpty()) {
        const auto [lo, hi] = std::minmax_element(gy.begin(), gy.end());
        gain->axis(QCPAxis::atLeft)->setRange(*lo - 5.0, *hi + 5.0);
    }

    QCPAxisRect* spread = logDistanceRect(plot, "median RMS delay spread (bins)");
    plot.plotLayout()->addElement(2, 0, spread);
    auto* legend = new QCPLegend;
    spread->insetLayout()->addElement(legend, Qt::AlignTop | Qt::AlignRight);
    legend->setLayer("legend");
    double top = 1.0;
    for (int c = 0; c < 3; ++c) {
        if (sx[c].isEmpty())
            continue;
        scatter(plot, spread, sx[c], sy[c], Colours[c], QString("ch %1").arg(c + 1), legend);
        top = std::max(top, *std::max_element(sy[c].begin(), sy[c].end()));
    }
    spread->axis(QCPAxis::atBottom)->setRange(low, high);
    spread->axis(QCPAxis::atLeft)->setRange(0.0, top * 1.1);
    plot.plotLayout()->setRowStretchFactor(0, 0.01);

    return plotPngBytes(plot, CampaignPlotWidth, CampaignPlotHeight);
}

}  // namespace cli
