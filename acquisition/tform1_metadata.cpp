// The metadata sidecar: after "Acquire" has closed its recording NAME, NAME.meta.json
// beside it says what the file holds, how the front-end was set, and the file's
// digest. A sidecar that cannot be written leaves the recording and the message line
// as they are and says so in a message box.

#include "tform1.h"

#include "board_library_info.h"
#include "capture.h"
#include "dialogs.h"
#include "output_file.h"
#include "recording_metadata.h"
#include "sounder_version.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

void TForm1::WriteRecordingMetadata(bool failed, const QString& reason)
{
    meta::Recording r;
    r.softwareName = "quenlo";
    r.softwareVersion = SOUNDER_VERSION;
    const BoardLibraryInfo board = loadedBoardLibrary();
    r.boardLibraryPath = board.path;
    r.boardLibrarySimulated = board.simulated();
    r.scanStartedUtc = Run.scanStartedUtc;
    r.recordingFile = QFileInfo(RecordFileName).fileName().toStdString();
    r.settings = Run.settings;
    r.frontEnd = FrontEndSent;
    r.scan.samples = Run.samples;
    r.scan.scanRateHz = Run.rate;
    r.scan.samplesPerSweep = Run.settings.sweepSamples;
    r.scan.markerThreshold = RecordMarkerThreshold;
    r.sweepsRequested = Run.settings.numSweeps;
    r.sweepStartGroups = Run.sweepStarts;
    r.result.status = failed ? "FAILED" : "DONE";
    if (failed)
        r.result.reason = reason.toStdString();
    r.result.lines = Run.lines;
    r.result.bytes = Run.bytes;
    r.result.sha256 = Run.sha256;
    r.result.channels = Run.codes;
    r.positionStart = Run.positionStart;
    r.positionEnd = Run.positionEnd;
    r.timeSource = Run.timeSource;
    r.writtenUtc = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();

    const std::string recordPath = QFile::encodeName(RecordFileName).toStdString();
    const std::string path = meta::sidecarPath(recordPath);
    // A sidecar name that is the recording itself (a link to it) is never written over it.
    const std::string error =
        sameFile(path, recordPath) ? std::string("it is the recording itself") : meta::writeSidecar(path, r);
    if (!error.empty())
        dialogs().showMessage(this, QStringLiteral("The recording's metadata could not be written to %1: %2")
                                        .arg(QFile::decodeName(path.c_str()), QString::fromStdString(error)));
}
