// Every kind of bad input gives its one stderr line, exit status 2 and no output
// file; usage errors give status 1.

#include "cli_support.h"
#include "run_sounder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>
#include <unistd.h>

namespace {

const std::string Good = recording(2, 2500, 2);
const std::string Header = "2,2500\r\n31\r\n10,20,30\r\n0.0\r\n";

bool onlyInput(const TempDir& dir)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
        files += entry.path().filename().string().rfind("std", 0) != 0;
    return files == 1;
}

}  // namespace

TEST(SounderCli, BadInputGivesItsLineStatusTwoAndNoOutput)
{
    struct Row {
        const char* name;
        std::string content;
        const char* says;
    };
    const Row rows[] = {
        {"viewer layout", "5\r\n4000\r\n0\r\n20\r\n0.0\r\n1.5\r\n", "rec.txt: line 1: expected \"NumSweeps,SweepSamples\""},
        {"two codes", Header + "1,2,3\r\n1,2\r\n", "rec.txt: line 6: expected three codes"},
        {"code above 65535", Header + "1,2,65536\r\n", "rec.txt: line 5: expected a code 0..65535, found one above"},
        {"LF line ends", "2,2500\n31\n10,20,30\n0.0\n1,2,3\n", "rec.txt: line 1:"},
        {"empty file", "", "rec.txt: line 1:"},
        {"last line not codes", Header + "1,2,3\r\n4,5x", "rec.txt: line 6:"},
    };
    for (const Row& row : rows) {
        for (const char* to : {"viewer", "sigmf"}) {
            TempDir dir;
            writeBytes(dir.file("rec.txt"), row.content);
            const RunResult run = runSounder(dir, std::string("convert rec.txt --to ") + to);
            EXPECT_EQ(run.status, 2) << row.name << " " << to;
            EXPECT_NE(run.err.find(row.says), std::string::npos) << row.name << ": " << run.err;
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << row.name << ": one line: " << run.err;
            EXPECT_TRUE(onlyInput(dir)) << row.name << " " << to;
        }
    }
}

TEST(SounderCli, MissingInputAndUnwritableOutput)
{
    TempDir dir;
    RunResult run = runSounder(dir, "convert none.txt --to viewer");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "none.txt: File not found\n");
    run = runSounder(dir, "info none.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "none.txt: File not found\n");

    writeBytes(dir.file("rec.txt"), Good);
    run = runSounder(dir, "convert rec.txt --to viewer -o nofolder/out.txt");
    EXPECT_EQ(run.status, 2);
    // A missing folder is a name that cannot be, not a missing file.
    EXPECT_EQ(run.err, "nofolder/out.txt: Invalid filename\n");
    run = runSounder(dir, "convert rec.txt --to sigmf -o nofolder/out");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "nofolder/out.sigmf-data: Invalid filename\n");
    EXPECT_TRUE(onlyInput(dir));
}

TEST(SounderCli, ReadOnlyOutputFolder)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not bind root";
    TempDir dir;
    writeBytes(dir.file("rec.txt"), Good);
    std::filesystem::create_directory(dir.file("ro"));
    std::filesystem::permissions(dir.file("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const RunResult run = runSounder(dir, "convert rec.txt --to viewer -o ro/out.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "ro/out.txt: File access denied\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("ro")));
}

TEST(SounderCli, UsageErrorsGiveStatusOne)
{
    TempDir dir;
    writeBytes(dir.file("rec.txt"), Good);
    for (const char* args : {"", "frobnicate", "info", "convert rec.txt", "convert rec.txt --to wav",
                             "convert rec.txt --to viewer --channel 4", "convert --to viewer",
                             "convert rec.txt --to sigmf --channel 4", "info --bogus rec.txt"}) {
        const RunResult run = runSounder(dir, args);
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_FALSE(run.err.empty()) << args;
    }
    EXPECT_TRUE(onlyInput(dir));
    // The usage line names the command as typed, whatever path the binary was started from.
    for (const auto& [args, usage] : {std::pair{"--help", "Usage: sounder [options] COMMAND"},
                                      std::pair{"info --help", "Usage: sounder info [options] FILE..."},
                                      std::pair{"convert --help", "Usage: sounder convert [options] FILE"},
                                      std::pair{"analyze --help", "Usage: sounder analyze [options] FILE..."}}) {
        const RunResult run = runSounder(dir, args);
        EXPECT_EQ(run.status, 0) << args;
        EXPECT_EQ(run.out.rfind(usage, 0), 0u) << args << ": " << run.out.substr(0, run.out.find('\n'));
    }
    const RunResult version = runSounder(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("sounder ", 0), 0u);
}

// The manual page is made from this help by help2man, which takes an indented line
// for an item's text: every command of the list stands on one line of its own, each
// with its text beneath, so no command is cut in two on the page.
TEST(SounderCli, HelpListsEachCommandOnOneLine)
{
    TempDir dir;
    const RunResult run = runSounder(dir, "--help");
    ASSERT_EQ(run.status, 0);
    const size_t from = run.out.find("Commands:\n");
    const size_t to = run.out.find("\n\n", from);
    ASSERT_NE(from, std::string::npos);
    std::istringstream list(run.out.substr(from + 10, to - from - 10));
    std::vector<std::string> commands;
    bool textBeneath = true;
    for (std::string line; std::getline(list, line);) {
        const size_t indent = line.find_first_not_of(' ');
        if (indent == 2) {
            EXPECT_TRUE(textBeneath) << "no text for the command before: " << line;
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
            // A command's text beside it needs two blanks before it.
            textBeneath = line.find("  ", 2) != std::string::npos;
        } else {
            EXPECT_EQ(indent, 48u) << "neither a command nor a command's text: " << line;
            textBeneath = true;
        }
    }
    EXPECT_TRUE(textBeneath);
    EXPECT_EQ(commands, (std::vector<std::string>{"info", "convert", "convert", "analyze", "calibrate", "campaign"}));
}

TEST(SounderCli, InfoTellsLayoutSweepsAndCodes)
{
    TempDir dir;
    writeBytes(dir.file("cut.txt"), recording(3, 2500, 2) + "0,4095,7\r\n");
    writeBytes(dir.file("cutline.txt"), recording(3, 2500, 2) + "0,4095,7\r\n12,3");  // a write stopped mid-line
    writeBytes(dir.file("view.txt"), "5\r\n4000\r\n0\r\n20\r\n0.0\r\n1.5\r\n");
    writeBytes(dir.file("junk.txt"), "hello\r\n");
    // The viewer layout's samples are counted into sweeps too, and read by its rules.
    std::string whole = "2\r\n3\r\n0\r\n20\r\n0.0\r\n";
    for (int i = 0; i < 2 * 3; ++i)
        whole += "0.25\r\n";
    writeBytes(dir.file("whole.txt"), whole);
    writeBytes(dir.file("badsample.txt"), "2\r\n3\r\n0\r\n20\r\n0.0\r\n0.5\r\n0.5\r\n0.5\r\n0.5\r\n0,5\r\n0.5\r\n");
    const RunResult run = runSounder(dir, "info cut.txt cutline.txt view.txt junk.txt whole.txt badsample.txt");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("cut.txt: acquisition layout"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2 of 3 present, cut short (1 missing), 1 lines of an incomplete sweep"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("cutline.txt: acquisition layout\n  header: 3 sweeps of 2500 samples (clock divider 4), "
                           "attenuation 31 dB, gains 10, 20, 30 dB\n  sweeps: 2 of 3 present, cut short (1 missing), "
                           "1 lines of an incomplete sweep, the last line cut after 4 bytes\n"),
              std::string::npos)
        << run.out;
    const RunResult converted = runSounder(dir, "convert cutline.txt --to viewer -o cutline-viewer.txt");
    EXPECT_EQ(converted.status, 0) << converted.err;
    EXPECT_NE(converted.err.find("cutline.txt: cut short: 2 of 3 sweeps present, 1 missing (1 lines of an incomplete "
                                 "sweep and a last line cut after 4 bytes left out)"),
              std::string::npos)
        << converted.err;
    // Channel 1 runs 0..4095 twice over 5000 lines, then the extra 0: two 0s and one 4095 in the sweeps, one 0 after them.
    EXPECT_NE(run.out.find("ch 1: codes 0..4095, 4 clipped"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("view.txt: viewer layout\n  header: 5 sweeps of 4000 samples, gain 20\n"
                           "  sweeps: 0 of 5 present, cut short (5 missing), 1 samples of an incomplete sweep\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("whole.txt: viewer layout\n  header: 2 sweeps of 3 samples, gain 20\n"
                           "  sweeps: 2 of 2 present, complete\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("junk.txt: line 1: expected"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("badsample.txt: sweep 2, sample 2: Invalid numeric input\n"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("badsample.txt"), std::string::npos) << run.out;
}

// A recording given through a pipe is told as the file is, whatever its layout: nothing
// of it is read ahead to see whether it is something else (a calibration), and the bytes
// read to tell its layout are read again by the reader of that layout, as the pipe would
// lose them. A file in neither layout gets the same message through the pipe.
TEST(SounderCli, InfoOfAPipeIsInfoOfTheFile)
{
    std::string viewer = "5\r\n4000\r\n0\r\n20\r\n0.0\r\n";
    for (int i = 0; i < 5 * 4000; ++i)
        viewer += std::to_string((i % 7) * 0.25 - 0.75) + "\r\n";
    const std::string recordings[] = {recording(3, 2500, 2), viewer, "hello\r\n",
                                      std::string(300, '7') + "\r\n"};
    for (const std::string& text : recordings)
        for (const std::string command : {"info", "analyze --csv -"}) {
            SCOPED_TRACE(command + " of " + text.substr(0, 12));
            TempDir dir;
            writeBytes(dir.file("rec.txt"), text);
            const RunResult direct = runSounder(dir, command + " rec.txt");
            const std::string piped = std::string("cd '") + dir.file("") + "' && cat rec.txt | '" + SOUNDER_BINARY +
                                      "' " + command + " /dev/stdin >piped.out 2>piped.err";
            const int raw = std::system(piped.c_str());
            EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, direct.status) << readBytes(dir.file("piped.err"));
            std::string expected = direct.out, expectedErr = direct.err;
            for (std::string* said : {&expected, &expectedErr})
                for (size_t at; (at = said->find("rec.txt")) != std::string::npos;)
                    said->replace(at, 7, "/dev/stdin");
            EXPECT_EQ(readBytes(dir.file("piped.out")), expected);
            EXPECT_EQ(readBytes(dir.file("piped.err")), expectedErr);
        }
}

TEST(SounderCli, OneMappingOfOpenErrorsInEveryCommand)
{
    struct Case {
        std::string input;
        std::string text;
    };
    // A missing folder, or a file standing where a folder should, is a name that cannot
    // be; a missing file in a folder that exists is not found.
    const Case cases[] = {{"nodir/x.txt", "Invalid filename"},
                          {"rec.txt/x.txt", "Invalid filename"},
                          {"none.txt", "File not found"}};
    const std::string commands[] = {"info %", "convert % --to viewer -o out.txt", "convert % --to sigmf -o out",
                                    "analyze % --csv out.csv"};
    for (const Case& c : cases)
        for (std::string command : commands) {
            TempDir dir;
            writeBytes(dir.file("rec.txt"), Good);
            command.replace(command.find('%'), 1, c.input);
            const RunResult run = runSounder(dir, command);
            EXPECT_EQ(run.status, 2) << command;
            EXPECT_EQ(run.err, c.input + ": " + c.text + "\n") << command;
            EXPECT_TRUE(onlyInput(dir)) << command;
        }
}

TEST(SounderCli, InfoSaysWhatAnEndOfTextMarkLeftUnread)
{
    struct Case {
        std::string tail;  // after the recording's lines
        std::string said;  // in info's report (empty: no such line)
    };
    const std::string lines = "1,2,3\r\n4,5,6\r\n";
    const Case cases[] = {
        {"", ""},
        {"\x1A", ""},  // the mark as the last byte: nothing is left unread
        {"\x1A" + lines, "the 14 bytes after it were not read"},
        {"\x1A\x1A", "the 1 byte after it was not read"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeBytes(dir.file("rec.txt"), Good + c.tail);
        const RunResult run = runSounder(dir, "info rec.txt");
        EXPECT_EQ(run.status, 0) << run.err;
        const size_t at = run.out.find("end-of-text mark (0x1A) at byte " + std::to_string(Good.size()) + ": ");
        if (c.said.empty()) {
            EXPECT_EQ(at, std::string::npos) << run.out;
        } else {
            ASSERT_NE(at, std::string::npos) << run.out;
            EXPECT_NE(run.out.find(c.said, at), std::string::npos) << run.out;
        }
    }
}

// A device named as an input (one that gives bytes for ever among them) is refused at
// once by every command that reads recordings, as a folder is: status 2, one line.
TEST(SounderCli, ADeviceAsAnInputIsRefusedAtOnce)
{
    const char* commands[] = {
        "info /dev/zero",
        "info /dev/null",
        "analyze /dev/zero --csv out.csv",
        "convert /dev/zero --to viewer -o out.txt",
        "convert /dev/zero --to sigmf -o out",
        "calibrate /dev/zero --through-db 30 -o out.json",
        "campaign /dev/zero --origin 1,2 --csv out.csv",
    };
    for (const char* command : commands) {
        TempDir dir;
        const RunResult run = runSounder(dir, command);
        const std::string device = std::string(command).find("/dev/null") != std::string::npos ? "/dev/null" : "/dev/zero";
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_NE(run.err.find(device + ": Invalid filename\n"), std::string::npos) << command << ": " << run.err;
        size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("")))
            ++entries;
        EXPECT_EQ(entries, 2u) << command << ": stdout.log and stderr.log only";
    }
}

// Texts from inputs reach a terminal with their control characters shown, never acted
// on; readable text, UTF-8 included, as it is.
TEST(SounderCli, PrintableShowsControlCharactersAndKeepsText)
{
    const std::pair<std::string, std::string> cases[] = {
        {"rec 1.txt", "rec 1.txt"},
        {"a\nb\rc\td", "a\\nb\\rc\\td"},
        {"\x1b[2J", "\\x1b[2J"},
        {std::string("nul\0!", 5), "nul\\x00!"},
        {"del\x7f", "del\\x7f"},
        {"M\xC3\xBCnchen \xE2\x82\xAC \xF0\x9F\x93\xA1", "M\xC3\xBCnchen \xE2\x82\xAC \xF0\x9F\x93\xA1"},
        {"csi \xC2\x9B" "2J", "csi \\u009b2J"},
        {"lone \x9b", "lone \\x9b"},
        {"cut \xE2\x82", "cut \\xe2\\x82"},
        {"overlong \xC0\xAF", "overlong \\xc0\\xaf"},
        {"surrogate \xED\xA0\x80", "surrogate \\xed\\xa0\\x80"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(cli::printable(text), shown) << shown;
}

// A file name and a calibration's texts with a newline and a terminal escape in them are
// shown escaped by info, on stdout and stderr alike.
TEST(SounderCli, InfoShowsTextsFromFilesEscaped)
{
    TempDir dir;
    writeBytes(dir.file("a\nb\x1b[2J.txt"), Good);
    writeBytes(dir.file("junk\x1b[2J.txt"), "hello\r\n");
    RunResult run = runSounder(dir, "info \"$(printf 'a\\nb\\033[2J.txt')\" \"$(printf 'junk\\033[2J.txt')\"");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("a\\nb\\x1b[2J.txt: acquisition layout\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.rfind("junk\\x1b[2J.txt: line 1: expected", 0), 0u) << run.err;
    for (const std::string& said : {run.out, run.err})
        EXPECT_EQ(said.find('\x1b'), std::string::npos) << said;
}

// What is printed on the standard output is the run's result: a full disk there is a
// failure (status 2, said on stderr), where info's lost report ended with status 0.
TEST(SounderCli, AFullStandardOutputIsAFailure)
{
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full here";
    TempDir dir;
    writeBytes(dir.file("rec.txt"), Good);
    const struct {
        const char* args;
        const char* out;
        int status;
        const char* says;  // the start of stderr
    } cases[] = {
        {"info rec.txt", "/dev/full", 2, "sounder: the standard output: "},
        {"info rec.txt none.txt", "/dev/full", 2, "none.txt: File not found\nsounder: the standard output: "},
        {"--version", "/dev/full", 2, "sounder: the standard output: Disk full"},
        {"--help", "/dev/full", 2, "sounder: the standard output: Disk full"},
        {"analyze rec.txt --csv -", "/dev/full", 2, "-: Disk full\n"},
        {"info rec.txt", "/dev/null", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.args) + " > " + c.out);
        const int raw = std::system(("cd '" + dir.file("") + "' && '" + SOUNDER_BINARY + "' " + c.args + " >" + c.out +
                                     " 2>err.log")
                                        .c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
        const std::string err = readBytes(dir.file("err.log"));
        EXPECT_EQ(err.substr(0, std::strlen(c.says)), c.says) << err;
        EXPECT_EQ(err.find("the standard output") != std::string::npos, std::string(c.says).find("the standard output") != std::string::npos)
            << err;
    }
}

// A file name is bytes: one that is not UTF-8 (Latin-1 "Stra\xdfe") is read and written
// under its own bytes, where each such byte became U+FFFD and the file was not found.
TEST(SounderCli, FileNamesThatAreNotUtf8KeepTheirBytes)
{
    TempDir dir;
    const std::string in = "Stra\xdf" "e \xff\xfe.txt";  // Latin-1, and bytes no text has
    const std::string out = "Ergebnis \xe9\xc3.csv";      // a lead byte without its follower
    const std::string utf8 = "caf\xc3\xa9 \xf0\x9f\x98\x80";  // and real UTF-8 stays as it is
    writeBytes(dir.file(in), Good);
    writeBytes(dir.file(utf8 + ".txt"), Good);
    const struct {
        std::string args;
        std::string made;  // a file the run makes; empty: none
    } cases[] = {
        {"info '" + in + "'", ""},
        {"analyze '" + in + "' --csv '" + out + "'", out},
        {"analyze '" + in + "' --json='" + out + ".json'", out + ".json"},
        {"convert '" + in + "' --to viewer", in + ".ch1.txt"},
        {"convert '" + in + "' --to sigmf", "Stra\xdf" "e \xff\xfe.sigmf-meta"},
        {"convert '" + utf8 + ".txt' --to sigmf -o '" + utf8 + " \x80'", utf8 + " \x80.sigmf-data"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(cli::printable(c.args));
        const RunResult run = runSounder(dir, c.args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.find("File not found"), std::string::npos) << run.err;
        if (!c.made.empty()) {
            EXPECT_TRUE(std::filesystem::exists(dir.file(c.made))) << cli::printable(c.made);
        }
    }
}

// A collection's metadata names its recordings in UTF-8 text: a BASE of other bytes is
// refused before anything is written, rather than written as names of files not there.
TEST(SounderCli, ACollectionBaseThatIsNotUtf8IsRefused)
{
    struct Case {
        std::string name;
        bool utf8;
    };
    const Case cases[] = {{"bad\xff.txt", false}, {"cut \xc3.txt", false}, {"M\xc3\xbcnchen \xe2\x82\xac.txt", true}};
    for (const auto& [name, utf8] : cases) {
        SCOPED_TRACE(cli::printable(name));
        TempDir dir;
        writeBytes(dir.file(name), Good);
        const std::string base = name.substr(0, name.size() - 4);
        RunResult run = runSounder(dir, "convert '" + name + "' --to sigmf --layout collection");
        EXPECT_EQ(run.status, utf8 ? 0 : 2) << run.err;
        EXPECT_EQ(std::filesystem::exists(dir.file(base + ".sigmf-collection")), utf8);
        EXPECT_EQ(std::filesystem::exists(dir.file(base + "-ch1.sigmf-meta")), utf8);
        if (utf8) {
            run = runSounder(dir, "info '" + base + ".sigmf-collection'");
            EXPECT_EQ(run.status, 0) << run.err;
        }
    }
}
