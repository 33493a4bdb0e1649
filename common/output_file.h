#pragma once
// An output file that appears under its final name only when it is whole: bytes go
// to a temporary file beside it, renamed over the final name by commit(). Until then,
// and after any failure, the final name is untouched and the temporary file is removed.
// Failures throw rt::InOutError with the code of the failed system call.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class OutputFile {
public:
    explicit OutputFile(std::string finalPath);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const char* data, size_t length);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Appends `length` bytes of the open file `fd` from `offset`, copied in the kernel
    // (a reflink where the file system shares blocks) rather than through memory.
    void copyFrom(int fd, uint64_t offset, uint64_t length);
    // Replaces bytes already written at offset (same length), e.g. a count known only at the end.
    void overwrite(uint64_t offset, std::string_view text);
    void commit();
    const std::string& path() const { return finalPath_; }

private:
    void flush();
    void startWriteBack();
    std::string finalPath_;
    std::string tempPath_;
    int fd_ = -1;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    uint64_t written_ = 0;        // bytes handed to the file
    uint64_t writeBackFrom_ = 0;  // where the disk has not yet been asked to start
};
