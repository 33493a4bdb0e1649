// "Acquire" meeting I/O errors while creating, writing or closing the recording: the
// message box shows the error, the name keeps what it held (no recording cut short), the
// buffer is given back and no recording counts as open.

#include "capture_fixture.h"
#include "runtime_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace capfix;

class AcquireErrors : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        // Markers every 2500 groups: every sweep is found.
        boardsim::setScanSource(groupSource([](int32_t g) {
            return Group{uint16_t(g % 4096), 4095, 0, uint16_t(g % 2500 == 0 ? 4000 : 0)};
        }));
    }
    void expectRunEndedCleanly()
    {
        EXPECT_FALSE(form->Recording);
        EXPECT_FALSE(form->RecordFile.isOpen());
        EXPECT_FALSE(form->CaptureInProgress);
        EXPECT_EQ(boardsim::liveBlocks(), 0);
    }
};

TEST_F(AcquireErrors, CreateFails)
{
    startReady(4, 1);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path(QStringLiteral("live"))).constData(), 0600), 0);
    struct Case {
        QString name;
        const char* message;
    };
    const Case cases[] = {
        {path(QStringLiteral("no/such/dir/rec.txt")), "Invalid filename"},  // a missing folder, not a missing file
        {path(QStringLiteral("live")), "File access denied"},  // a FIFO nothing reads from: no wait for a reader
    };
    for (const Case& c : cases) {
        dialogs.messages.clear();
        dialogs.saveAnswers.push_back(c.name);
        form->Button6->click();  // through the handler wrapper, which shows the message
        ASSERT_EQ(dialogs.messages.size(), 1u) << c.message;
        EXPECT_EQ(dialogs.messages[0], c.message);
        EXPECT_EQ(form->statusText(), "Locking buffer 1");  // no final text
        EXPECT_FALSE(QFile::exists(c.name + QStringLiteral(".meta.json"))) << c.message;
        expectRunEndedCleanly();
    }
}

TEST_F(AcquireErrors, DiskFullWhileWriting)
{
    // Enough lines that the writer hands data over before the end of the run.
    startReady(4, 40);
    dialogs.saveAnswers.push_back(QStringLiteral("/dev/full"));
    form->Button6->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Disk full");
    expectRunEndedCleanly();
}

TEST_F(AcquireErrors, DiskFullAtClose)
{
    // A short run: everything is still buffered when the file is closed.
    startReady(4, 1);
    dialogs.saveAnswers.push_back(QStringLiteral("/dev/full"));
    form->Button6->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Disk full");
    EXPECT_NE(form->statusText(), "DONE");
    expectRunEndedCleanly();
}

TEST_F(AcquireErrors, AFileCutShortNeverStandsUnderTheName)
{
    // A file size limit in the middle of a line: writes beyond it fail (EFBIG), as on a
    // full disk. The name then holds what it held before the run, or nothing.
    struct Case {
        const char* what;
        bool earlier;  // a recording and its sidecar stood under the name before
    };
    const Case cases[] = {{"new name", false}, {"earlier recording", true}};
    const QString name = path(QStringLiteral("rec.txt"));
    const QString sidecar = name + QStringLiteral(".meta.json");
    for (const Case& c : cases) {
        startReady(4, 40);
        QFile::remove(name);
        QFile::remove(sidecar);
        if (c.earlier) {
            for (const QString& f : {name, sidecar}) {
                QFile old(f);
                ASSERT_TRUE(old.open(QIODevice::WriteOnly));
                old.write("earlier " + QFile::encodeName(f));
            }
        }
        dialogs.messages.clear();
        dialogs.saveAnswers.push_back(name);

        constexpr rlim_t Limit = 100003;
        rlimit previous{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous;
        limited.rlim_cur = Limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        form->Button6->click();
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);

        ASSERT_EQ(dialogs.messages.size(), 1u) << c.what;
        EXPECT_EQ(dialogs.messages[0], "Disk full") << c.what;  // the file-size limit is a full disk to the user
        expectRunEndedCleanly();
        EXPECT_EQ(QFile::exists(name), c.earlier) << c.what;
        for (const QString& f : {name, sidecar}) {
            QFile kept(f);
            if (c.earlier) {
                ASSERT_TRUE(kept.open(QIODevice::ReadOnly)) << c.what;
                EXPECT_EQ(kept.readAll(), "earlier " + QFile::encodeName(f)) << c.what;
            }
        }
        // Nor is anything half-written left beside it under another name.
        const QStringList expected = c.earlier ? QStringList{"digpot.cfg", "rec.txt", "rec.txt.meta.json"}
                                               : QStringList{"digpot.cfg"};
        EXPECT_EQ(QDir(path(".")).entryList(QDir::Files | QDir::Hidden | QDir::System), expected) << c.what;
        form.reset();
    }
}

TEST_F(AcquireErrors, AFolderThatTakesNoNewFileStillLetsItsFileBeWritten)
{
    startReady(4, 1);
    const QString folder = path(QStringLiteral("shared"));
    ASSERT_TRUE(QDir(path(".")).mkdir(QStringLiteral("shared")));
    const QString name = folder + QStringLiteral("/rec.txt");
    {
        QFile earlier(name);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier");
    }
    // An immutable folder: no file can be made in it, its files can still be written.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0 || (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no immutable folder here (needs root and a file system that has the flag)";
    }
    dialogs.saveAnswers.push_back(name);
    form->Button6->click();
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);

    EXPECT_EQ(form->statusText(), "DONE");
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().count('\n'), 4 + 2500);
    // Only the sidecar, a new file, could not be made; the message box says so.
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].startsWith("The recording's metadata could not be written to "))
        << dialogs.messages[0].toStdString();
    expectRunEndedCleanly();
}

TEST_F(AcquireErrors, ARecordingInPlaceOfAnotherKeepsItsPermissions)
{
    startReady(4, 1);
    const QString name = path(QStringLiteral("private.txt"));
    const std::string file = QFile::encodeName(name).toStdString();
    {
        QFile earlier(name);
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    }
    for (const mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0664)}) {
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        dialogs.saveAnswers.push_back(name);
        form->Button6->click();
        EXPECT_EQ(form->statusText(), "DONE");
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode);
        EXPECT_GT(info.st_size, 0);
    }
    EXPECT_TRUE(dialogs.messages.empty());
    expectRunEndedCleanly();
}

TEST_F(AcquireErrors, ARecordingNamedByALinkIsWrittenToItsTarget)
{
    startReady(4, 1);
    const QString target = path(QStringLiteral("target.txt"));
    const QString link = path(QStringLiteral("rec link.txt"));
    ASSERT_TRUE(QFile::link(target, link));
    dialogs.saveAnswers.push_back(link);
    form->Button6->click();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->statusText(), "DONE");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().count('\n'), 4 + 2500);
    expectRunEndedCleanly();
}

TEST_F(AcquireErrors, AFifoWhoseReaderGoesMidwayEndsTheRunWithItsError)
{
    startReady(4, 40);
    const QByteArray fifo = QFile::encodeName(path(QStringLiteral("live")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    {
        // The sidecar of an earlier run: the lines now go to the name at once, and what it
        // described is gone with the first of them.
        QFile stale(path(QStringLiteral("live.meta.json")));
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("{}");
    }
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // The reader takes the header and a few lines, then goes.
    std::thread taker([reader] {
        char bytes[1000];
        size_t got = 0;
        for (int i = 0; i < 500 && got < sizeof bytes; ++i) {
            const ssize_t n = ::read(reader, bytes, sizeof bytes - got);
            if (n > 0)
                got += size_t(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(reader);
    });
    dialogs.saveAnswers.push_back(path(QStringLiteral("live")));
    form->Button6->click();
    taker.join();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], QStringLiteral("I/O error %1").arg(rt::IoErrorBase + EPIPE));
    EXPECT_NE(form->statusText(), "DONE");
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("live.meta.json"))));
    expectRunEndedCleanly();
}

TEST_F(AcquireErrors, NextRunAndExitWorkAfterAnError)
{
    startReady(4, 1);
    dialogs.saveAnswers.push_back(QStringLiteral("/dev/full"));
    form->Button6->click();
    ASSERT_EQ(dialogs.messages.size(), 1u);

    dialogs.saveAnswers.push_back(path(QStringLiteral("rec.txt")));
    form->Button6->click();
    EXPECT_EQ(form->statusText(), "DONE");
    form->Button7->click();
    EXPECT_EQ(dialogs.messages.size(), 1u);  // nothing left open to fail at Exit
    EXPECT_EQ(terminations, 1);
}

}  // namespace
