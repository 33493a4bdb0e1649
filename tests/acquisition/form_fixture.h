#pragma once
// Shared set-up for the acquisition form tests: a QApplication, a fresh simulated
// board, a temporary working directory holding a digpot.cfg written by the test, and
// a form on a virtual settle clock (192 settle intervals take microseconds).

#include "sim_control.h"
#include "gain_table.h"
#include "scripted_dialogs.h"
#include "settle_clock.h"
#include "tform1.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>

// Fontconfig keeps its caches until the process ends; under LeakSanitizer that is
// reported as a leak of the system library, not of the program under test.
#if defined(__SANITIZE_ADDRESS__)
#define QUENLO_TEST_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUENLO_TEST_LSAN 1
#endif
#endif
#ifdef QUENLO_TEST_LSAN
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

namespace fixture {

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "quenlo_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

// A table whose every value is distinct enough to tell rows and columns apart:
// row r, column j holds (3r + j) mod 33, a legal potentiometer setting.
inline gain::Table patternTable()
{
    gain::Table t{};
    for (int r = 0; r < gain::Rows; ++r)
        for (int j = 0; j < gain::Columns; ++j)
            t[r][j] = (3 * r + j) % 33;
    return t;
}

// The table as digpot.cfg lays it out: one row per line, blanks between, CR LF.
inline std::string tableText(const gain::Table& t)
{
    std::string text;
    for (const auto& row : t) {
        for (int j = 0; j < gain::Columns; ++j)
            text += (j ? " " : "") + std::to_string(row[j]);
        text += "\r\n";
    }
    return text;
}

// Settle intervals on the virtual clock: 2.0E-7 day.
inline constexpr int64_t IntervalNs = 17'280'000;

class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ensureApplication();
        boardsim::reset();
        ASSERT_TRUE(dir_.isValid());
        previousDir_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
    }

    void TearDown() override
    {
        form.reset();
        QDir::setCurrent(previousDir_);
    }

    void writeGainFile(const std::string& text)
    {
        QFile file(dir_.filePath(QStringLiteral("digpot.cfg")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(text.data(), qint64(text.size())), qint64(text.size()));
    }

    // Writes the table and creates the form (which runs the start-up sequence).
    void start(const gain::Table& table = patternTable())
    {
        writeGainFile(tableText(table));
        create();
    }

    void create()
    {
        form = std::make_unique<TForm1>(dialogs, clock);
        form->terminateApplication = [this] { ++terminations; };
    }

    QString path(const QString& name) const { return dir_.filePath(name); }

    // Whole settle intervals of virtual time since `fromNs`.
    int64_t intervalsSince(int64_t fromNs) const { return (clock.peekNs() - fromNs) / IntervalNs; }

    ScriptedDialogs dialogs;
    VirtualSettleClock clock;
    std::unique_ptr<TForm1> form;
    int terminations = 0;

private:
    QTemporaryDir dir_;
    QString previousDir_;
};

}  // namespace fixture
