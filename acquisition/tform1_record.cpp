// "Acquire": one long scan captures every sweep of the run plus ten spare ones; then
// the user names the file and the sweeps are cut out of the buffer one after another,
// each aligned on its own marker, and written as raw A/D codes.

#include "tform1.h"

#include "status_colours.h"
#include "capture.h"
#include "dialogs.h"
#include "digest.h"
#include "gain_table.h"
#include "output_file.h"
#include "recording_metadata.h"
#include "recording_writer.h"
#include "runtime_error.h"
#include "scoped_flag.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>


using namespace statuscolour;

namespace {

constexpr int32_t SpareSweeps = 10;

// Where the lines of a recording go until it is closed. A file is made under a short
// temporary name in the folder of the file it replaces and renamed over that name once
// it is closed, so that a run stopped by an I/O error (a full disk) leaves the name as
// it was, an earlier recording included, and never a recording cut short; the
// temporary file goes with the run. A device or a FIFO takes the lines as they come.
class RecordingTarget {
public:
    explicit RecordingTarget(const std::string& path) : writePath_(path)
    {
        struct stat info {};
        const bool exists = ::stat(path.c_str(), &info) == 0;
        // Not a file that can be replaced: created as given, which reports what it is
        // (a folder) or writes to it directly (a device, a FIFO).
        if ((exists && !S_ISREG(info.st_mode)) || path.empty() || path.back() == '/')
            return;
        target_ = outputTarget(path);
        // A file that may not be written keeps its protection: it is not replaced.
        if (exists && ::access(target_.c_str(), W_OK) != 0)
            throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, target_));
        const size_t slash = target_.rfind('/');
        std::string temporary =
            (slash == std::string::npos ? std::string() : target_.substr(0, slash + 1)) + ".snd-XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) {
            // A folder that takes no new file while the file in it may be written (one
            // made for the user in a shared folder): the file is written in place.
            if (exists && (errno == EACCES || errno == EPERM))
                return;
            // A missing folder is a name that cannot be, not a missing file.
            throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, target_));
        }
        giveOutputPermissions(fd, exists ? &info : nullptr);
        ::close(fd);
        temporary_ = writePath_ = temporary;
    }
    ~RecordingTarget()
    {
        if (!temporary_.empty())
            ::unlink(temporary_.c_str());
    }
    RecordingTarget(const RecordingTarget&) = delete;
    RecordingTarget& operator=(const RecordingTarget&) = delete;

    const std::string& writePath() const { return writePath_; }
    // The lines go straight to the name (a device, a FIFO, a folder's only writable file).
    bool inPlace() const { return temporary_.empty(); }
    // The closed recording takes its name.
    void commit()
    {
        if (temporary_.empty())
            return;
        if (::rename(temporary_.c_str(), target_.c_str()) != 0)
            throw rt::InOutError(rt::ioCodeFromErrno(errno));
        temporary_.clear();
    }

private:
    std::string writePath_;
    std::string target_;
    std::string temporary_;
};

}  // namespace

void TForm1::Button6Click()
{
    if (CaptureInProgress)
        return;
    ScopedFlag busy(CaptureInProgress);

    if (!ApplySettings()) {
        // The colour stays the red of the message this one replaces.
        setStatus(QStringLiteral("CANNOT ACQUIRE"));
        return;
    }
    SweepSamples = sweepGroups(ClockDivider);
    const int32_t rate = scanRateFor(ClockDivider);
    const int64_t wanted = (static_cast<int64_t>(NumSweeps) + SpareSweeps) * SweepSamples * GroupSamples;
    // The settings check keeps this far below the limit; a count that does not fit is
    // refused like a failed allocation.
    const int32_t count = wanted <= INT32_MAX ? static_cast<int32_t>(wanted) : 0;

    if (!MEMPREP(count)) {
        setStatus(QStringLiteral("Failed to allocate buffers"));
        setStatusColour(Red);
        ProcessMessages();
        return;
    }
    // Closed (Exit or the frame) while MEMPREP let pending messages run: the scan has not
    // begun, so nothing is lost by not taking it, and no save dialog comes up after the
    // window has gone.
    if (Closing) {
        ReleaseSampleBuffer();
        return;
    }
    Run = RunRecord{};
    Run.scanStartedUtc = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    Run.samples = count;
    Run.rate = rate;
    Run.settings = {NumSweeps, SweepSamples, Attenuation, {Gain1, Gain2, Gain3}, ClockDivider};
    NoteRunPosition(true);
    // From here on the buffer is given back on every path, I/O errors included.
    struct Release {
        TForm1& form;
        ~Release() { form.ReleaseSampleBuffer(); }
    } release{*this};

    if (!ArmScan(count, rate)) {
        setStatus(QStringLiteral("FAILED TO SAMPLE"));
        setStatusColour(Red);
        ProcessMessages();
        return;
    }
    NoteRunPosition(false);
    ShowGpsStatus();

    std::optional<QString> name = dialogs().saveFileName(this);
    // The gain table is the one file the program reads: a recording written over it
    // would leave the next start without its calibration. The name is asked again, so
    // the captured sweeps are not lost.
    while (name && sameFile(QFile::encodeName(*name).toStdString(), gain::FileName)) {
        dialogs().showMessage(this, QStringLiteral("A recording cannot be written over the gain calibration table "
                                                   "%1. Choose another name.")
                                        .arg(QString::fromLatin1(gain::FileName)));
        name = dialogs().saveFileName(this);
    }
    if (!name)
        return;  // the captured samples are given up without a message
    RecordFileName = *name;

    // The recording's digest is taken from its bytes as they reach the file, so the
    // sidecar needs no second read; it is computed on another core while the lines are
    // formatted.
    digest::ConcurrentHasher sha256(digest::Algorithm::Sha256);
    RecordFile.setByteSink([&](const char* bytes, size_t length) { sha256.add(bytes, length); });
    struct DropSink {
        rt::TextWriter& file;
        ~DropSink() { file.setByteSink({}); }
    } dropSink{RecordFile};

    bool failed = false;
    try {
        const std::string recordPath = QFile::encodeName(RecordFileName).toStdString();
        RecordingTarget target(recordPath);
        // A sidecar left from an earlier recording of this name describes a file that is
        // gone once the new one stands there: it goes then, so that a failure to write the
        // new sidecar leaves none.
        auto dropOldSidecar = [&] {
            if (const std::string sidecar = meta::sidecarPath(recordPath); !sameFile(sidecar, recordPath))
                ::unlink(sidecar.c_str());
        };
        const bool inPlace = target.inPlace();
        RecordFile.create(target.writePath());
        Recording = true;
        if (inPlace)
            dropOldSidecar();
        writeRecordingHeader(RecordFile, NumSweeps, SweepSamples, Attenuation, Gain1, Gain2, Gain3);
        Run.lines = 4;

        const int32_t sweepLength = SweepSamples * GroupSamples;
        int32_t offset = 0;
        for (int32_t left = NumSweeps; left > 0; --left) {
            // A search that would start past the captured samples finds nothing: the
            // rest of the buffer was never written by the scan.
            const std::optional<int32_t> start =
                offset < count ? FindSweepStart(offset, RecordMarkerThreshold, count) : std::nullopt;
            if (!start) {
                setStatus(QStringLiteral("Failed to find start of sweep"));
                setStatusColour(Yellow);
                setStatus(QStringLiteral("Ran off end of data array"));
                setStatusColour(Red);
                failed = true;
                break;
            }
            // A sweep that starts too late to end inside the capture would be written
            // from samples the scan never delivered: it ends the run as well.
            if (*start > count - sweepLength) {
                setStatus(QStringLiteral("Ran off end of data array"));
                setStatusColour(Red);
                failed = true;
                break;
            }
            writeSweepLines(RecordFile, SampleBuffer + *start, SweepSamples);
            Run.lines += SweepSamples;
            Run.sweepStarts.push_back(*start / GroupSamples);
            meta::addChannelCodes(SampleBuffer + *start, SweepSamples, Run.codes);
            offset = *start + sweepLength;
        }

        RecordFile.close();
        Recording = false;
        target.commit();
        if (!inPlace)
            dropOldSidecar();
        Run.bytes = RecordFile.bytesWritten();
        Run.sha256 = sha256.hex();
    } catch (...) {
        // An I/O error (or any other): the file is closed at once and, made under its
        // temporary name, goes; the name keeps what it held. The buffer goes back on the
        // way out and the handler wrapper shows the error.
        if (RecordFile.isOpen()) {
            try {
                RecordFile.close();
            } catch (const rt::InOutError&) {
                // The first error is the one reported.
            }
        }
        Recording = false;
        throw;
    }

    if (failed) {
        setStatus(QStringLiteral("FAILED"));
        setStatusColour(Red);
    } else {
        setStatus(QStringLiteral("DONE"));
        setStatusColour(Lime);
    }
    // A recording whose writing failed with an I/O error has no sidecar: the error
    // has been thrown above.
    WriteRecordingMetadata(failed, failed ? QStringLiteral("Ran off end of data array") : QString());
}
