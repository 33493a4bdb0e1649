// The recording metadata sidecar: its JSON both ways, what a reader refuses, writing
// it whole or not at all, and the digests it carries.

#include "digest.h"
#include "recording_metadata.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

meta::Recording sample()
{
    meta::Recording r;
    r.softwareName = "quenlo";
    r.softwareVersion = "9.8.7";
    r.boardLibraryPath = "/opt/x/libcbw32.so";
    r.boardLibrarySimulated = true;
    r.scanStartedUtc = "2026-12-08T10:00:00.000Z";
    r.writtenUtc = "2026-12-08T10:00:01.500Z";
    r.recordingFile = "run \"1\".txt";
    r.settings = {5, 2500, 0, {30, 31, 32}, 4};
    r.frontEnd.dividerCode = 3;
    r.frontEnd.sweepCount = 5;
    r.frontEnd.attenuationDb = 31;
    r.frontEnd.attenuatorCode = 31;
    r.frontEnd.channels[0] = {30, 30};
    r.frontEnd.channels[1] = {90, 70};
    r.frontEnd.channels[2] = {40, std::nullopt};
    r.frontEnd.pots[0] = 12;
    r.frontEnd.pots[1] = 0;
    r.frontEnd.pots[15] = 32;
    r.frontEnd.clocksPerSweep = 10000;
    r.scan = {150000, 2500000, 2500, 2800};
    r.sweepsRequested = 5;
    r.sweepStartGroups = {3, 2503, 5003, int64_t(1) << 40};
    r.result.status = "FAILED";
    r.result.reason = "Ran off end of data array";
    r.result.lines = 10004;
    r.result.bytes = 123456789012ull;
    r.result.sha256 = std::string(64, 'a');
    r.result.channels[0] = meta::ChannelCodes{0, 4095, 17};
    r.result.channels[2] = meta::ChannelCodes{2000, 2100, 0};
    return r;
}

void expectSame(const meta::Recording& a, const meta::Recording& b)
{
    EXPECT_EQ(a.softwareName, b.softwareName);
    EXPECT_EQ(a.softwareVersion, b.softwareVersion);
    EXPECT_EQ(a.boardLibraryPath, b.boardLibraryPath);
    EXPECT_EQ(a.boardLibrarySimulated, b.boardLibrarySimulated);
    EXPECT_EQ(a.scanStartedUtc, b.scanStartedUtc);
    EXPECT_EQ(a.writtenUtc, b.writtenUtc);
    EXPECT_EQ(a.recordingFile, b.recordingFile);
    EXPECT_EQ(a.settings.numSweeps, b.settings.numSweeps);
    EXPECT_EQ(a.settings.sweepSamples, b.settings.sweepSamples);
    EXPECT_EQ(a.settings.attenuation, b.settings.attenuation);
    EXPECT_EQ(a.settings.gains, b.settings.gains);
    EXPECT_EQ(a.settings.clockDivider, b.settings.clockDivider);
    EXPECT_EQ(a.frontEnd.dividerCode, b.frontEnd.dividerCode);
    EXPECT_EQ(a.frontEnd.sweepCount, b.frontEnd.sweepCount);
    EXPECT_EQ(a.frontEnd.attenuationDb, b.frontEnd.attenuationDb);
    EXPECT_EQ(a.frontEnd.attenuatorCode, b.frontEnd.attenuatorCode);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(a.frontEnd.channels[c].requestedGainDb, b.frontEnd.channels[c].requestedGainDb) << c;
        EXPECT_EQ(a.frontEnd.channels[c].tableGainDb, b.frontEnd.channels[c].tableGainDb) << c;
        EXPECT_EQ(a.result.channels[c].has_value(), b.result.channels[c].has_value()) << c;
        if (a.result.channels[c] && b.result.channels[c]) {
            EXPECT_EQ(a.result.channels[c]->lowest, b.result.channels[c]->lowest);
            EXPECT_EQ(a.result.channels[c]->highest, b.result.channels[c]->highest);
            EXPECT_EQ(a.result.channels[c]->clipped, b.result.channels[c]->clipped);
        }
    }
    EXPECT_EQ(a.frontEnd.pots, b.frontEnd.pots);
    EXPECT_EQ(a.frontEnd.clocksPerSweep, b.frontEnd.clocksPerSweep);
    EXPECT_EQ(a.scan.samples, b.scan.samples);
    EXPECT_EQ(a.scan.scanRateHz, b.scan.scanRateHz);
    EXPECT_EQ(a.scan.samplesPerSweep, b.scan.samplesPerSweep);
    EXPECT_EQ(a.scan.markerThreshold, b.scan.markerThreshold);
    EXPECT_EQ(a.sweepsRequested, b.sweepsRequested);
    EXPECT_EQ(a.sweepStartGroups, b.sweepStartGroups);
    EXPECT_EQ(a.result.status, b.result.status);
    EXPECT_EQ(a.result.reason, b.result.reason);
    EXPECT_EQ(a.result.lines, b.result.lines);
    EXPECT_EQ(a.result.bytes, b.result.bytes);
    EXPECT_EQ(a.result.sha256, b.result.sha256);
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

TEST(RecordingMetadata, RoundTripsEveryField)
{
    const meta::Recording r = sample();
    const std::string json = meta::toJson(r);
    std::string error;
    const std::optional<meta::Recording> back = meta::fromJson(json, &error);
    ASSERT_TRUE(back) << error;
    expectSame(r, *back);
    // Fields a reader of the file relies on by name.
    for (const char* key : {"\"schema\": \"sounder.recording/1\"", "\"table_row\": 67", "\"table_row\": null",
                            "\"code_to_volts\": \"(code - 2048) / 2048 * 5\"", "\"marker\"", "\"written\": 4"})
        EXPECT_NE(json.find(key), std::string::npos) << key;
}

TEST(RecordingMetadata, RefusesWhatIsNotASidecarOfThisSchema)
{
    const std::string good = meta::toJson(sample());
    struct Case {
        std::string text;
        std::string error;  // the start of the message
    };
    const std::vector<Case> cases = {
        {"", "not JSON"},
        {"[1, 2]", "not a JSON object"},
        {"{\"schema\": 1}", "schema is not \"sounder.recording/1\""},
        {replaced(good, "sounder.recording/1", "sounder.recording/2"), "schema is not"},
        {replaced(good, "\"settings\": {", "\"settingz\": {"), "settings is not an object"},
        {replaced(good, "\"lines\": 10004", "\"lines\": \"10004\""), "result.lines is not a whole number"},
        {replaced(good, "\"lines\": 10004", "\"lines\": 1.5"), "result.lines is not a whole number"},
        {replaced(good, "\"lines\": 10004", "\"lines\": -1"), "result.lines is not a whole number"},
        // Beyond every integer type: refused before any conversion (UBSan watches the cast).
        {replaced(good, "\"lines\": 10004", "\"lines\": 1e300"), "result.lines is not a whole number"},
        {replaced(good, "\"lines\": 10004", "\"lines\": -1e300"), "result.lines is not a whole number"},
        {replaced(good, "\"num_sweeps\": ", "\"num_sweeps\": 9e18, \"x\": "), "settings.num_sweeps is not"},
        {replaced(good, "\"simulated\": true", "\"simulated\": 1"), "board_library.simulated is not true or false"},
        {replaced(good, "\"attenuation_db\": 31", "\"attenuation_db\": 32"), "front_end.attenuation_db is not"},
        {good.substr(0, good.size() / 2), "not JSON"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(meta::fromJson(c.text, &error)) << c.text.substr(0, 80);
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << error;
    }
}

TEST(RecordingMetadata, ChannelCodesCoverTheGroupsGiven)
{
    // Groups of four: channels 1..3 then the marker, which is not counted.
    const std::vector<uint16_t> groups = {10, 0, 4095, 9999, 20, 5, 4000, 0, 15, 4095, 4095, 65535};
    std::array<std::optional<meta::ChannelCodes>, 3> codes;
    meta::addChannelCodes(groups.data(), 0, codes);
    EXPECT_FALSE(codes[0]);
    meta::addChannelCodes(groups.data(), 2, codes);
    ASSERT_TRUE(codes[0] && codes[1] && codes[2]);
    EXPECT_EQ(codes[0]->lowest, 10);
    EXPECT_EQ(codes[0]->highest, 20);
    EXPECT_EQ(codes[1]->lowest, 0);
    EXPECT_EQ(codes[1]->clipped, 1);
    EXPECT_EQ(codes[2]->clipped, 1);
    meta::addChannelCodes(groups.data() + 8, 1, codes);  // a later sweep adds to them
    EXPECT_EQ(codes[0]->lowest, 10);
    EXPECT_EQ(codes[1]->highest, 4095);
    EXPECT_EQ(codes[1]->clipped, 2);
    EXPECT_EQ(codes[2]->clipped, 2);
    EXPECT_EQ(codes[2]->lowest, 4000);
}

TEST(RecordingMetadata, WrittenWholeOrNotAtAll)
{
    TempDir dir;
    const std::string path = meta::sidecarPath(dir.file("rec.txt"));
    EXPECT_EQ(path, dir.file("rec.txt.meta.json"));
    EXPECT_EQ(meta::writeSidecar(path, sample()), "");
    EXPECT_EQ(readBytes(path), meta::toJson(sample()));

    // Into a missing folder, and over a folder: a reason, and nothing left behind.
    EXPECT_EQ(meta::writeSidecar(dir.file("missing/rec.txt.meta.json"), sample()), "Invalid filename");
    const std::string folder = dir.file("taken.meta.json");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(meta::writeSidecar(folder, sample()).empty());
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("")))
        ++entries;
    EXPECT_EQ(entries, 2);  // the first sidecar and the folder
}

TEST(Digest, KnownValuesAndStreaming)
{
    EXPECT_EQ(digest::hexDigest(digest::Algorithm::Sha256, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest::hexDigest(digest::Algorithm::Sha256, ""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest::hexDigest(digest::Algorithm::Sha512, "abc").substr(0, 32), "ddaf35a193617abacc417349ae204131");
    // Pieces of any size give the digest of the whole; hex() starts over.
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += char('a' + i % 26);
    digest::Hasher h(digest::Algorithm::Sha256);
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 3 % 1000 + 1)
        h.add(text.data() + at, std::min(step, text.size() - at));
    EXPECT_EQ(h.hex(), digest::hexDigest(digest::Algorithm::Sha256, text));
    h.add("abc", 3);
    EXPECT_EQ(h.hex(), digest::hexDigest(digest::Algorithm::Sha256, "abc"));
}

TEST(Digest, ConcurrentHasherGivesTheSameDigestWhateverThePace)
{
    // More than the hasher lets wait at once, in pieces of many sizes, twice over.
    std::string text(size_t(20) << 20, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char((i * 2654435761u) >> 13);
    const std::string expected = digest::hexDigest(digest::Algorithm::Sha256, text);
    digest::ConcurrentHasher h(digest::Algorithm::Sha256);
    for (int round = 0; round < 2; ++round) {
        for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 7 % 3000000 + 1)
            h.add(text.data() + at, std::min(step, text.size() - at));
        EXPECT_EQ(h.hex(), expected) << "round " << round;
    }
    EXPECT_EQ(h.hex(), digest::hexDigest(digest::Algorithm::Sha256, ""));
}

TEST(RecordingMetadata, ChannelCodesOfLongOddRunsMatchAPlainCount)
{
    // Beyond one round of the 16-bit counters, and an odd number of groups.
    const int64_t groups = 3 * 65536 + 1;
    std::vector<uint16_t> samples(size_t(4 * groups));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = uint16_t(i % 7 == 0 ? 4095 : i % 44 == 0 ? 0 : 100 + (i * 31) % 3000);  // zeros on channel 1 only
    samples[4 * (groups - 1) + 1] = 7;  // the last, odd group holds channel 2's lowest
    std::array<std::optional<meta::ChannelCodes>, 3> codes;
    meta::addChannelCodes(samples.data(), groups, codes);
    for (int c = 0; c < 3; ++c) {
        int32_t low = 65535, high = 0;
        int64_t clipped = 0;
        for (int64_t g = 0; g < groups; ++g) {
            const uint16_t v = samples[size_t(4 * g + c)];
            low = std::min<int32_t>(low, v);
            high = std::max<int32_t>(high, v);
            clipped += v == 0 || v == 4095;
        }
        ASSERT_TRUE(codes[c]);
        EXPECT_EQ(codes[c]->lowest, low) << c;
        EXPECT_EQ(codes[c]->highest, high) << c;
        EXPECT_EQ(codes[c]->clipped, clipped) << c;
    }
    EXPECT_EQ(codes[1]->lowest, 7);
}
