#include "sigmf_archive.h"

#include "cli_support.h"
#include "digest.h"
#include "output_file.h"
#include "runtime_error.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace cli {

namespace {

[[noreturn]] void failErrno(int err) { throw rt::InOutError(rt::ioCodeFromErrno(err)); }

bool endsWith(const std::string& text, const char* suffix)
{
    const std::string s(suffix);
    return text.size() >= s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0;
}

using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;
using EntryPtr = std::unique_ptr<struct archive_entry, void (*)(struct archive_entry*)>;

// What stands for a member's data in the calls that tell libarchive of it, once the
// bytes themselves have been copied into the output by the kernel.
const char Placeholder[1 << 16] = {};

// The output of the archive writer: each piece straight into the output file; its
// failure is kept to be thrown once libarchive has returned. Pieces of the placeholder
// are data already in place and are not written again.
struct WriteTarget {
    OutputFile* out;
    std::optional<int> code;
};

la_ssize_t writePiece(struct archive*, void* client, const void* buffer, size_t length)
{
    auto* target = static_cast<WriteTarget*>(client);
    const char* bytes = static_cast<const char*>(buffer);
    if (bytes >= Placeholder && bytes + length <= Placeholder + sizeof Placeholder)
        return la_ssize_t(length);
    try {
        target->out->write(bytes, length);
        return la_ssize_t(length);
    } catch (const rt::InOutError& e) {
        target->code = e.code();
        return -1;
    }
}

}  // namespace

ScratchFile::ScratchFile(const std::string& beside)
{
    const size_t slash = beside.rfind('/');
    std::string path = (slash == std::string::npos ? std::string() : beside.substr(0, slash + 1)) + "." +
                       (slash == std::string::npos ? beside : beside.substr(slash + 1)) + ".data-XXXXXX";
    fd_ = ::mkstemp(path.data());
    if (fd_ < 0)
        throw rt::InOutError(rt::ioCodeFromOpenErrno(errno, beside));
    ::unlink(path.c_str());
}

ScratchFile::~ScratchFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void ScratchFile::write(const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t done = ::write(fd_, data, length);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            failErrno(errno);
        data += done;
        length -= size_t(done);
        size_ += uint64_t(done);
    }
}

namespace {

// A tar writer as every writer here makes it: pax where needed, ustar headers where
// they do, unblocked (every piece goes straight on, no copy into 10 KiB blocks).
ArchivePtr tarWriter(void* client, archive_write_callback* write)
{
    ArchivePtr a(archive_write_new(), archive_write_free);
    if (!a || archive_write_set_format_pax_restricted(a.get()) != ARCHIVE_OK ||
        archive_write_set_bytes_per_block(a.get(), 0) != ARCHIVE_OK ||
        archive_write_open2(a.get(), client, nullptr, write, nullptr, nullptr) != ARCHIVE_OK)
        throw Failure(std::string("libarchive cannot make a tar archive") +
                      (a && archive_error_string(a.get()) ? std::string(": ") + archive_error_string(a.get()) : ""));
    return a;
}

void describe(struct archive_entry* entry, const std::string& path, bool isFolder, uint64_t size, time_t mtime)
{
    archive_entry_clear(entry);
    archive_entry_set_pathname(entry, path.c_str());
    archive_entry_set_filetype(entry, isFolder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(entry, isFolder ? 0755 : 0644);
    archive_entry_set_size(entry, la_int64_t(size));
    archive_entry_set_mtime(entry, mtime, 0);
}

// The bytes of a header as libarchive writes it; once taken, the rest (the member's
// zeros and the end of an archive, written as the writer closes) is let go.
struct HeaderBytes {
    std::string bytes;
    bool taken = false;
};

la_ssize_t appendPiece(struct archive*, void* client, const void* buffer, size_t length)
{
    auto* header = static_cast<HeaderBytes*>(client);
    if (!header->taken)
        header->bytes.append(static_cast<const char*>(buffer), length);
    return la_ssize_t(length);
}

// The header bytes of one member, as libarchive writes them.
std::string tarHeader(const std::string& path, bool isFolder, uint64_t size, time_t mtime)
{
    HeaderBytes header;
    ArchivePtr a = tarWriter(&header, appendPiece);
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    describe(entry.get(), path, isFolder, size, mtime);
    if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK)
        throw Failure(path + ": " + (archive_error_string(a.get()) ? archive_error_string(a.get()) : "no tar header"));
    header.taken = true;
    return header.bytes;
}

constexpr uint64_t TarBlock = 512;
constexpr uint64_t UstarSizeLimit = uint64_t(1) << 33;  // 11 octal digits

}  // namespace

std::optional<DirectMember> startSigmfArchive(OutputFile& out, const std::string& folder, const std::string& path,
                                              uint64_t mostBytes)
{
    if (mostBytes >= UstarSizeLimit)
        return std::nullopt;
    DirectMember m;
    m.path = path;
    m.mtime = std::time(nullptr);
    const std::string folderHeader = tarHeader(folder + "/", true, 0, m.mtime);
    out.write(folderHeader);
    m.headerAt = folderHeader.size();
    m.header = tarHeader(path, false, mostBytes, m.mtime);
    m.mostBytes = mostBytes;
    out.write(m.header);
    return m;
}

void finishDirectMember(OutputFile& out, const DirectMember& member, uint64_t bytes)
{
    if (bytes > member.mostBytes)
        throw Failure(out.path() + ": " + member.path + " holds more than its header allows");
    // A stream cannot have the header rewritten behind it: said as such, where the
    // rewriting failed as "I/O error 1029" (no seeking on a stream).
    if (bytes != member.mostBytes && out.direct())
        throw Failure(out.path() + ": written as a stream whose tar header of " + member.path + " promises " +
                      std::to_string(member.mostBytes) + " bytes, but the recording gives " + std::to_string(bytes) +
                      " (cut short): write the archive to a file");
    if (bytes != member.mostBytes) {
        // Below 8 GiB a size is 11 octal digits in the ustar header: the header keeps its length.
        const std::string header = tarHeader(member.path, false, bytes, member.mtime);
        if (header.size() != member.header.size())
            throw Failure(out.path() + ": " + member.path + ": the tar header changed its length");
        out.overwrite(member.headerAt, header);
    }
    static const char zeros[TarBlock] = {};
    out.write(zeros, size_t((TarBlock - bytes % TarBlock) % TarBlock));
}

namespace {
uint64_t wholeBlocks(uint64_t bytes) { return (bytes + TarBlock - 1) / TarBlock * TarBlock; }
}  // namespace

std::optional<PlacedMembers> startPlacedMembers(OutputFile& out, const std::string& folder,
                                                const std::vector<std::string>& paths, uint64_t mostBytes)
{
    if (mostBytes >= UstarSizeLimit || out.direct() || paths.empty())
        return std::nullopt;
    PlacedMembers placed;
    placed.mostBytes = mostBytes;
    placed.mtime = std::time(nullptr);
    const std::string folderHeader = tarHeader(folder + "/", true, 0, placed.mtime);
    out.write(folderHeader);
    uint64_t at = folderHeader.size();
    for (const std::string& path : paths) {
        PlacedMember m;
        m.path = path;
        m.headerAt = at;
        m.header = tarHeader(path, false, mostBytes, placed.mtime);
        m.dataAt = at + m.header.size();
        out.writeAt(m.headerAt, m.header.data(), m.header.size());
        at = m.dataAt + wholeBlocks(mostBytes);
        placed.members.push_back(std::move(m));
    }
    return placed;
}

void finishPlacedMembers(OutputFile& out, const PlacedMembers& placed, uint64_t bytes)
{
    if (bytes > placed.mostBytes)
        throw Failure(out.path() + ": " + placed.members.front().path + " holds more than its header allows");
    static const char zeros[TarBlock] = {};
    std::vector<char> piece;
    uint64_t at = placed.members.front().headerAt;
    for (const PlacedMember& m : placed.members) {
        const std::string header =
            bytes == placed.mostBytes ? m.header : tarHeader(m.path, false, bytes, placed.mtime);
        if (at != m.headerAt || header != m.header)
            out.writeAt(at, header.data(), header.size());
        const uint64_t dataAt = at + header.size();
        // Up to where it belongs (never past bytes not yet moved: dataAt <= m.dataAt).
        if (dataAt != m.dataAt) {
            piece.resize(size_t(1) << 20);
            for (uint64_t done = 0; done < bytes; done += piece.size()) {
                const size_t length = size_t(std::min<uint64_t>(piece.size(), bytes - done));
                out.readAt(m.dataAt + done, piece.data(), length);
                out.writeAt(dataAt + done, piece.data(), length);
            }
        }
        const uint64_t padding = wholeBlocks(bytes) - bytes;
        out.writeAt(dataAt + bytes, zeros, size_t(padding));
        at = dataAt + bytes + padding;
    }
    out.resize(at);
}

void writeSigmfArchive(OutputFile& out, const std::vector<ArchiveMember>& members)
{
    WriteTarget target{&out, std::nullopt};
    ArchivePtr a = tarWriter(&target, writePiece);
    auto check = [&](int status) {
        if (status >= ARCHIVE_WARN)
            return;
        if (target.code)
            throw rt::InOutError(*target.code);
        throw Failure(out.path() + ": " + (archive_error_string(a.get()) ? archive_error_string(a.get()) : "tar failed"));
    };
    const time_t now = std::time(nullptr);
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    for (const ArchiveMember& m : members) {
        const uint64_t size = m.file ? m.file->size() : m.length;
        describe(entry.get(), m.path, m.folder, size, now);
        check(archive_write_header(a.get(), entry.get()));
        if (m.file) {
            // The data goes from the scratch file to the output in the kernel; libarchive
            // is then told of as many bytes (the placeholder, not written), so that it
            // pads the member and goes on after it. Unblocked output hands every piece
            // on as it comes, so what it is told passes straight to writePiece.
            out.copyFrom(m.file->fd(), 0, size);
            for (uint64_t at = 0; at < size; at += sizeof Placeholder) {
                const size_t length = size_t(std::min<uint64_t>(sizeof Placeholder, size - at));
                if (archive_write_data(a.get(), Placeholder, length) != la_ssize_t(length))
                    check(ARCHIVE_FATAL);
            }
        } else if (archive_write_data(a.get(), m.bytes, m.length) != la_ssize_t(m.length)) {
            check(ARCHIVE_FATAL);
        }
        check(archive_write_finish_entry(a.get()));
    }
    check(archive_write_close(a.get()));
}

namespace {

// A member's path as extracting the archive places it: the "./" that tar puts before every
// member of an archive made of a folder's "." (tar -cf a.sigmf .) left out, and any "/"
// before it (which tar leaves out in extracting), so that the archive's top-level folder
// is "" however it was made.
std::string extractedPath(const char* name)
{
    std::string path = name ? name : "";
    size_t at = 0;
    while (path.compare(at, 1, "/") == 0 || path.compare(at, 2, "./") == 0)
        at += path[at] == '/' ? 1 : 2;
    return path.substr(at);
}

std::optional<std::vector<ArchiveEntry>> readArchive(struct archive* a, std::string* error)
{
    constexpr uint64_t MaxText = uint64_t(64) << 20;
    // What the metadata and collection texts kept hold together, and the zeros that
    // the holes of sparse members (tar --sparse) stand for, read as the bytes they are.
    constexpr uint64_t MaxTexts = uint64_t(64) << 20;
    constexpr uint64_t MaxHoles = uint64_t(4) << 30;
    std::vector<ArchiveEntry> entries;
    auto fail = [&](const char* what) {
        if (error)
            *error = std::string(what) + (archive_error_string(a) ? std::string(": ") + archive_error_string(a) : "");
        return std::nullopt;
    };
    static const char zeros[1 << 16] = {};
    uint64_t texts = 0, holes = 0;
    std::map<std::string, size_t> byPath;  // the last member of each path, for the links to it
    for (;;) {
        struct archive_entry* entry = nullptr;
        const int status = archive_read_next_header(a, &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status < ARCHIVE_WARN)
            return fail("not a readable tar archive");
        // A header that does not read (its checksum differs) is a damaged archive: the
        // reader would pass over it and the member it heads, and report the rest sound.
        if (status == ARCHIVE_RETRY) {
            const std::string at = "a member's header at byte " + std::to_string(archive_read_header_position(a)) +
                                   " is damaged";
            return fail(at.c_str());
        }
        const std::string name = extractedPath(archive_entry_pathname(entry));
        // A second name of a file stored before it (tar keeps the bytes once, for the
        // first name) is that file, as extracting the archive gives it.
        const char* linked = archive_entry_hardlink(entry);
        if (linked && !(archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)) {
            const auto target = byPath.find(extractedPath(linked));
            if (target != byPath.end()) {
                ArchiveEntry e = entries[target->second];
                e.path = name;
                if (e.text && texts + e.size > MaxTexts)
                    e.text.reset();
                else if (e.text)
                    texts += e.size;
                byPath[e.path] = entries.size();
                entries.push_back(std::move(e));
            }
            continue;
        }
        if (archive_entry_filetype(entry) != AE_IFREG)
            continue;
        ArchiveEntry e;
        e.path = name;
        const bool text = endsWith(e.path, ".sigmf-meta") || endsWith(e.path, ".sigmf-collection");
        digest::Hasher sha512(digest::Algorithm::Sha512);
        std::string kept;
        const auto take = [&](const char* bytes, size_t length) {
            sha512.add(bytes, length);
            if (text && kept.size() + length <= MaxText)
                kept.append(bytes, length);
            e.size += uint64_t(length);
        };
        // A hole up to `offset` is that many zeros of the member.
        const auto fillTo = [&](uint64_t offset) {
            if (offset > e.size && offset - e.size > MaxHoles - holes)
                return false;
            while (offset > e.size) {
                const uint64_t length = std::min<uint64_t>(sizeof zeros, offset - e.size);
                holes += length;
                take(zeros, size_t(length));
            }
            return true;
        };
        for (;;) {
            const void* block = nullptr;
            size_t length = 0;
            la_int64_t offset = 0;
            const int got = archive_read_data_block(a, &block, &length, &offset);
            if (got == ARCHIVE_EOF)
                break;
            if (got < ARCHIVE_WARN || offset < 0 || uint64_t(offset) < e.size)
                return fail("a member cannot be read");
            if (!fillTo(uint64_t(offset)))
                return fail("a sparse member stands for more than 4 GiB of zeros");
            take(static_cast<const char*>(block), length);
        }
        // A hole at the end has no block after it.
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0 &&
            !fillTo(uint64_t(archive_entry_size(entry))))
            return fail("a sparse member stands for more than 4 GiB of zeros");
        e.sha512 = sha512.hex();
        if (text && e.size <= MaxText && texts + e.size <= MaxTexts) {
            texts += e.size;
            e.text = std::move(kept);
        }
        byPath[e.path] = entries.size();
        entries.push_back(std::move(e));
    }
    return entries;
}

ArchivePtr tarReader()
{
    ArchivePtr a(archive_read_new(), archive_read_free);
    if (a)
        archive_read_support_format_tar(a.get());
    return a;
}

}  // namespace

std::optional<std::vector<ArchiveEntry>> readArchiveFile(const std::string& path, std::string* error)
{
    ArchivePtr a = tarReader();
    if (!a || archive_read_open_filename(a.get(), path.c_str(), size_t(1) << 20) != ARCHIVE_OK) {
        if (error)
            *error = a && archive_error_string(a.get()) ? archive_error_string(a.get()) : "cannot be opened";
        return std::nullopt;
    }
    return readArchive(a.get(), error);
}

std::optional<std::vector<ArchiveEntry>> readArchiveMemory(const void* data, size_t size, std::string* error)
{
    ArchivePtr a = tarReader();
    if (!a || archive_read_open_memory(a.get(), data, size) != ARCHIVE_OK) {
        if (error)
            *error = "not a tar archive";
        return std::nullopt;
    }
    return readArchive(a.get(), error);
}

}  // namespace cli
