// The gain calibration table: lookup, step-down past unusable rows, reading
// digpot.cfg, and programming a channel through its two potentiometers.

#include "form_fixture.h"
#include "runtime_error.h"
#include "text_io.h"

#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using fixture::patternTable;
using fixture::tableText;

namespace {

gain::Table readText(const std::string& text)
{
    rt::TextReader reader;
    reader.openMemory(text);
    gain::Table t{};
    gain::read(reader, t);
    return t;
}

int ioCodeOf(const std::string& text, gain::Table& t)
{
    rt::TextReader reader;
    reader.openMemory(text);
    try {
        gain::read(reader, t);
    } catch (const rt::InOutError& e) {
        return e.code();
    }
    return 0;
}

}  // namespace

// ---- Lookup and step-down ------------------------------------------------------------

TEST(GainLookupTest, GainAndColumnAreClampedToTheTable)
{
    const auto t = patternTable();
    EXPECT_EQ(gain::lookup(t, 30, 0), t[27][0]);
    EXPECT_EQ(gain::lookup(t, 2, 1), t[0][1]);
    EXPECT_EQ(gain::lookup(t, -100, 1), t[0][1]);
    EXPECT_EQ(gain::lookup(t, 71, 5), t[67][5]);
    EXPECT_EQ(gain::lookup(t, INT32_MAX, 5), t[67][5]);
    EXPECT_EQ(gain::lookup(t, 40, 16), t[37][15]);
    EXPECT_EQ(gain::lookup(t, 40, -3), t[37][0]);
}

TEST(GainLookupTest, ChannelAndGainAreLimitedBeforeTheLookup)
{
    const auto t = patternTable();
    auto s = gain::settingFor(t, 0, 80);  // channel 1 at 70 dB
    ASSERT_TRUE(s);
    EXPECT_EQ(s->gainDb, 70);
    EXPECT_EQ(s->a, t[67][0]);
    EXPECT_EQ(s->b, t[67][1]);
    s = gain::settingFor(t, 12, 1);  // channel 8 at 3 dB
    ASSERT_TRUE(s);
    EXPECT_EQ(s->gainDb, 3);
    EXPECT_EQ(s->a, t[0][14]);
    EXPECT_EQ(s->b, t[0][15]);
}

TEST(GainLookupTest, SentinelStepsOnlyItsOwnChannelDown)
{
    auto t = patternTable();
    t[37][0] = gain::Unusable;  // 40 dB, channel 1 pot A
    t[30][3] = gain::Unusable;  // 33 dB, channel 2 pot B
    t[29][3] = gain::Unusable;  // 32 dB, channel 2 pot B
    EXPECT_EQ(gain::settingFor(t, 1, 40)->gainDb, 39);
    EXPECT_EQ(gain::settingFor(t, 1, 40)->a, t[36][0]);
    EXPECT_EQ(gain::settingFor(t, 2, 40)->gainDb, 40);
    EXPECT_EQ(gain::settingFor(t, 2, 33)->gainDb, 31);
    EXPECT_EQ(gain::settingFor(t, 1, 33)->gainDb, 33);
}

TEST(GainLookupTest, NoSettingWhenEvenThreeDbIsUnusable)
{
    auto t = patternTable();
    for (int r = 0; r <= 10; ++r)
        t[r][4] = gain::Unusable;  // channel 3 up to 13 dB
    EXPECT_FALSE(gain::settingFor(t, 3, 13));
    EXPECT_FALSE(gain::settingFor(t, 3, -20));
    EXPECT_EQ(gain::settingFor(t, 3, 14)->gainDb, 14);

    gain::Table all{};
    for (auto& row : all)
        row.fill(gain::Unusable);
    for (int c = 0; c <= 9; ++c)
        EXPECT_FALSE(gain::settingFor(all, c, 70)) << c;
}

// ---- Reading ------------------------------------------------------------------------------

TEST(GainReadTest, FullTableReadsBackExactly)
{
    auto t = patternTable();
    t[5][7] = -4;
    t[66][15] = gain::Unusable;
    EXPECT_EQ(readText(tableText(t)), t);
}

TEST(GainReadTest, ShortFileLeavesMissingRowsAtZero)
{
    const auto full = patternTable();
    gain::Table first60{};
    std::copy(full.begin(), full.begin() + 60, first60.begin());
    std::string text = tableText(first60);
    size_t end = 0;
    for (int line = 0; line < 60; ++line)
        end = text.find("\r\n", end) + 2;
    text.resize(end);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 60);
    EXPECT_EQ(readText(text), first60);
    // A Ctrl-Z ends the text the same way, whatever follows it.
    EXPECT_EQ(readText(text + "\x1A" + "7 7 7 7\r\n"), first60);
}

TEST(GainReadTest, ExtraNumbersOnALineAreIgnoredAndRowsMaySpreadOverLines)
{
    auto t = patternTable();
    std::string text;
    for (int r = 0; r < gain::Rows; ++r) {
        for (int j = 0; j < gain::Columns; ++j)
            text += std::to_string(t[r][j]) + (j == 7 ? "\r\n\t" : " ");
        if (r == 0)
            text += "55";  // a 17th number
        text += "\r\n";
    }
    EXPECT_EQ(readText(text), t);
}

TEST(GainReadTest, RowsMayEndWithCrLfCrOrLfAlone)
{
    // Each row on its own line, the first with a 17th number, the second spread over
    // two lines; only the line ends differ.
    const auto t = patternTable();
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        std::string text;
        for (int r = 0; r < gain::Rows; ++r) {
            for (int j = 0; j < gain::Columns; ++j)
                text += std::to_string(t[r][j]) + (r == 1 && j == 7 ? end : " ");
            text += (r == 0 ? "55" : "") + end;
        }
        EXPECT_EQ(readText(text), t) << (end == "\n" ? "LF" : end == "\r" ? "CR" : "CR LF");
    }
}

TEST(GainReadTest, ALetterStopsWithInvalidNumericInputKeepingEarlierRows)
{
    auto t = patternTable();
    std::string text = tableText(t);
    const size_t row2 = text.find("\r\n", text.find("\r\n") + 2) + 2;
    text.insert(row2, "q");  // row 2 starts with a token that is not a number
    gain::Table got{};
    EXPECT_EQ(ioCodeOf(text, got), rt::io::InvalidNumericInput);
    EXPECT_EQ(got[0], t[0]);
    EXPECT_EQ(got[1], t[1]);
    EXPECT_EQ(got[3], (std::array<int32_t, 16>{}));
}

// ---- On the form ------------------------------------------------------------------------

class GainFormTest : public fixture::FormTest {};

TEST_F(GainFormTest, MissingFileShowsFileNotFoundAndKeepsTheDesignTexts)
{
    create();  // no digpot.cfg
    ASSERT_EQ(dialogs.messages, (std::vector<QString>{"File not found"}));
    EXPECT_EQ(form->Edit1->text(), "1");
    EXPECT_EQ(form->Edit2->text(), "100");
    EXPECT_EQ(form->Edit3->text(), "0");
    EXPECT_EQ(form->Edit4->text(), "20");
    EXPECT_EQ(form->Edit5->text(), "20");
    EXPECT_EQ(form->Edit6->text(), "20");
    EXPECT_EQ(form->Panel1->text(), "Panel1");
    EXPECT_EQ(form->Button2->text(), "TimeSeries");
    EXPECT_EQ(form->Gain1, 0);
    EXPECT_EQ(form->ClockDivider, 0);
    EXPECT_FALSE(form->TimeSeriesMode);
    EXPECT_FALSE(form->ClockDividerChanged || form->NumSweepsChanged || form->Gain1Changed);
    // Nothing reached the board.
    EXPECT_TRUE(boardsim::portTrace().empty());
}

TEST_F(GainFormTest, ATableThatIsNoFileStopsStartUpAtOnceWithInvalidFilename)
{
    const std::string table = QFile::encodeName(path(QStringLiteral("digpot.cfg"))).toStdString();
    struct Case {
        const char* what;
        std::function<bool()> make;
    };
    int listener = -1;
    const Case cases[] = {
        {"folder", [&] { return ::mkdir(table.c_str(), 0700) == 0; }},
        {"FIFO", [&] { return ::mkfifo(table.c_str(), 0600) == 0; }},
        {"socket",
         [&] {
             listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             if (table.size() >= sizeof address.sun_path)
                 return false;
             std::strcpy(address.sun_path, table.c_str());
             return ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
         }},
    };
    for (const Case& c : cases) {
        ::rmdir(table.c_str());
        ::unlink(table.c_str());
        ASSERT_TRUE(c.make()) << c.what << ": " << std::strerror(errno);
        boardsim::reset();
        dialogs.messages.clear();
        // Should start-up wait for a writer after all, one comes after a while, so the
        // test fails rather than hanging.
        std::atomic<bool> started{false};
        std::thread rescue([&] {
            for (int i = 0; i < 100 && !started; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!started)
                ::close(::open(table.c_str(), O_WRONLY | O_NONBLOCK));
        });
        create();
        started = true;
        rescue.join();
        EXPECT_EQ(dialogs.messages, (std::vector<QString>{"Invalid filename"})) << c.what;
        EXPECT_EQ(form->Edit4->text(), "20") << c.what;
        EXPECT_TRUE(boardsim::portTrace().empty()) << c.what;
        form.reset();
    }
    ::close(listener);
}

TEST_F(GainFormTest, MalformedFileStopsStartUpWithItsMessage)
{
    std::string text = tableText(patternTable());
    text.replace(text.find(' '), 1, " 1a ");
    writeGainFile(text);
    create();
    ASSERT_EQ(dialogs.messages, (std::vector<QString>{"Invalid numeric input"}));
    EXPECT_EQ(form->Edit4->text(), "20");
    EXPECT_TRUE(boardsim::portTrace().empty());
}

TEST_F(GainFormTest, AfterAStartUpThatStoppedAtTheTableNoActionRuns)
{
    // The ports were never configured, so nothing the actions send reaches the
    // front-end: Show drew, Auto Adjust "set" an attenuation of 200 dB and Acquire
    // recorded a header of settings the front-end never got, each as a success.
    struct Case {
        const char* action;
        QString status;  // red
    };
    const QString refused = "START-UP FAILED (digpot.cfg NOT READ): RESTART THE PROGRAM";
    const Case cases[] = {
        {"Show", refused}, {"Auto Adjust", refused}, {"Acquire", "CANNOT ACQUIRE"}, {"Clocks per Sweep", refused}};
    for (const bool missing : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.action) + (missing ? ", no table" : ", a malformed table"));
            boardsim::reset();
            if (!missing) {
                std::string text = tableText(patternTable());
                text.replace(text.find(' '), 1, " x ");
                writeGainFile(text);
            }
            create();
            ASSERT_EQ(dialogs.messages.size(), 1u);
            dialogs.messages.clear();
            form->processMessages = [] {};
            const QString saved = path(QStringLiteral("run.txt"));
            dialogs.saveAnswers = {saved};
            form->Edit1->setText("2");
            form->Edit2->setText("5");
            const std::string action = c.action;
            QPushButton* const button = action == "Show"          ? form->Button3
                                        : action == "Auto Adjust" ? form->Button5
                                        : action == "Acquire"     ? form->Button6
                                                                  : form->Panel1;
            button->click();
            EXPECT_EQ(form->statusText(), c.status);
            EXPECT_EQ(form->statusColour(), QColor(255, 0, 0));
            EXPECT_TRUE(dialogs.messages.empty());
            EXPECT_TRUE(boardsim::trace().empty());  // no port call, allocation or scan
            EXPECT_EQ(dialogs.saveAsked, 0);
            EXPECT_FALSE(QFile::exists(saved));
            EXPECT_EQ(form->Edit4->text(), "20");
            EXPECT_EQ(form->Panel1->text(), "Panel1");  // no read-back of lines nothing drives
            EXPECT_FALSE(form->CaptureInProgress);
            if (!missing)
                QFile::remove(path(QStringLiteral("digpot.cfg")));
            form.reset();
        }
    }
}

TEST_F(GainFormTest, ChannelGainProgramsBothPotsOfTheChannel)
{
    auto t = patternTable();
    t[27][2] = 50;  // 30 dB, channel 2 pot A: beyond the pot's range
    t[27][3] = -4;
    t[37][0] = gain::Unusable;
    start(t);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(boardsim::potValue(2), 32);
    EXPECT_EQ(boardsim::potValue(3), 0);

    const int64_t t0 = clock.peekNs();
    form->SetChannelGain(1, 40);  // steps down to 39 dB
    EXPECT_EQ(intervalsSince(t0), 58);
    EXPECT_EQ(boardsim::potValue(0), t[36][0]);
    EXPECT_EQ(boardsim::potValue(1), t[36][1]);
    EXPECT_EQ(form->GainPotA(40, 1), gain::Unusable);
    EXPECT_EQ(form->GainPotB(2, 3), t[0][5]);

    form->SetChannelGain(3, 80);
    EXPECT_EQ(boardsim::potValue(4), t[67][4]);
    EXPECT_EQ(boardsim::potValue(5), t[67][5]);
}

TEST_F(GainFormTest, ChannelWithoutAnyUsableRowKeepsItsPots)
{
    auto t = patternTable();
    for (int r = 0; r < gain::Rows; ++r)
        t[r][1] = gain::Unusable;  // channel 1 can take no gain at all
    start(t);
    EXPECT_EQ(boardsim::potValue(0), -1);
    EXPECT_EQ(boardsim::potValue(1), -1);
    EXPECT_EQ(boardsim::potValue(2), t[27][2]);  // channel 2 set as usual

    const size_t frames = boardsim::potFrameBytes().size();
    form->SetChannelGain(1, 30);
    EXPECT_EQ(boardsim::potFrameBytes().size(), frames);
}
