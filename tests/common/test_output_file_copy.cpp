// OutputFile::copyFrom: bytes of another file appended between ordinary writes, from
// the same file system (copied in the kernel) and from another (through a buffer), and
// a source that cannot be read is an I/O failure with nothing under the final name.

#include "output_file.h"
#include "runtime_error.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

std::string pattern(size_t length)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = char((i * 131 + i / 4099) & 0xff);
    return bytes;
}

}  // namespace

TEST(OutputFileCopy, AppendsTheBytesOfAnotherFile)
{
    TempDir dir;
    const std::string source = pattern(3'000'000);
    struct Row {
        std::string sourceFolder;
        uint64_t offset;
        uint64_t length;
    };
    std::vector<Row> rows = {{dir.file(""), 0, 0}, {dir.file(""), 1000, 1}, {dir.file(""), 1000, 2'500'000},
                             {dir.file(""), 0, 3'000'000}};
    if (std::filesystem::is_directory("/dev/shm"))  // another file system: through the buffer
        rows.push_back({"/dev/shm/", 17, 2'999'983});
    for (const Row& row : rows) {
        const std::string sourcePath = row.sourceFolder + "copy-source-" + std::to_string(::getpid());
        writeBytes(sourcePath, source);
        const int fd = ::open(sourcePath.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        {
            OutputFile out(dir.file("out.bin"));
            out.write("head");
            out.copyFrom(fd, row.offset, row.length);
            out.write("tail");
            out.commit();
        }
        ::close(fd);
        std::filesystem::remove(sourcePath);
        EXPECT_EQ(readBytes(dir.file("out.bin")), "head" + source.substr(row.offset, row.length) + "tail")
            << row.sourceFolder << " " << row.offset << " " << row.length;
    }

    // A source open for writing only cannot be read from.
    const int writeOnly = ::open(dir.file("w.bin").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(writeOnly, 0);
    ASSERT_EQ(::write(writeOnly, "abcdef", 6), 6);
    {
        OutputFile out(dir.file("bad.bin"));
        EXPECT_THROW(out.copyFrom(writeOnly, 0, 6), rt::InOutError);
    }
    ::close(writeOnly);
    EXPECT_FALSE(std::filesystem::exists(dir.file("bad.bin")));
}
