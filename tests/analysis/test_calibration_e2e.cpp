// Known answers end to end: channels described to the simulated board, recorded by
// the acquisition program's "Acquire" (with its sidecar), calibrated by `sounder
// calibrate` and measured by `sounder analyze --cal --paths` and `sounder campaign --cal`.
#include "form_fixture.h"
#include "recording_metadata.h"
#include "run_sounder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

// 100 MHz swept: at divider 2 a bin is 5000 / 4096 / 1e8 s = 12.20703125 ns, so these
// delays fall on whole bins; the system delay is 50 bins.
constexpr double BinNs = 12.20703125;
constexpr double SystemDelayNs = 50 * BinNs;

std::string channelFile(const std::string& paths, const std::string& extra = "")
{
    std::string channels;
    for (int c = 0; c < 3; ++c)
        channels += std::string(c ? ", " : "") + "{\"paths\": [" + paths + "]}";
    return R"({"schema": "sounder.sim-channel/1", "bandwidth_hz": 1e8, "reference_volts": 20, )" + extra +
           "\"system_delay_ns\": " + std::to_string(SystemDelayNs) + ", \"noise_volts\": 3e-6, \"channels\": [" +
           channels + "]}";
}

std::string pathText(double bins, double gainDb)
{
    std::ostringstream s;
    s.precision(17);
    s << "{\"delay_ns\": " << bins * BinNs << ", \"gain_db\": " << gainDb << "}";
    return s.str();
}

// Rows of a CSV file as maps from the header's names.
std::vector<std::map<std::string, std::string>> csvRows(const std::string& text)
{
    std::vector<std::map<std::string, std::string>> rows;
    std::istringstream in(text);
    std::string line;
    std::vector<std::string> names;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        std::istringstream f(line);
        for (std::string field; std::getline(f, field, ',');)
            fields.push_back(field);
        if (names.empty()) {
            names = fields;
            continue;
        }
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < names.size(); ++i)
            row[names[i]] = i < fields.size() ? fields[i] : "";
        rows.push_back(row);
    }
    return rows;
}

double number(const std::map<std::string, std::string>& row, const std::string& name)
{
    const auto it = row.find(name);
    if (it == row.end() || it->second.empty())
        return NAN;
    return std::atof(it->second.c_str());
}

class CalibrationEndToEnd : public fixture::FormTest {
protected:
    void TearDown() override
    {
        ::unsetenv("SOUNDER_SIM_CHANNEL");
        fixture::FormTest::TearDown();
        boardsim::reset();
    }

    // Records `sweeps` sweeps at divider 2 of the described channel as NAME.txt.
    void record(const std::string& name, const std::string& description, int gain, int attenuation, int sweeps = 20,
                int divider = 2)
    {
        writeBytes(dir.file(name + ".json"), description);
        ::setenv("SOUNDER_SIM_CHANNEL", dir.file(name + ".json").c_str(), 1);
        form.reset();
        boardsim::reset();
        ASSERT_EQ(boardsim::boardFailure(), "");
        writeGainFile(readBytes(DIGPOT_CFG_PATH));
        create();
        form->Edit1->setText(QString::number(divider));
        form->Edit2->setText(QString::number(sweeps));
        // A text equal to the one shown is no change, and the attenuator stays where the
        // start-up left it (31 dB); through another value the setting is sent.
        form->Edit3->setText(QString::number(attenuation + 1));
        form->Edit3->setText(QString::number(attenuation));
        for (QLineEdit* e : {form->Edit4, form->Edit5, form->Edit6})
            e->setText(QString::number(gain));
        dialogs.saveAnswers.push_back(QString::fromStdString(dir.file(name + ".txt")));
        form->Button6Click();
        ASSERT_EQ(form->statusText(), "DONE");
        ASSERT_TRUE(dialogs.messages.empty());
    }

    RunResult sounder(const std::string& args) { return runSounder(dir, args); }

    TempDir dir;
};

const std::string B2B = pathText(0, -60);
const std::string TwoPaths = pathText(200, -70) + ", " + pathText(260, -76);

TEST_F(CalibrationEndToEnd, PathGainsAndDelaysFromTheAntenna)
{
    record("b2b", channelFile(B2B), 30, 10);
    const RunResult calibrated = sounder("calibrate b2b.txt --through-db 60 --cable-delay-ns 5 -o cal.json");
    ASSERT_EQ(calibrated.status, 0) << calibrated.err;
    EXPECT_EQ(calibrated.err, "");

    // The calibration applied to its own recording: -60 dB, delay 0.
    RunResult self = sounder("analyze b2b.txt --cal cal.json --csv self.csv");
    ASSERT_EQ(self.status, 0) << self.err;
    for (const auto& row : csvRows(readBytes(dir.file("self.csv")))) {
        if (row.at("kind") != "block")
            continue;
        EXPECT_NEAR(number(row, "path_gain_db"), -60.0, 0.1) << row.at("channel");
        EXPECT_NEAR(number(row, "peak_gain_db"), -60.0, 0.1);
        EXPECT_NEAR(number(row, "peak_antenna_delay_bins"), 0.0, 0.05);
    }

    // Two paths at -70 and -76 dB, 200 and 260 bins after the system delay, measured at
    // several settings that do not clip: the same numbers at each.
    struct Setting {
        int gain, attenuation;
    };
    for (const Setting s : {Setting{50, 0}, Setting{40, 0}, Setting{60, 12}, Setting{45, 3}}) {
        SCOPED_TRACE("gain " + std::to_string(s.gain) + ", attenuation " + std::to_string(s.attenuation));
        record("two", channelFile(TwoPaths), s.gain, s.attenuation);
        const RunResult measured =
            sounder("analyze two.txt --cal cal.json --bandwidth 1e8 --csv two.csv --paths paths.csv --json two.json");
        ASSERT_EQ(measured.status, 0) << measured.err;
        EXPECT_EQ(measured.err, "");  // no channel clips, and each has its sidecar
        int blocks = 0;
        for (const auto& row : csvRows(readBytes(dir.file("two.csv")))) {
            if (row.at("kind") != "block")
                continue;
            ++blocks;
            EXPECT_NEAR(number(row, "peak_gain_db"), -70.0, 0.5);
            EXPECT_NEAR(number(row, "path_gain_db"), -69.03, 0.5);
            EXPECT_NEAR(number(row, "first_arrival_antenna_delay_bins"), 200.0, 0.5);
            EXPECT_NEAR(number(row, "first_arrival_antenna_delay_ns"), 200.0 * BinNs + 5.0, 0.1);
            EXPECT_NEAR(number(row, "peak_antenna_delay_m"), (200.0 * BinNs + 5.0) * 0.299792458, 0.5 * BinNs * 0.3);
        }
        EXPECT_EQ(blocks, 3 * 4);
        int paths = 0;
        for (const auto& row : csvRows(readBytes(dir.file("paths.csv")))) {
            ++paths;
            const bool first = row.at("path") == "1";
            EXPECT_NEAR(number(row, "antenna_delay_bins"), first ? 200.0 : 260.0, 0.5);
            EXPECT_NEAR(number(row, "gain_db"), first ? -70.0 : -76.0, 0.5);
            EXPECT_NEAR(number(row, "delay_bins"), first ? 250.0 : 310.0, 0.5);
        }
        EXPECT_EQ(paths, 2 * 3 * 4);

        // The summary holds the same columns, over the blocks.
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(readBytes(dir.file("two.json"))))
                                     .object();
        EXPECT_EQ(json["parameters"].toObject()["calibration"].toObject()["file"].toString(), "cal.json");
        const QJsonObject file = json["files"].toArray().at(0).toObject();
        EXPECT_EQ(file["levels_from"].toString(), "sidecar");
        for (const QJsonValue& ch : file["channels"].toArray()) {
            const QJsonObject metrics = ch.toObject()["metrics"].toObject();
            EXPECT_NEAR(metrics["peak_gain_db"].toObject()["median"].toDouble(), -70.0, 0.5);
            EXPECT_NEAR(metrics["path_gain_db"].toObject()["p90"].toDouble(), -69.03, 0.5);
            EXPECT_EQ(metrics["path_gain_db"].toObject()["blocks"].toInt(), 4);
            EXPECT_NEAR(metrics["first_arrival_antenna_delay_m"].toObject()["median"].toDouble(),
                        (200.0 * BinNs + 5.0) * 0.299792458, 0.5 * BinNs * 0.3);
            EXPECT_EQ(ch.toObject()["gain_db"].toDouble(), s.gain);
            EXPECT_EQ(ch.toObject()["attenuation_db"].toDouble(), s.attenuation);
        }
    }

    // Without a calibration or a bandwidth the path table has its delays in bins only.
    const RunResult plain = sounder("analyze two.txt --channel 2 --paths plain.csv");
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string table = readBytes(dir.file("plain.csv"));
    EXPECT_EQ(table.substr(0, table.find('\n')), "file,channel,block,first_sweep,sweeps,path,peak_bin,delay_bins,power_db\r");
    const auto rows = csvRows(table);
    ASSERT_EQ(rows.size(), 2u * 4);
    EXPECT_EQ(rows[0].at("channel"), "2");
    EXPECT_EQ(rows[0].at("peak_bin"), "251");
    EXPECT_EQ(rows[1].at("peak_bin"), "311");
    EXPECT_NEAR(number(rows[0], "power_db") - number(rows[1], "power_db"), 6.0, 0.1);
}

// Each recording a calibration cannot stand on, and each calibration that cannot
// apply: status 2, one line naming the file and the reason, and nothing written.
TEST_F(CalibrationEndToEnd, RefusesWhatCannotServe)
{
    record("b2b", channelFile(B2B), 30, 10, 5);
    record("clipped", channelFile(B2B), 60, 0, 5);
    record("faint", channelFile(pathText(0, -150)), 30, 10, 5);
    record("second", channelFile(B2B + ", " + pathText(100, -65)), 30, 10, 5);
    record("div4", channelFile(B2B), 30, 10, 5, 4);
    record("two", channelFile(TwoPaths), 50, 0, 5);
    writeBytes(dir.file("nosidecar.txt"), readBytes(dir.file("b2b.txt")));
    writeBytes(dir.file("copy.txt"), readBytes(dir.file("b2b.txt")));
    writeBytes(dir.file("copy.txt.meta.json"), readBytes(dir.file("b2b.txt.meta.json")));
    ASSERT_EQ(sounder("calibrate b2b.txt --through-db 60 -o cal.json").status, 0);
    ASSERT_EQ(sounder("calibrate b2b.txt --through-db 60 --channel 1 -o cal1.json").status, 0);
    writeBytes(dir.file("broken.json"), readBytes(dir.file("cal.json")).substr(0, 100));
    // The same size as b2b.txt, other codes, under b2b.txt's sidecar.
    std::string altered = readBytes(dir.file("b2b.txt"));
    altered[altered.size() - 3] = altered[altered.size() - 3] == '1' ? '2' : '1';
    writeBytes(dir.file("altered.txt"), altered);
    writeBytes(dir.file("altered.txt.meta.json"), readBytes(dir.file("b2b.txt.meta.json")));

    struct Case {
        std::string args;
        int status;
        std::string line;  // how stderr begins; it holds this one line only
    };
    const Case cases[] = {
        {"calibrate clipped.txt --through-db 60 -o out.json", 2, "clipped.txt: ch 1: "},
        {"calibrate faint.txt --through-db 60 -o out.json", 2, "faint.txt: ch 1: SNR "},
        {"calibrate second.txt --through-db 60 -o out.json", 2,
         "second.txt: ch 1: a second path at bin 151 within 20.0 dB of the strongest at bin 51: not a back-to-back "
         "recording"},
        {"calibrate b2b.txt div4.txt --through-db 60 -o out.json", 2,
         "div4.txt: recorded at clock divider 4, b2b.txt at 2: one calibration holds one divider"},
        {"calibrate altered.txt --through-db 60 -o out.json", 2,
         "altered.txt.meta.json: describes a recording of another SHA-256 than this one"},
        {"calibrate b2b.txt copy.txt --through-db 60 -o out.json", 2,
         "copy.txt: holds the same bytes as b2b.txt (SHA-256 "},
        {"calibrate b2b.txt -o out.json", 1, "sounder: calibrate needs --through-db A"},
        {"calibrate b2b.txt --through-db 60", 1, "sounder: calibrate needs -o CAL.json"},
        {"calibrate b2b.txt --through-db 60 --cable-delay-ns 2e9 -o out.json", 1,
         "sounder: --cable-delay-ns must be a number of ns from -1e9 to 1e9"},
        {"calibrate b2b.txt --through-db 60 --cable-delay-ns 5ns -o out.json", 1,
         "sounder: --cable-delay-ns must be a number of ns from -1e9 to 1e9"},
        {"analyze div4.txt --cal cal.json --csv out.json", 2,
         "div4.txt: recorded at clock divider 4, cal.json calibrates divider 2"},
        {"analyze two.txt --cal cal1.json --csv out.json", 2, "two.txt: ch 2, 3: cal1.json holds no calibration of them"},
        {"analyze two.txt --cal b2b.txt.meta.json --csv out.json", 2,
         "b2b.txt.meta.json: not a calibration (schema is not \"sounder.calibration/1\")"},
        {"analyze two.txt --cal missing.json --csv out.json", 2, "missing.json: File not found"},
        {"analyze two.txt --cal broken.json --csv out.json", 2, "broken.json: not JSON ("},
        {"analyze two.txt --cal cal.json --window hann --csv out.json", 2,
         "cal.json: made with --window none, not hann: the powers would not compare"},
        {"analyze two.txt --cal cal.json --threshold-db 30 --csv out.json", 2,
         "cal.json: made with --threshold-db 20, not 30: the powers would not compare"},
        // Measured, but its path gains are short of the channel's: said so.
        {"analyze clipped.txt --cal cal.json --csv out.json", 0,
         "clipped.txt: ch 1, 2, 3: clipped samples (code 0 or 4095): the path gains read low; record with less gain "
         "or more attenuation\n"},
        {"calibrate nosidecar.txt --through-db 60 -o out.json", 0,
         "nosidecar.txt: no sidecar: gain and attenuation taken from the header, which holds the settings, not what "
         "the front-end had"},
    };
    for (const Case& c : cases) {
        std::remove(dir.file("out.json").c_str());
        const RunResult r = sounder(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        EXPECT_EQ(r.err.substr(0, c.line.size()), c.line) << c.args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << "\n" << r.err;
        EXPECT_EQ(std::ifstream(dir.file("out.json")).good(), c.status == 0) << c.args;
    }

    // A measurement at another threshold takes a calibration made at that threshold, which
    // then also decides how far below the strongest path a second one is refused.
    const RunResult deep = sounder("calibrate b2b.txt --through-db 60 --threshold-db 30 -o cal30.json");
    ASSERT_EQ(deep.status, 0) << deep.err;
    EXPECT_EQ(deep.err, "");
    const RunResult at30 = sounder("analyze two.txt --cal cal30.json --threshold-db 30 --csv out30.csv");
    EXPECT_EQ(at30.status, 0) << at30.err;
    EXPECT_EQ(at30.err, "");
    EXPECT_EQ(sounder("analyze two.txt --cal cal30.json --csv out20.csv").status, 2);
    EXPECT_NE(sounder("info cal30.json").out.find(", threshold 30 dB,"), std::string::npos);
    for (const char* bad : {"-1", "2e6", "x"}) {
        const RunResult r = sounder(std::string("calibrate b2b.txt --through-db 60 --threshold-db ") + bad +
                                    " -o bad.json");
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.err, "sounder: --threshold-db must be a number of dB from 0 to 1e6 (see sounder --help)\n");
    }

    // What info shows of a calibration.
    const RunResult info = sounder("info cal1.json");
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("cal1.json: calibration (sounder.calibration/1)"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("clock divider 2, through 60 dB, cable delay 0 ns"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("  ch 1: reference "), std::string::npos) << info.out;
    // The system delay of 50 bins, whose lobe centre lies at bin 51.
    EXPECT_NE(info.out.find(", system delay 50.000 bins (centre at bin 51.000), SNR "), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("  ch 2:"), std::string::npos) << info.out;
    EXPECT_EQ(sounder("info broken.json").status, 2);
    // Saved with a UTF-8 byte-order mark, it is the same calibration to info.
    writeBytes(dir.file("marked.json"), "\xEF\xBB\xBF" + readBytes(dir.file("cal1.json")));
    const RunResult marked = sounder("info marked.json");
    EXPECT_EQ(marked.status, 0) << marked.err;
    EXPECT_NE(marked.out.find("marked.json: calibration (sounder.calibration/1)"), std::string::npos) << marked.out;
}

// A drive away from the transmitter: single paths whose gains fall as 10 n log10(d)
// with n = 2.5, recorded through the acquisition form at two receiver settings, each
// sidecar then given the place of its distance; the campaign with the calibration
// gives every recording's path gain and the exponent back.
TEST_F(CalibrationEndToEnd, CampaignFitsThePathLossOfTheDescribedChannels)
{
    record("b2b", channelFile(B2B), 30, 10, 5);
    ASSERT_EQ(sounder("calibrate b2b.txt --through-db 60 -o cal.json").status, 0);
    const double n = 2.5;
    const double metresPerDegree = 111319.490793;  // along the equator of WGS84
    const double distances[] = {100, 180, 320, 560, 1000};
    std::string files;
    std::vector<double> gains;
    for (size_t i = 0; i < std::size(distances); ++i) {
        const double gainDb = -62.0 - 10.0 * n * std::log10(distances[i] / 100.0);
        gains.push_back(gainDb);
        const std::string name = "at" + std::to_string(i);
        record(name, channelFile(pathText(150, gainDb)), i % 2 ? 50 : 40, i % 2 ? 0 : 6, 5);
        std::string error;
        std::optional<meta::Recording> sidecar = meta::readSidecar(dir.file(name + ".txt.meta.json"), &error);
        ASSERT_TRUE(sidecar) << error;
        meta::Position p;
        p.latitudeDeg = 0.0;
        p.longitudeDeg = distances[i] / metresPerDegree;
        p.mode = 3;
        sidecar->positionStart = meta::PositionSample{p, ""};
        ASSERT_EQ(meta::writeSidecar(dir.file(name + ".txt.meta.json"), *sidecar), "");
        files += name + ".txt ";
    }
    const RunResult run = sounder("campaign " + files + "--origin 0,0 --cal cal.json --csv camp.csv");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = csvRows(readBytes(dir.file("camp.csv")));
    ASSERT_EQ(rows.size(), std::size(distances));
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_NEAR(number(rows[i], "distance_m"), distances[i], 1e-3);
        EXPECT_NEAR(number(rows[i], "path_gain_db"), gains[i], 0.5) << i;
        EXPECT_EQ(rows[i].at("in_fit"), "yes");
    }
    const size_t at = run.out.find("path-loss exponent n = ");
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_NEAR(std::atof(run.out.c_str() + at + std::strlen("path-loss exponent n = ")), n, 0.05) << run.out;
    const size_t intercept = run.out.find("path gain at 1 m ");
    ASSERT_NE(intercept, std::string::npos) << run.out;
    EXPECT_NEAR(std::atof(run.out.c_str() + intercept + std::strlen("path gain at 1 m ")), -62.0 + 10.0 * n * 2.0, 0.5)
        << run.out;
}

}  // namespace
