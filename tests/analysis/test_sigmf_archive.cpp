// The SigMF archive writer through its library: a member written straight into the
// archive behind a header of the most it could hold, scratch-file and text members,
// and the folder entry written by the writer itself where no member goes straight in;
// read back by libarchive, with nothing else left in the folder.

#include "digest.h"
#include "output_file.h"
#include "sigmf_archive.h"
#include "sigmf_info.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::string pattern(size_t length, int seed)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = char((i * 7 + size_t(seed)) & 0xff);
    return bytes;
}

std::string sha512(const std::string& bytes) { return digest::hexDigest(digest::Algorithm::Sha512, bytes); }

}  // namespace

TEST(SigmfArchive, MembersStraightInFromScratchAndFromMemory)
{
    struct Row {
        uint64_t most;    // the direct member's header size; 0: no direct member
        size_t written;   // bytes the direct member came to
    };
    const Row rows[] = {{0, 0}, {100000, 100000}, {100000, 99999}, {100000, 512}, {100000, 0}};
    for (const Row& row : rows) {
        TempDir dir;
        const std::string path = dir.file("a.sigmf");
        const std::string first = pattern(row.written, 1), second = pattern(70001, 2), text = "{\"global\": {}}\n";
        {
            OutputFile out(path);
            std::vector<cli::ArchiveMember> members;
            if (row.most > 0) {
                const auto direct = cli::startSigmfArchive(out, "a", "a/first.sigmf-data", row.most);
                ASSERT_TRUE(direct);
                out.write(first);
                cli::finishDirectMember(out, *direct, first.size());
            } else {
                members.push_back({"a/", nullptr, 0, nullptr, true});
            }
            cli::ScratchFile scratch(path);
            scratch.write(second.data(), second.size());
            members.push_back({"a/second.sigmf-data", nullptr, 0, &scratch});
            members.push_back({"a/second.sigmf-meta", text.data(), text.size(), nullptr});
            cli::writeSigmfArchive(out, members);
            out.commit();
        }
        std::string error;
        const auto entries = cli::readArchiveFile(path, &error);
        ASSERT_TRUE(entries) << error;
        std::vector<std::pair<std::string, std::string>> expected;
        if (row.most > 0)
            expected.emplace_back("a/first.sigmf-data", first);
        expected.emplace_back("a/second.sigmf-data", second);
        expected.emplace_back("a/second.sigmf-meta", text);
        ASSERT_EQ(entries->size(), expected.size()) << row.most << " " << row.written;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ((*entries)[i].path, expected[i].first);
            EXPECT_EQ((*entries)[i].size, expected[i].second.size()) << expected[i].first;
            EXPECT_EQ((*entries)[i].sha512, sha512(expected[i].second)) << expected[i].first;
        }
        EXPECT_EQ((*entries)[2 - (row.most == 0)].text, text);
        EXPECT_EQ(std::filesystem::file_size(path) % 512, 0u);
        size_t files = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.file("")))
            ++files;
        EXPECT_EQ(files, 1u) << "the scratch file is gone";
    }

    // Beyond what a ustar header holds (8 GiB) nothing goes straight in.
    TempDir dir;
    OutputFile out(dir.file("big.sigmf"));
    EXPECT_FALSE(cli::startSigmfArchive(out, "big", "big/x.sigmf-data", uint64_t(1) << 33));
    EXPECT_TRUE(cli::startSigmfArchive(out, "big", "big/x.sigmf-data", (uint64_t(1) << 33) - 1));
}

// A member's header whose checksum does not hold is a damaged archive, named with where
// it lies: the reader's way past it would drop that member and report the rest sound.
TEST(SigmfArchive, ADamagedHeaderIsAFaultOfTheArchive)
{
    TempDir dir;
    const std::string path = dir.file("a.sigmf");
    const std::string one = pattern(1000, 1), two = pattern(600, 2), text = "{\"global\": {}}\n";
    {
        OutputFile out(path);
        cli::writeSigmfArchive(out, {{"a/", nullptr, 0, nullptr, true},
                                     {"a/one.sigmf-data", one.data(), one.size(), nullptr},
                                     {"a/two.sigmf-data", two.data(), two.size(), nullptr},
                                     {"a/two.sigmf-meta", text.data(), text.size(), nullptr}});
        out.commit();
    }
    const std::string archive = readBytes(path);
    const struct Case {
        const char* member;  // whose header is damaged; empty: none
        size_t offset;       // the byte changed, from the member's name
    } cases[] = {{"", 0}, {"a/one.sigmf-data", 3}, {"a/two.sigmf-data", 0}, {"a/two.sigmf-meta", 130}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        std::string bytes = archive;
        size_t header = 0;
        if (*c.member) {
            header = bytes.find(c.member);
            ASSERT_NE(header, std::string::npos);
            ASSERT_EQ(header % 512, 0u);
            bytes[header + c.offset] ^= 0x20;
        }
        writeBytes(path, bytes);
        std::string error;
        const auto entries = cli::readArchiveFile(path, &error);
        if (!*c.member) {
            ASSERT_TRUE(entries) << error;
            EXPECT_EQ(entries->size(), 3u);
        } else {
            EXPECT_FALSE(entries);
            EXPECT_EQ(error, "a member's header at byte " + std::to_string(header) +
                                 " is damaged: Damaged tar archive");
        }
        const auto inMemory = cli::readArchiveMemory(bytes.data(), bytes.size(), &error);
        EXPECT_EQ(inMemory.has_value(), !*c.member) << error;
    }
}

TEST(SigmfArchive, PlacedMembersWrittenSideBySideComeOutAsOneAfterAnother)
{
    struct Row {
        uint64_t most;   // the room each member's header promises
        size_t written;  // bytes each member came to
        size_t members;
    };
    const Row rows[] = {{100000, 100000, 3}, {100000, 99999, 3}, {100000, 1, 2}, {100000, 0, 3}, {1024, 1024, 1},
                        {5000, 4608, 3}};
    for (const Row& row : rows) {
        const std::string label = std::to_string(row.most) + " " + std::to_string(row.written);
        TempDir dir;
        const std::string path = dir.file("a.sigmf");
        std::vector<std::string> paths, data;
        for (size_t k = 0; k < row.members; ++k) {
            paths.push_back("a/m" + std::to_string(k) + ".sigmf-data");
            data.push_back(pattern(row.written, int(k) + 1));
        }
        const std::string text = "{\"global\": {}}\n";
        {
            OutputFile out(path);
            const auto placed = cli::startPlacedMembers(out, "a", paths, row.most);
            ASSERT_TRUE(placed);
            ASSERT_EQ(placed->members.size(), row.members);
            // The members' bytes in pieces, in turn, as the conversion writes them.
            for (size_t done = 0; done < row.written; done += 777)
                for (size_t k = 0; k < row.members; ++k) {
                    const size_t length = std::min<size_t>(777, row.written - done);
                    out.writeAt(placed->members[k].dataAt + done, data[k].data() + done, length);
                }
            cli::finishPlacedMembers(out, *placed, row.written);
            cli::writeSigmfArchive(out, {{"a/a.sigmf-meta", text.data(), text.size(), nullptr}});
            out.commit();
        }
        std::string error;
        const auto entries = cli::readArchiveFile(path, &error);
        ASSERT_TRUE(entries) << error;
        ASSERT_EQ(entries->size(), row.members + 1) << label;
        for (size_t k = 0; k < row.members; ++k) {
            EXPECT_EQ((*entries)[k].path, paths[k]) << label;
            EXPECT_EQ((*entries)[k].size, row.written) << label;
            EXPECT_EQ((*entries)[k].sha512, sha512(data[k])) << label << " member " << k;
        }
        EXPECT_EQ((*entries)[row.members].text, text) << label;
        // Nothing left between or after the members: the folder, each header and its data
        // in whole blocks, the text member, then the two zero blocks that end an archive.
        const uint64_t blocks = 1 + row.members * (1 + (row.written + 511) / 512) + 2;
        const std::string bytes = readBytes(path);
        EXPECT_EQ(bytes.size(), blocks * 512 + 1024) << label;
        EXPECT_EQ(bytes.find_first_not_of('\0', blocks * 512), std::string::npos) << label;
        const size_t room = (row.written + 511) / 512 * 512;
        for (size_t k = 0; k < row.members; ++k) {
            const size_t dataAt = 512 + k * (512 + room) + 512;
            EXPECT_EQ(bytes.substr(dataAt, row.written), data[k]) << label << " member " << k;
            EXPECT_EQ(bytes.substr(dataAt + row.written, room - row.written), std::string(room - row.written, '\0'))
                << label << ": member " << k << " padded with zeros";
        }
    }
    // Beyond what a ustar header holds, or into a stream, nothing is placed.
    TempDir dir;
    OutputFile out(dir.file("big.sigmf"));
    EXPECT_FALSE(cli::startPlacedMembers(out, "big", {"big/x.sigmf-data"}, uint64_t(1) << 33));
    OutputFile stream("/dev/null");
    EXPECT_FALSE(cli::startPlacedMembers(stream, "s", {"s/x.sigmf-data"}, 100));
}

namespace {

// The metadata of a recording of 2 channels of rf32_le whose data is `data`, with the
// global fields `extra` put in (or over the ones there).
std::string metadata(const std::string& data, const std::string& extra)
{
    return R"({"global": {"core:datatype": "rf32_le", "core:version": "1.2.0", "core:num_channels": 2,
               "sounder:sweeps_written": 3, "sounder:sweeps_missing": 1, "core:sha512": ")" +
           sha512(data) + "\"" + (extra.empty() ? "" : ", " + extra) + R"(}, "captures": [], "annotations": []})";
}

bool holds(const std::vector<std::string>& lines, const std::string& text)
{
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

}  // namespace

// A metadata field of the wrong kind or out of range is a fault, named, where it was
// read as its default and the recording reported sound.
TEST(SigmfInfo, GlobalFieldsOfTheWrongKindAreFaults)
{
    const std::string data = pattern(48, 3);  // 6 samples of 2 float channels
    struct Case {
        const char* extra;
        const char* fault;  // empty: none
        const char* line;   // a line the report holds
    } cases[] = {
        {"", "", "6 samples"},
        {R"("core:num_channels": 1)", "", "12 samples"},
        {R"("core:num_channels": "2")", "core:num_channels is not a whole number", "SigMF recording"},
        {R"("core:num_channels": 0)", "core:num_channels is not a whole number", "SigMF recording"},
        {R"("core:num_channels": -2)", "core:num_channels is not a whole number", "SigMF recording"},
        {R"("core:num_channels": 2.5)", "core:num_channels is not a whole number", "SigMF recording"},
        {R"("core:num_channels": 4611686018427387904)", "core:num_channels is not a whole number", "SigMF recording"},
        {R"("core:datatype": "cf128_le")", "core:datatype \"cf128_le\" is not a SigMF datatype", "SigMF recording"},
        {R"("core:datatype": "ri16")", "is not a SigMF datatype", "SigMF recording"},
        {R"("core:sha512": 5)", "core:sha512 is not a text", "SigMF recording"},
        {R"("core:sha512": "00")", "sha512 differs", "DOES NOT MATCH"},
        {R"("sounder:sweeps_written": 9223372036854775807, "sounder:sweeps_missing": 9223372036854775807)",
         "sounder:sweeps_written and sounder:sweeps_missing are not whole numbers", "SigMF recording"},
        {R"("sounder:sweeps_written": -5)", "are not whole numbers", "SigMF recording"},
        {R"("sounder:sweeps_missing": "1")", "are not whole numbers", "SigMF recording"},
        {R"("sounder:sweeps_written": 2147483647, "sounder:sweeps_missing": 2147483647)", "",
         "2147483647 of 4294967294 present"},
        {R"("core:sample_rate": 2.5e6)", "", "6 samples, 2500000 samples/s"},
        {R"("core:sample_rate": "2.5e6")", "core:sample_rate is not a positive number", "6 samples"},
        {R"("core:sample_rate": -5)", "core:sample_rate is not a positive number", "6 samples"},
        {R"("core:sample_rate": 0)", "core:sample_rate is not a positive number", "6 samples"},
        {R"("core:sample_rate": null)", "core:sample_rate is not a positive number", "6 samples"},
        {R"("sounder:channels": [3, 1])", "", "2 channels (ch 3, ch 1), 6 samples"},
        {R"("sounder:channels": ["a", 2])", "sounder:channels is not a list of distinct receiver channels",
         "2 channels, 6 samples"},
        {R"("sounder:channels": [1.5, 2])", "sounder:channels is not a list", "2 channels, 6 samples"},
        {R"("sounder:channels": [0, 4])", "sounder:channels is not a list", "2 channels, 6 samples"},
        {R"("sounder:channels": [2, 2])", "sounder:channels is not a list", "2 channels, 6 samples"},
        {R"("sounder:channels": [1, 2, 3])", "sounder:channels is not a list", "2 channels, 6 samples"},
        {R"("sounder:channels": [])", "sounder:channels is not a list", "2 channels, 6 samples"},
        {R"("sounder:channels": 1)", "sounder:channels is not a list", "2 channels, 6 samples"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra);
        cli::SigmfReport report;
        cli::reportRecording("rec", metadata(data, c.extra), cli::DataFacts{data.size(), sha512(data)}, report);
        if (*c.fault == '\0') {
            EXPECT_TRUE(report.faults.empty()) << report.faults.front();
        } else {
            ASSERT_EQ(report.faults.size(), 1u);
            EXPECT_NE(report.faults.front().find(c.fault), std::string::npos) << report.faults.front();
        }
        EXPECT_TRUE(holds(report.lines, c.line));
    }
    // A capture's time that is not a text is named too, whichever segment holds it.
    const std::pair<const char*, const char*> captures[] = {
        {R"([{"core:sample_start": 0, "core:datetime": "2026-12-08T09:00:00Z"}])", ""},
        {R"([{"core:sample_start": 0}])", ""},
        {R"([{"core:sample_start": 0, "core:datetime": 1765184400}])", "capture 1: core:datetime is not a text"},
        {R"([{"core:sample_start": 0}, {"core:sample_start": 3, "core:datetime": null}])",
         "capture 2: core:datetime is not a text"},
    };
    for (const auto& [list, fault] : captures) {
        SCOPED_TRACE(list);
        std::string text = metadata(data, "");
        const std::string none = R"("captures": [])";
        text.replace(text.find(none), none.size(), std::string("\"captures\": ") + list);
        cli::SigmfReport report;
        cli::reportRecording("rec", text, cli::DataFacts{data.size(), sha512(data)}, report);
        if (*fault == '\0') {
            EXPECT_TRUE(report.faults.empty()) << report.faults.front();
        } else {
            ASSERT_EQ(report.faults.size(), 1u);
            EXPECT_NE(report.faults.front().find(fault), std::string::npos) << report.faults.front();
        }
    }
}

// The collection of an archive checked against the metadata files in it: each stream
// names a recording in the collection's folder by a metadata file of the SHA-512 given
// (in either case of hexadecimal digits); anything else is a fault that says what.
TEST(SigmfInfo, CollectionStreamsAgainstTheMembers)
{
    const std::string data = pattern(48, 5);
    const std::string meta = metadata(data, "");
    const std::string hash = sha512(meta);
    std::string upper = hash;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    const auto collection = [](const std::string& streams) {
        return R"({"collection": {"core:version": "1.2.0")" + (streams.empty() ? "" : ", " + streams) + "}}";
    };
    struct Case {
        std::string streams;
        bool withMeta;
        const char* fault;  // empty: none
    } cases[] = {
        {R"("core:streams": [{"name": "r", "hash": ")" + hash + "\"}]", true, ""},
        {R"("core:streams": [{"name": "r", "hash": ")" + upper + "\"}]", true, ""},
        {R"("core:streams": [{"name": "r", "hash": ")" + hash + "\"}]", false, "r.sigmf-meta: not in the archive"},
        {R"("core:streams": [{"name": "r", "hash": "ab"}])", true, "r.sigmf-meta is not the file it names"},
        {R"("core:streams": [{"name": "../c/r", "hash": ")" + hash + "\"}]", true,
         "stream \"../c/r\" is not the name of a recording beside the collection"},
        {R"("core:streams": [{"name": "/c/r", "hash": ")" + hash + "\"}]", true, "is not the name of a recording"},
        {R"("core:streams": [{"name": "..", "hash": ")" + hash + "\"}]", true, "is not the name of a recording"},
        {R"("core:streams": [{"name": "r\u0000", "hash": ")" + hash + "\"}]", true, "is not the name of a recording"},
        // The Recording Tuple of SigMF 1.0, ["name", "hash"], still a stream in 1.2; nothing else in it.
        {R"("core:streams": [["r", ")" + hash + "\"]]", true, ""},
        {R"("core:streams": [["r", ")" + hash + "\"]]", false, "r.sigmf-meta: not in the archive"},
        {R"("core:streams": [["r", "ab"]])", true, "r.sigmf-meta is not the file it names"},
        {R"("core:streams": [["r"]])", true, "a stream without name and hash"},
        {R"("core:streams": [["r", ")" + hash + R"(", "x"]])", true, "a stream without name and hash"},
        {R"("core:streams": [[1, ")" + hash + "\"]]", true, "a stream without name and hash"},
        {"", true, "not a SigMF collection (no collection object with core:version and core:streams)"},
        {R"("core:streams": {"name": "r"})", true, "not a SigMF collection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.streams);
        std::vector<cli::ArchiveEntry> entries = {{"c/r.sigmf-data", data.size(), sha512(data), std::nullopt}};
        if (c.withMeta)
            entries.push_back({"c/r.sigmf-meta", meta.size(), hash, meta});
        const std::string text = collection(c.streams);
        entries.push_back({"c/c.sigmf-collection", text.size(), sha512(text), text});
        const cli::SigmfReport report = cli::reportArchive("a.sigmf", entries);
        std::vector<std::string> collectionFaults;
        for (const std::string& fault : report.faults)
            if (fault.find("c.sigmf-collection") != std::string::npos)
                collectionFaults.push_back(fault);
        if (*c.fault == '\0') {
            EXPECT_TRUE(report.faults.empty()) << report.faults.front();
        } else {
            ASSERT_EQ(collectionFaults.size(), 1u);
            EXPECT_NE(collectionFaults.front().find(c.fault), std::string::npos) << collectionFaults.front();
        }
    }
}

// Beside the files likewise: a stream's name is a file's name up to its end, never up to
// a NUL within it (which would name the file r for "r\u0000").
TEST(SigmfInfo, CollectionStreamNamesBesideTheCollectionNameTheirFiles)
{
    const std::string data = pattern(48, 6);
    const std::string meta = metadata(data, "");
    const struct Case {
        std::string name;
        const char* fault;  // empty: sound
    } cases[] = {{"r", ""}, {"r\\u0000", "stream \"r\\x00\" is not the name of a recording beside the collection"}};
    for (const auto& [name, fault] : cases) {
        SCOPED_TRACE(name);
        TempDir dir;
        for (const char* file : {"r.sigmf-meta", "r"})  // r: a copy of the metadata under the name cut at the NUL
            writeBytes(dir.file(file), meta);
        writeBytes(dir.file("r.sigmf-data"), data);
        writeBytes(dir.file("c.sigmf-collection"), R"({"collection": {"core:version": "1.2.0", "core:streams": [)"
                                                   R"({"name": ")" + name + R"(", "hash": ")" + sha512(meta) +
                                                       "\"}]}}");
        testing::internal::CaptureStderr();
        const bool sound = cli::infoSigmf(dir.file("c.sigmf-collection"));
        const std::string faults = testing::internal::GetCapturedStderr();
        EXPECT_EQ(sound, *fault == '\0') << faults;
        if (*fault) {
            EXPECT_NE(faults.find(fault), std::string::npos) << faults;
        }
    }
}

// A collection's recordings each in a folder of its own name beside it (an archive so
// made, extracted) are its streams where there is none of that name beside it; one
// beside it comes first.
TEST(SigmfInfo, CollectionStreamsInFoldersOfTheirOwnName)
{
    const std::string data = pattern(48, 8);
    const std::string meta = metadata(data, R"("core:collection": "c")");
    const struct Case {
        std::vector<const char*> recordings;  // the bases of the recordings written
        const char* stream;                    // a Recording Object or Tuple
        const char* fault;                     // empty: sound
    } cases[] = {
        {{"r/r"}, R"({"name": "r", "hash": "H"})", ""},
        {{"r/r"}, R"(["r", "H"])", ""},
        {{"r", "r/r"}, R"({"name": "r", "hash": "H"})", ""},
        {{"x/r"}, R"({"name": "r", "hash": "H"})", "c.sigmf-collection: r.sigmf-meta: File not found"},
        {{"r/r/r"}, R"({"name": "r", "hash": "H"})", "c.sigmf-collection: r.sigmf-meta: File not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.recordings.back());
        TempDir dir;
        for (const char* base : c.recordings) {
            std::filesystem::create_directories(std::filesystem::path(dir.file(base)).parent_path());
            writeBytes(dir.file(std::string(base) + ".sigmf-meta"), meta);
            writeBytes(dir.file(std::string(base) + ".sigmf-data"), data);
        }
        std::string stream = c.stream;
        stream.replace(stream.find('H'), 1, sha512(meta));
        writeBytes(dir.file("c.sigmf-collection"),
                   R"({"collection": {"core:version": "1.2.0", "core:streams": [)" + stream + "]}}");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool sound = cli::infoSigmf(dir.file("c.sigmf-collection"));
        const std::string lines = testing::internal::GetCapturedStdout();
        const std::string faults = testing::internal::GetCapturedStderr();
        EXPECT_EQ(sound, *c.fault == '\0') << faults;
        EXPECT_NE(faults.find(c.fault), std::string::npos) << faults;
        if (sound) {
            EXPECT_NE(lines.find("data: 48 bytes, SHA-512 matches"), std::string::npos) << lines;
            // The recording beside the collection where there is one.
            EXPECT_NE(lines.find(dir.file(c.recordings.front()) + ": SigMF recording"), std::string::npos) << lines;
        }
    }
}

// A member that tar stored sparse (tar --sparse, as for a recording of silence in
// ri16_le, all zeros) is read as the file it stands for: its holes, within it and at
// its end, are zeros of its size and its SHA-512, as extracting it would give.
TEST(SigmfArchive, SparseMembersAreReadWithTheirHoles)
{
    TempDir dir;
    if (std::system("tar --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no tar here to make a sparse archive";
    std::filesystem::create_directory(dir.file("r"));
    struct Piece {
        uint64_t at;
        std::string bytes;
    };
    const std::pair<const char*, std::vector<Piece>> files[] = {
        {"r/zeros.sigmf-data", {}},                                                   // all one hole
        {"r/middle.sigmf-data", {{0, pattern(5000, 1)}, {3 << 20, pattern(7000, 2)}}},  // a hole between
        {"r/end.sigmf-data", {{4096, pattern(100, 3)}}},                              // holes before and after
    };
    const uint64_t length = uint64_t(5) << 20;
    std::map<std::string, std::string> whole;
    for (const auto& [name, pieces] : files) {
        std::string bytes(length, '\0');
        const int fd = ::open(dir.file(name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        for (const Piece& p : pieces) {
            ASSERT_EQ(::pwrite(fd, p.bytes.data(), p.bytes.size(), off_t(p.at)), ssize_t(p.bytes.size()));
            bytes.replace(p.at, p.bytes.size(), p.bytes);
        }
        ASSERT_EQ(::ftruncate(fd, off_t(length)), 0);
        ::close(fd);
        whole[std::string(name)] = bytes;
    }
    ASSERT_EQ(std::system(("cd '" + dir.file("") + "' && tar --sparse --hole-detection=raw -cf s.sigmf r").c_str()), 0);
    ASSERT_LT(std::filesystem::file_size(dir.file("s.sigmf")), length) << "tar did not store the files sparse";
    std::string error;
    const auto entries = cli::readArchiveFile(dir.file("s.sigmf"), &error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), std::size(files));
    for (const cli::ArchiveEntry& e : *entries) {
        SCOPED_TRACE(e.path);
        ASSERT_TRUE(whole.count(e.path));
        EXPECT_EQ(e.size, length);
        EXPECT_EQ(e.sha512, sha512(whole[e.path]));
    }
}

// A file of two names in the folder an archive is made from is stored by tar once, for
// its first name, and the second is a link to it: that member is the file too, as
// extracting the archive gives it.
TEST(SigmfArchive, HardLinkedMembersAreTheFileTheyLinkTo)
{
    TempDir dir;
    if (std::system("tar --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no tar here to make an archive with a hard link";
    std::filesystem::create_directory(dir.file("r"));
    const std::string data = pattern(48, 9);
    const std::string meta = metadata(data, "");
    writeBytes(dir.file("r/a.sigmf-data"), data);
    writeBytes(dir.file("r/a.sigmf-meta"), meta);
    std::filesystem::create_hard_link(dir.file("r/a.sigmf-data"), dir.file("r/b.sigmf-data"));
    std::filesystem::create_hard_link(dir.file("r/a.sigmf-meta"), dir.file("r/b.sigmf-meta"));
    ASSERT_EQ(std::system(("cd '" + dir.file("") + "' && tar -cf h.sigmf r/a.sigmf-data r/a.sigmf-meta " +
                           "r/b.sigmf-data r/b.sigmf-meta r/b.sigmf-data")
                              .c_str()),
              0);
    std::string error;
    const auto entries = cli::readArchiveFile(dir.file("h.sigmf"), &error);
    ASSERT_TRUE(entries) << error;
    ASSERT_EQ(entries->size(), 5u);  // b.sigmf-data named twice: two members, as tar lists them
    for (const cli::ArchiveEntry& e : *entries) {
        SCOPED_TRACE(e.path);
        const bool isMeta = e.path.find("-meta") != std::string::npos;
        EXPECT_EQ(e.size, isMeta ? meta.size() : data.size());
        EXPECT_EQ(e.sha512, sha512(isMeta ? meta : data));
        EXPECT_EQ(e.text.has_value(), isMeta);
        if (isMeta) {
            EXPECT_EQ(*e.text, meta);
        }
    }
    const cli::SigmfReport report = cli::reportArchive("h.sigmf", *entries);
    EXPECT_TRUE(report.faults.empty()) << report.faults.front();
    EXPECT_TRUE(holds(report.lines, "r/b: SigMF recording"));
}

// The data of a Non-Conforming Dataset is the file its metadata names (core:dataset, a
// file beside it) where there is no BASE.sigmf-data, and its samples those between the
// captures' headers (core:header_bytes) and the trailer (core:trailing_bytes).
TEST(SigmfInfo, ANonConformingDatasetIsTheFileItsMetadataNames)
{
    const std::string file = std::string(44, 'h') + pattern(48, 11) + "tail";  // 6 samples of 2 rf32_le channels
    const auto ncd = [&](const std::string& extra, const char* header) {
        std::string text = metadata(file, extra);
        const std::string none = R"("captures": [])";
        text.replace(text.find(none), none.size(),
                     std::string(R"("captures": [{"core:sample_start": 0, "core:header_bytes": )") + header + "}]");
        return text;
    };
    const std::string named = R"("core:dataset": "r.wav", "core:trailing_bytes": 4)";
    const struct Case {
        std::string meta;
        std::vector<const char*> files;  // beside the metadata
        const char* fault;               // empty: sound
        const char* line;
    } cases[] = {
        {ncd(named, "44"), {"r.wav"}, "", "6 samples"},
        {ncd(R"("core:dataset": "r.wav")", "44"), {"r.wav"}, "r.wav: 52 bytes of samples, not whole samples of 8", ""},
        {ncd(named, "-1"), {"r.wav"}, "core:header_bytes and core:trailing_bytes are not whole numbers", ""},
        {ncd(named, "1000"), {"r.wav"}, "r.wav: 96 bytes, fewer than the 1004 of its headers and trailer", ""},
        {ncd(named, "44"), {}, "r.wav: File not found", ""},
        {ncd(R"("core:dataset": "../r.wav")", "44"), {"r.wav"}, "r.sigmf-data: File not found", ""},
        // A SigMF data file of the name comes first.
        {ncd(named, "44"), {"r.wav", "r.sigmf-data"}, "r.sigmf-data: the data is not the one", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.meta);
        TempDir dir;
        writeBytes(dir.file("r.sigmf-meta"), c.meta);
        for (const char* name : c.files)
            writeBytes(dir.file(name), std::string(name) == "r.wav" ? file : "other bytes");
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool sound = cli::infoSigmf(dir.file("r.sigmf-meta"));
        const std::string lines = testing::internal::GetCapturedStdout();
        const std::string faults = testing::internal::GetCapturedStderr();
        EXPECT_EQ(sound, *c.fault == '\0') << faults;
        EXPECT_NE(faults.find(c.fault), std::string::npos) << faults;
        EXPECT_NE(lines.find(c.line), std::string::npos) << lines;
    }
    // In an archive, the member of that name in the metadata's folder.
    const std::string meta = ncd(named, "44");
    const cli::ArchiveEntry metaMember{"a/r.sigmf-meta", meta.size(), sha512(meta), meta};
    const cli::ArchiveEntry wav{"a/r.wav", file.size(), sha512(file), std::nullopt};
    const cli::ArchiveEntry elsewhere{"b/r.wav", file.size(), sha512(file), std::nullopt};
    EXPECT_EQ(cli::reportArchive("a.sigmf", {metaMember, wav}).faults, std::vector<std::string>{});
    EXPECT_TRUE(holds(cli::reportArchive("a.sigmf", {metaMember, wav}).lines, "6 samples"));
    EXPECT_EQ(cli::reportArchive("a.sigmf", {metaMember, elsewhere}).faults,
              std::vector<std::string>{"a.sigmf: a/r.wav: not in the archive"});
}

// An archive made of a folder's "." (tar -cf a.sigmf .) names every member "./x": each is
// read where extracting places it, so that a collection of the folder's top level finds
// the recordings in folders of their own names, and they their collection, as without
// the "./"; a link to a member names it so too.
TEST(SigmfArchive, MembersOfAnArchiveOfTheFolderDotAreWhereExtractingPlacesThem)
{
    TempDir dir;
    if (std::system("tar --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no tar here to make an archive of a folder";
    const std::string data = pattern(48, 10);
    const std::string meta = metadata(data, R"("core:collection": "c")");
    std::filesystem::create_directories(dir.file("in/r"));
    writeBytes(dir.file("in/r/r.sigmf-data"), data);
    writeBytes(dir.file("in/r/r.sigmf-meta"), meta);
    std::filesystem::create_directories(dir.file("in/s"));
    std::filesystem::create_hard_link(dir.file("in/r/r.sigmf-data"), dir.file("in/s/s.sigmf-data"));
    std::filesystem::create_hard_link(dir.file("in/r/r.sigmf-meta"), dir.file("in/s/s.sigmf-meta"));
    writeBytes(dir.file("in/c.sigmf-collection"), R"({"collection": {"core:version": "1.2.0", "core:streams": [)"
                                                  R"(["r", ")" + sha512(meta) + R"("], ["s", ")" + sha512(meta) +
                                                      "\"]]}}");
    ASSERT_EQ(std::system(("cd '" + dir.file("in") + "' && tar -cf ../d.sigmf ./c.sigmf-collection ./r .//s").c_str()),
              0);
    std::string error;
    const auto entries = cli::readArchiveFile(dir.file("d.sigmf"), &error);
    ASSERT_TRUE(entries) << error;
    std::vector<std::string> paths;
    for (const cli::ArchiveEntry& e : *entries)
        paths.push_back(e.path);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"c.sigmf-collection", "r/r.sigmf-data", "r/r.sigmf-meta",
                                               "s/s.sigmf-data", "s/s.sigmf-meta"}));
    for (const cli::ArchiveEntry& e : *entries)
        if (e.path.find("-data") != std::string::npos) {
            EXPECT_EQ(e.sha512, sha512(data)) << e.path;
        }
    const cli::SigmfReport report = cli::reportArchive("d.sigmf", *entries);
    EXPECT_TRUE(report.faults.empty()) << report.faults.front();
    EXPECT_TRUE(holds(report.lines, "stream s: metadata SHA-512 matches"));
}

// Each recording of an archive is its two members: one without the other is a fault
// (a file of another kind beside them is none).
TEST(SigmfInfo, ArchiveRecordingsNeedBothTheirMembers)
{
    const std::string data = pattern(48, 7);
    const std::string meta = metadata(data, "");
    const cli::ArchiveEntry dataMember{"a/r.sigmf-data", data.size(), sha512(data), std::nullopt};
    const cli::ArchiveEntry metaMember{"a/r.sigmf-meta", meta.size(), sha512(meta), meta};
    const cli::ArchiveEntry readme{"a/README", 5, sha512("hello"), std::nullopt};
    // A recording distributed as its metadata alone.
    const std::string alone = metadata(data, R"("core:metadata_only": true)");
    const cli::ArchiveEntry aloneMember{"a/r.sigmf-meta", alone.size(), sha512(alone), alone};
    const std::string notAlone = metadata(data, R"("core:metadata_only": "yes")");
    const cli::ArchiveEntry falseAlone{"a/r.sigmf-meta", notAlone.size(), sha512(notAlone), notAlone};
    const cli::ArchiveEntry badData{"a/r.sigmf-data", 8, sha512("abcdefgh"), std::nullopt};
    // A recording of the collection a, and that collection.
    const std::string ofCollection = metadata(data, R"("core:collection": "a")");
    const cli::ArchiveEntry collectionMeta{"a/r.sigmf-meta", ofCollection.size(), sha512(ofCollection), ofCollection};
    const std::string streams = R"({"collection": {"core:version": "1.2.0", "core:streams": [{"name": "r", "hash": ")" +
                                sha512(ofCollection) + "\"}]}}";
    const cli::ArchiveEntry collection{"a/a.sigmf-collection", streams.size(), sha512(streams), streams};
    const cli::ArchiveEntry elsewhere{"b/a.sigmf-collection", streams.size(), sha512(streams), streams};
    // The collection in the archive's top-level folder, each recording in a folder of its own name.
    const cli::ArchiveEntry topCollection{"a.sigmf-collection", streams.size(), sha512(streams), streams};
    const cli::ArchiveEntry ownData{"r/r.sigmf-data", data.size(), sha512(data), std::nullopt};
    const cli::ArchiveEntry ownMeta{"r/r.sigmf-meta", ofCollection.size(), sha512(ofCollection), ofCollection};
    struct Case {
        std::vector<cli::ArchiveEntry> entries;
        std::vector<std::string> faults;
    } cases[] = {
        {{dataMember, metaMember, readme}, {}},
        {{metaMember, dataMember}, {}},
        {{dataMember, collectionMeta, collection}, {}},
        {{dataMember, collectionMeta}, {"a.sigmf: a/r.sigmf-meta: names the collection a, which is not in the archive"}},
        {{dataMember, collectionMeta, elsewhere},
         {"a.sigmf: a/r.sigmf-meta: names the collection a, which is not in the archive",
          "a.sigmf: b/a.sigmf-collection: r.sigmf-meta: not in the archive"}},
        {{topCollection, ownData, ownMeta}, {}},
        {{ownData, ownMeta}, {"a.sigmf: r/r.sigmf-meta: names the collection a, which is not in the archive"}},
        {{topCollection, dataMember, collectionMeta},
         {"a.sigmf: a.sigmf-collection: r.sigmf-meta: not in the archive",
          "a.sigmf: a/r.sigmf-meta: names the collection a, which is not in the archive"}},
        {{elsewhere, ownData, ownMeta},
         {"a.sigmf: b/a.sigmf-collection: r.sigmf-meta: not in the archive",
          "a.sigmf: r/r.sigmf-meta: names the collection a, which is not in the archive"}},
        {{dataMember, readme},
         {"a.sigmf: a/r.sigmf-meta: not in the archive, which holds its data",
          "a.sigmf: no SigMF recording in the archive"}},
        {{metaMember}, {"a.sigmf: a/r.sigmf-data: not in the archive"}},
        {{aloneMember}, {}},
        {{aloneMember, dataMember}, {}},
        {{aloneMember, badData}, {"a.sigmf: a/r.sigmf-data: the data is not the one its metadata describes (sha512 "
                                  "differs)"}},
        {{falseAlone}, {"a.sigmf: a/r.sigmf-data: not in the archive"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entries.size());
        const cli::SigmfReport report = cli::reportArchive("a.sigmf", c.entries);
        EXPECT_EQ(report.faults, c.faults);
        EXPECT_EQ(holds(report.lines, "data: none, the metadata distributed alone"),
                  c.entries.size() == 1 && c.entries[0].path == aloneMember.path && c.entries[0].text == alone);
    }

    // Beside its metadata file likewise: no data file is looked for, one there is checked.
    const struct Beside {
        std::string meta;
        const char* data;  // nullptr: none
        bool sound;
    } besides[] = {
        {alone, nullptr, true},
        {alone, "x", false},
        {metadata(data, R"("core:metadata_only": false)"), nullptr, false},
        {meta, nullptr, false},
    };
    for (const Beside& b : besides) {
        SCOPED_TRACE(b.meta.substr(b.meta.size() - 80));
        TempDir dir;
        writeBytes(dir.file("r.sigmf-meta"), b.meta);
        if (b.data)
            writeBytes(dir.file("r.sigmf-data"), b.data);
        EXPECT_EQ(cli::infoSigmf(dir.file("r.sigmf-meta")), b.sound);
    }
}
