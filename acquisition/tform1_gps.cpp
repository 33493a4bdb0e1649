// The "GPS" readout and the positions of a recording run. The gpsd reader runs on a
// thread of its own; the GUI thread only copies its latest state, so neither the
// readout nor "Acquire" ever waits for gpsd.

#include "tform1.h"

#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QTimer>

namespace {

// The free band of "Settings" between "Exit" (ends at 441) and "Acquire" (starts at 504).
constexpr int GpsLeft = 8, GpsTop = 456, GpsWidth = 201, GpsHeight = 17;
constexpr int RefreshMs = 1000;

}  // namespace

void TForm1::buildGpsStatus()
{
    GpsLabel = new QLabel(GroupBox2);
    GpsLabel->setObjectName(QStringLiteral("GpsLabel"));
    GpsLabel->setGeometry(GpsLeft, GpsTop, GpsWidth, GpsHeight);
    GpsLabel->setTextFormat(Qt::PlainText);
    gpsTimer_ = new QTimer(this);
    gpsTimer_->setInterval(RefreshMs);
    connect(gpsTimer_, &QTimer::timeout, this, [this] { ShowGpsStatus(); });
    ShowGpsStatus();
}

void TForm1::setGpsSource(const GpsSource* source)
{
    gps_ = source;
    if (gps_)
        gpsTimer_->start();
    else
        gpsTimer_->stop();
    ShowGpsStatus();
}

meta::PositionSample TForm1::CurrentPosition() const
{
    return positionAt(gps_ ? gps_->latest() : GpsState{}, GpsClock::now());
}

void TForm1::ShowGpsStatus()
{
    const GpsState state = gps_ ? gps_->latest() : GpsState{};
    const GpsClock::time_point now = GpsClock::now();
    // The line keeps to the width of "Settings"; the full reason is in the tooltip
    // and in the sidecar.
    const QString text = QString::fromStdString(gpsStatusLine(state, now, true));
    if (GpsLabel->text() != text) {
        GpsLabel->setText(text);
        GpsLabel->setToolTip(QString::fromStdString(gpsStatusLine(state, now, false)));
    }
}

void TForm1::NoteRunPosition(bool atStart)
{
    const meta::PositionSample position = CurrentPosition();
    if (atStart) {
        Run.positionStart = position;
        Run.timeSource = meta::timeSourceFor(position, double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    } else {
        Run.positionEnd = position;
    }
}
