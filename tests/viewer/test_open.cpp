// File > Open: header fields, the first block, both display modes, and the ways an
// open can stop part-way.

#include "viewer_fixture.h"

#include <QLocale>
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Two paths (tones whose frequency stands for their delay) plus a little noise from
// a fixed generator; the phases move from sweep to sweep.
Sweep toneSweep(int s, int n)
{
    Sweep sweep(static_cast<size_t>(n));
    uint32_t state = 12345u + static_cast<uint32_t>(s);
    for (int i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = (state >> 8) / double(1u << 24) * 2.0 - 1.0;
        sweep[static_cast<size_t>(i)] = 0.5 * std::sin(2 * std::numbers::pi * 0.05 * i + 0.3 * s) +
                                        0.2 * std::sin(2 * std::numbers::pi * 0.13 * i + 1.1 * s) + 0.01 * noise;
    }
    return sweep;
}

std::vector<Sweep> toneSweeps(int count, int n)
{
    std::vector<Sweep> sweeps;
    for (int s = 0; s < count; ++s)
        sweeps.push_back(toneSweep(s, n));
    return sweeps;
}

// The averaged profile at one bin by the direct sum, zero-padding to 4096 implied.
double directProfileDb(const std::vector<Sweep>& block, int bin)
{
    double sum = 0.0;
    for (const Sweep& sweep : block) {
        std::complex<double> x = 0.0;
        for (size_t n = 0; n < sweep.size(); ++n)
            x += sweep[n] * std::polar(1.0, 2 * std::numbers::pi * double(n) * bin / 4096.0);
        sum += std::norm(x);
    }
    return 10.0 * std::log10(sum / 5.0);
}

// Mean of strict maxima minus mean of strict minima over the whole sweep, the
// first and last sample excluded, as three decimals.
QString expectedPeakToPeak(const Sweep& x)
{
    double hi = 0, hiCount = 0, lo = 0, loCount = 0;
    for (size_t k = 1; k + 1 < x.size(); ++k) {
        if (x[k] > x[k - 1] && x[k] > x[k + 1])
            hi += x[k], hiCount += 1;
        if (x[k] < x[k - 1] && x[k] < x[k + 1])
            lo += x[k], loCount += 1;
    }
    return QString::number(hi / hiCount - lo / loCount, 'f', 3);
}

}  // namespace

TEST_F(ViewerTest, OpenFillsHeaderFieldsAndShowsLastSweepOfFirstBlock)
{
    const std::string file = writeStepping("steps.txt", 12, 999);
    open(file);

    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.openAsked, 1);
    EXPECT_EQ(form->Panel1->text().toStdString(), file);
    EXPECT_EQ(form->Panel2->text(), "12");
    EXPECT_EQ(form->Panel3->text(), "999");
    EXPECT_EQ(form->Panel4->text(), "37");
    EXPECT_EQ(form->Panel6->text(), "0");
    EXPECT_EQ(form->Edit1->text(), "5");
    EXPECT_TRUE(form->fileopen);
    EXPECT_FALSE(form->Open1->isEnabled());
    EXPECT_TRUE(form->Close1->isEnabled());

    // The whole 4000-entry store is drawn: sweep 4, then the zeros never written.
    ASSERT_EQ(points(), 4000);
    const Sweep last = alternatingSweep(4, 999);
    for (int i = 0; i < 999; ++i)
        ASSERT_EQ(pointY(i), last[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(pointY(999), 0.0);
    EXPECT_EQ(pointY(3999), 0.0);
    EXPECT_EQ(form->Panel5->text(), "0.100");

    // The open leaves the axis and the title alone.
    EXPECT_TRUE(form->Chart1->leftAxisAutomatic());
    EXPECT_EQ(form->Chart1->title(), "Power delay Profile for first 10 sweeps");
}

TEST_F(ViewerTest, PeakToPeakIsMeanOfMaximaMinusMeanOfMinima)
{
    const auto sweeps = toneSweeps(5, 2500);
    open(writeRecording("tones.txt", 5, 2500, sweeps));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
    EXPECT_EQ(form->Panel5->text(), expectedPeakToPeak(sweeps[4]));
}

TEST_F(ViewerTest, DelayModeShowsAveragedProfileOfFirstFiveSweeps)
{
    form->Button1Click();
    const auto sweeps = toneSweeps(8, 2500);
    open(writeRecording("tones.txt", 8, 2500, sweeps));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();

    ASSERT_EQ(points(), 1024);
    const std::vector<Sweep> block(sweeps.begin(), sweeps.begin() + 5);
    for (int bin : {0, 100, 204, 205, 532, 533, 800, 1023})
        EXPECT_NEAR(pointY(bin), directProfileDb(block, bin), 1e-6) << "bin " << bin;
    // The strongest path stands well above the noise.
    EXPECT_GT(pointY(205), pointY(800) + 30.0);
    EXPECT_EQ(form->Panel5->text(), "Panel5");
    EXPECT_EQ(form->displaymode, 1);
}

TEST_F(ViewerTest, CancelledDialogChangesNothing)
{
    form->Open1Click();
    EXPECT_EQ(dialogs.openAsked, 1);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(form->fileopen);
    EXPECT_TRUE(form->Open1->isEnabled());
    EXPECT_FALSE(form->Close1->isEnabled());
    EXPECT_TRUE(form->filename.isEmpty());
}

TEST_F(ViewerTest, WhatIsNoRecordingLeavesRecordingClosed)
{
    // A FIFO and a socket are no file to read again: the open refuses them before it
    // waits for a writer (a writer comes after a while all the same, so that a wait
    // ends in a failure rather than a hang).
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(path("pipe").c_str(), path("link to pipe").c_str()), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = path("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const int fd = ::open(path("pipe").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    const struct { std::string file; const char* message; } cases[] = {
        {path("no such recording.txt"), "File not found"},
        {path("folder"), "Invalid filename"},
        {"/dev/null", "Invalid filename"},
        {path("pipe"), "Invalid filename"},
        {path("link to pipe"), "Invalid filename"},
        {socketPath, "Invalid filename"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        dialogs.messages.clear();
        open(c.file);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0], c.message);
        EXPECT_FALSE(form->fileopen);
        EXPECT_TRUE(form->Open1->isEnabled());
        EXPECT_FALSE(form->Close1->isEnabled());
        EXPECT_FALSE(form->Waterfall1->isEnabled());
        EXPECT_EQ(form->Panel1->text(), "Panel1");
        EXPECT_EQ(form->Panel2->text(), "Panel2");
    }
    done = true;
    writer.join();
    ::close(listener);
}

TEST_F(ViewerTest, AcquisitionLayoutStopsAtFirstItemWithFileLeftOpen)
{
    open(writeText("acquired.txt", "1,2500\r\n0\r\n20,30,40\r\n0.0\r\n2048,2050,2047\r\n"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Invalid numeric input");
    EXPECT_TRUE(form->fileopen);
    EXPECT_FALSE(form->Open1->isEnabled());
    EXPECT_TRUE(form->Close1->isEnabled());
    EXPECT_EQ(form->Panel2->text(), "Panel2");
    EXPECT_EQ(form->Panel1->text(), "Panel1");
    EXPECT_EQ(points(), 0);

    // File > Close is the way out.
    form->Close1Click();
    EXPECT_FALSE(form->fileopen);
    EXPECT_TRUE(form->Open1->isEnabled());
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(ViewerTest, LineFeedOnlyFileReadsZerosAndFailsInTheLogarithm)
{
    std::string text = "12\n999\n4\n37\n0.0\n";
    for (int i = 0; i < 200; ++i)
        text += "0.25\n-0.25\n";
    open(writeText("unix.txt", text));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Floating point division by zero");
    EXPECT_EQ(form->Panel2->text(), "12");
    EXPECT_EQ(form->Panel3->text(), "0");
    EXPECT_EQ(form->Panel4->text(), "0");
    // The block was read and counted; its display stopped in the logarithm.
    EXPECT_EQ(points(), 0);
    EXPECT_EQ(form->Panel6->text(), "0");
    EXPECT_EQ(form->Edit1->text(), "5");
    EXPECT_EQ(form->Panel1->text(), "Panel1");
    EXPECT_TRUE(form->fileopen);
}

TEST_F(ViewerTest, MonotonicSweepFailsAfterTheSeriesIsDrawn)
{
    std::vector<Sweep> sweeps;
    for (int s = 0; s < 5; ++s) {
        Sweep rising;
        for (int i = 0; i < 100; ++i)
            rising.push_back(0.001 * (i + 1) + s);
        sweeps.push_back(rising);
    }
    open(writeRecording("rising.txt", 5, 100, sweeps));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Invalid floating point operation");
    ASSERT_EQ(points(), 4000);
    EXPECT_EQ(pointY(99), sweeps[4][99]);
    EXPECT_EQ(form->Panel5->text(), "Panel5");
    EXPECT_EQ(form->Panel1->text(), "Panel1");
    EXPECT_EQ(form->Panel6->text(), "0");
    EXPECT_EQ(form->Edit1->text(), "5");
}

TEST_F(ViewerTest, BadSampleItemStopsTheOpenBeforeAnythingIsShown)
{
    std::string text = header(10, 3) + "0.1\r\n0.2\r\n0.1\r\n" + "0.1\r\n0.2,0.3\r\n0.1\r\n";
    open(writeText("comma.txt", text));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Invalid numeric input");
    EXPECT_EQ(form->Panel2->text(), "10");
    EXPECT_EQ(points(), 0);
    EXPECT_EQ(form->Panel6->text(), "Panel6");
}

TEST_F(ViewerTest, SecondRecordingLeavesLongerLeftOversInTheStore)
{
    open(writeStepping("long.txt", 5, 999));
    form->Close1Click();
    open(writeStepping("short.txt", 5, 11));
    ASSERT_TRUE(dialogs.messages.empty());

    ASSERT_EQ(points(), 4000);
    const Sweep first = alternatingSweep(4, 999);
    EXPECT_EQ(pointY(0), 0.05);
    EXPECT_EQ(pointY(11), first[11]);
    EXPECT_EQ(pointY(998), first[998]);
    EXPECT_EQ(pointY(999), 0.0);
    // The means see only the new 11 samples.
    EXPECT_EQ(form->Panel5->text(), "0.100");
}

TEST_F(ViewerTest, SweepsLongerThanTheStoreKeepTheirFirst4000Samples)
{
    // Samples 4001..4100 are huge: were they stored or measured, the chart and the
    // peak-to-peak value would show them. (Sample 4000 repeats sample 3999 so that the
    // stored part does not sum to exactly 0.)
    std::vector<Sweep> sweeps;
    for (int s = 0; s < 10; ++s) {
        Sweep sweep = alternatingSweep(s, 3999);
        sweep.push_back(sweep.back());
        sweep.insert(sweep.end(), 100, 100.0);
        sweeps.push_back(sweep);
    }
    open(writeRecording("long.txt", 10, 4100, sweeps));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
    EXPECT_EQ(form->Panel3->text(), "4100");
    ASSERT_EQ(points(), 4000);
    EXPECT_EQ(pointY(3999), 0.05);
    EXPECT_EQ(form->Panel5->text(), "0.100");

    // The dropped samples were read: the next block starts exactly at sweep 5.
    goTo("5");
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
    EXPECT_EQ(form->Panel5->text(), "0.200");
    EXPECT_EQ(pointY(0), 0.1);
}

TEST_F(ViewerTest, DroppedSamplesOfLongSweepsAreStillChecked)
{
    std::string text = header(10, 4100);
    for (int i = 1; i <= 4100; ++i)
        text += i == 4050 ? "junk\r\n" : "0.5\r\n";
    open(writeText("long.txt", text));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Invalid numeric input");
    EXPECT_EQ(points(), 0);
}

TEST_F(ViewerTest, NoSamplesPerSweepGivesAnAllZeroBlock)
{
    for (const int64_t n : {0, -3, -2147483647 - 1}) {
        ScriptedDialogs local;
        TForm1 viewer(local);
        local.openAnswers.push_back(QString::fromStdString(writeText("empty.txt", header(10, n) + "0.5\r\n-0.5\r\n")));
        viewer.Open1Click();
        ASSERT_EQ(local.messages.size(), 1u) << n;
        EXPECT_EQ(local.messages[0], "Floating point division by zero") << n;
        EXPECT_EQ(viewer.Panel3->text().toLongLong(), n);
        EXPECT_EQ(viewer.Chart1->pointCount(viewer.Series1), 0);
        for (size_t k = 1; k <= 4000; ++k)
            ASSERT_EQ(viewer.tseries[k], 0.0);
    }
}

TEST_F(ViewerTest, ItemsPastTheEndOfTheTextAreZerosInTheStore)
{
    // The second file ends after three samples of its first sweep: samples 4..999
    // of every sweep read as 0, while entries past 999 keep the first file's values.
    open(writeStepping("long.txt", 5, 1999));
    form->Close1Click();
    form->Button1Click();  // delay mode: the last sweep is all zeros and has no extremum
    open(writeText("cut.txt", header(5, 999) + "0.5\r\n-0.5\r\n0.25\r\n"));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
    for (size_t i = 1; i <= 999; ++i)
        ASSERT_EQ(form->tseries[i], 0.0) << i;
    EXPECT_EQ(form->tseries[1000], alternatingSweep(4, 1999)[999]);
}

TEST_F(ViewerTest, HugeSampleCountOnAShortFileEndsPromptly)
{
    // Two thousand million samples promised, three present: once the text has ended
    // nothing is left to read, and the open and a distant step finish at once.
    open(writeText("promise.txt", header(2000000000, 2000000000) + "0.5\r\n-0.5\r\n0.25\r\n"));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Invalid floating point operation");  // sweep 4 is all zeros
    EXPECT_EQ(form->Panel3->text(), "2000000000");
    EXPECT_EQ(points(), 4000);

    goTo("1999999990");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1], "Floating point division by zero");
    EXPECT_EQ(form->cursweep, 1999999990);
}

TEST_F(ViewerTest, MarkupInAFileNameIsShownAsItIs)
{
    const std::string file = writeStepping("<b>bold<b>.txt", 12, 999);
    open(file);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->Panel1->text().toStdString(), file);
    for (const QLabel* label : form->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}

TEST_F(ViewerTest, PeakToPeakInScientificFormTakesTheLocaleSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Sweep sweep;
    for (int k = 0; k < 64; ++k)
        sweep.push_back((k % 2 ? 12345678.0 : 0.0) + k * 0.001);  // the ramp fills every bin
    open(writeRecording("large.txt", 5, 64, {sweep, sweep, sweep, sweep, sweep}));
    QLocale::setDefault(saved);
    EXPECT_EQ(form->Panel5->text(), "1,234568E+7");
}

TEST_F(ViewerTest, MetricsReadoutFollowsTheBlockAndClearsOnClose)
{
    EXPECT_EQ(form->Label6->text(), "");
    open(writeRecording("tones.txt", 8, 2500, toneSweeps(8, 2500)));
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
    // The 0.05-cycle tone lies nearest transform bin 205, which is bin 206.
    const QString shown = form->Label6->text();
    EXPECT_TRUE(shown.startsWith("Peak bin 206, SNR ")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(" dB, mean excess ") && shown.endsWith(" bins")) << shown.toStdString();
    EXPECT_EQ(form->Label6->textFormat(), Qt::PlainText);

    form->Close1Click();
    EXPECT_EQ(form->Label6->text(), "");
}

TEST_F(ViewerTest, MetricsReadoutUnchangedWhenTheBlockFails)
{
    open(writeRecording("tones.txt", 5, 2500, toneSweeps(5, 2500)));
    const QString before = form->Label6->text();
    ASSERT_FALSE(before.isEmpty());
    // A second recording whose sweeps are all zero fails in the logarithm.
    Sweep zeros(64, 0.0);
    form->Close1Click();
    open(writeRecording("zeros.txt", 5, 64, {zeros, zeros, zeros, zeros, zeros}));
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(form->Label6->text(), "");  // cleared by the close, not refilled by the failure
}

namespace {

// Gaussian noise of 0.1 V rms from a fixed generator: a sweep with no path in it.
Sweep noiseSweep(uint32_t seed, int n)
{
    std::mt19937 generator(seed);
    std::normal_distribution<double> noise(0.0, 0.1);
    Sweep sweep(static_cast<size_t>(n));
    for (double& v : sweep)
        v = noise(generator);
    return sweep;
}

}  // namespace

TEST_F(ViewerTest, BlockWithFewerSweepsOfDataCountsNoNoiseAsDelay)
{
    // A block that runs past the last sweep in the file holds fewer sweeps of noise than
    // five, and its noise is averaged over those: taken for five, the margin over the
    // floor is too small and noise alone is counted nearly always (with two sweeps in
    // some 96 profiles of 100). The readout then gives no delay, as the sounder tool does.
    struct Case {
        const char* what;
        int headerSweeps;
        int writtenSweeps;
        const char* target;  // "Go to sweep" after the open, or null
    };
    const Case cases[] = {
        {"one sweep", 1, 1, nullptr},
        {"two sweeps", 2, 2, nullptr},
        {"three sweeps, the header promising more", 5, 3, nullptr},
        {"the block past the last of seven sweeps", 7, 7, "2"},
    };
    const int n = 1000;
    form->Button1Click();  // the profile: the block's last sweep may be all zeros
    for (const Case& c : cases) {
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed));
            std::vector<Sweep> sweeps;
            for (int s = 0; s < c.writtenSweeps; ++s)
                sweeps.push_back(noiseSweep(100 * seed + uint32_t(s), n));
            form->Close1Click();
            open(writeRecording("noise.txt", c.headerSweeps, n, sweeps));
            if (c.target)
                goTo(c.target);
            ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages.front().toStdString();
            const QString shown = form->Label6->text();
            EXPECT_TRUE(shown.startsWith("Peak bin ") && !shown.startsWith("Peak bin -")) << shown.toStdString();
            EXPECT_TRUE(shown.endsWith("mean excess - bins, RMS spread - bins")) << shown.toStdString();
        }
    }

    // Paths in a block of two sweeps are still counted.
    form->Close1Click();
    open(writeRecording("tones.txt", 2, 2500, toneSweeps(2, 2500)));
    EXPECT_FALSE(form->Label6->text().contains("mean excess -")) << form->Label6->text().toStdString();
}
