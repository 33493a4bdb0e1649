#pragma once
// SigMF archives, BASE.sigmf: a POSIX tar (pax, read as ustar where it fits) holding a
// folder BASE with the recordings and their collection. Written and read with libarchive.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class OutputFile;

namespace cli {

// Where a conversion's data bytes go.
class DataSink {
public:
    virtual ~DataSink() = default;
    virtual void write(const char* data, size_t length) = 0;
    // Every byte written handed on (a sink that gathers them).
    virtual void finish() {}
};

// A file without a name in the folder of `beside` (made and unlinked at once, so it
// never outlives the program), written and then read back whole. Failures throw
// rt::InOutError.
class ScratchFile : public DataSink {
public:
    explicit ScratchFile(const std::string& beside);
    ~ScratchFile() override;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    void write(const char* data, size_t length) override;
    uint64_t size() const { return size_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

// A member of an archive: `length` bytes at `bytes`, or the whole of `file`, or a folder.
struct ArchiveMember {
    std::string path;
    const char* bytes = nullptr;
    size_t length = 0;
    ScratchFile* file = nullptr;
    bool folder = false;
};

// The start of an archive in `out`: the folder entry `folder/` and the header of a
// member `path` of at most `mostBytes`, whose bytes the caller then writes to `out`
// itself as they are made. Absent (nothing written) when that many bytes would not fit a
// ustar header (8 GiB); the member then goes through a ScratchFile.
struct DirectMember {
    std::string path;
    uint64_t headerAt = 0;
    std::string header;
    uint64_t mostBytes = 0;
    long mtime = 0;
};
std::optional<DirectMember> startSigmfArchive(OutputFile& out, const std::string& folder, const std::string& path,
                                              uint64_t mostBytes);
// Ends that member once `bytes` have been written: its header rewritten in place with
// the size they came to, the member padded to whole tar blocks.
void finishDirectMember(OutputFile& out, const DirectMember& member, uint64_t bytes);

// Several data members straight into an archive that is a regular file, all made at
// once (one recording per channel): the folder entry `folder/`, then for each path the
// header of a member of at most `mostBytes` and room for that many bytes behind it. The
// bytes of each member are written at its dataAt onwards by OutputFile::writeAt as they
// are made. Absent (nothing written) when that many bytes would not fit a ustar header,
// or the archive is not a regular file; the members then go through ScratchFiles.
struct PlacedMember {
    std::string path;
    uint64_t headerAt = 0;
    std::string header;
    uint64_t dataAt = 0;
};
struct PlacedMembers {
    std::vector<PlacedMember> members;
    uint64_t mostBytes = 0;
    long mtime = 0;
};
std::optional<PlacedMembers> startPlacedMembers(OutputFile& out, const std::string& folder,
                                                const std::vector<std::string>& paths, uint64_t mostBytes);
// Ends those members once each holds `bytes`: where that is less than the room left,
// the headers are rewritten with the size they came to and the members moved up behind
// one another; each padded to whole tar blocks, the archive then goes on after the last.
void finishPlacedMembers(OutputFile& out, const PlacedMembers& placed, uint64_t bytes);

// The members after it, in order, and the end of the archive. Failures of `out` throw
// rt::InOutError; others Failure.
void writeSigmfArchive(OutputFile& out, const std::vector<ArchiveMember>& members);

// A regular member of an archive as read: its path, size, SHA-512 and, for the SigMF
// metadata and collection files (.sigmf-meta, .sigmf-collection, at most 64 MiB), its text.
struct ArchiveEntry {
    std::string path;
    uint64_t size = 0;
    std::string sha512;
    std::optional<std::string> text;
};

// Every regular member of the tar archive at `path`, or of `size` bytes at `data`;
// nullopt with `error` saying why when it is not a tar archive or cannot be read.
std::optional<std::vector<ArchiveEntry>> readArchiveFile(const std::string& path, std::string* error);
std::optional<std::vector<ArchiveEntry>> readArchiveMemory(const void* data, size_t size, std::string* error);

}  // namespace cli
