#pragma once
// An output file that appears under its final name only when it is whole: bytes go
// to a temporary file beside it, renamed over the final name by commit(). Until then,
// and after any failure, the final name is untouched and the temporary file is removed.
// Failures throw rt::InOutError with the code of the failed system call.
//
// Where the output goes:
// - "-" is the standard output, written in order (and left open).
// - A final name that is a symbolic link is written through: the file the link points
//   to (at the end of a chain of links, made if missing) is replaced, the link kept.
// - A character device or a FIFO is opened and written directly, in order: no
//   temporary name and no rename; write errors are reported as they happen.
// The temporary name is short and of fixed length (".snd-XXXXXX" in the target's
// folder), so that any name the file system accepts can be written.

#include <cstddef>
#include <cstdint>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Whether a and b name the same file: the same path, or the same device and inode
// (through a hard or symbolic link) where both exist.
bool sameFile(const std::string& a, const std::string& b);

// The file an output named path replaces (or makes): path with its chain of symbolic
// links followed, as OutputFile follows it. Throws rt::InOutError (InvalidFilename) on
// a loop of links.
std::string outputTarget(const std::string& path);

// Gives a file made under a temporary name (private, as mkstemp makes it) the
// permissions of the output it becomes: those of the file it replaces, `replaced` where
// there is one (one kept private stays so), else those of any new file.
void giveOutputPermissions(int fd, const struct stat* replaced);

// Should the program be stopped by SIGINT, SIGTERM or SIGHUP (Ctrl-C, kill, a closed
// terminal), the temporary files of the outputs being made are removed first, and the
// program then ends as the signal would have ended it: a stopped run leaves every final
// name as it was and no hidden temporary file behind. Signals the program was started
// to ignore stay ignored. For a command-line program, once, at its start.
void removeTemporaryFilesOnSignals();

// Advice only: the pages the kernel holds cached of the regular file at path (through
// links) are let go. For a file an output is about to replace: letting them go beside
// the work that makes the new one, rather than when the old file goes at commit, takes
// them off the end of the run. Does nothing where path is not a regular file.
void dropCachedPages(const std::string& path);

class OutputFile {
public:
    explicit OutputFile(std::string finalPath);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const char* data, size_t length);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // For a large file written in order that nothing reads back soon (a conversion's
    // data): from here on the bytes go to the disk directly, past the page cache, in
    // aligned blocks, where the file system takes that (else nothing changes). The
    // kernel then neither copies them nor keeps them cached; the last partial block,
    // and anything after the next flush (sync, commit, writeAt, ...), goes the usual way.
    // Bytes already written stay as they are, and those up to the next whole block
    // (4 KiB) go the usual way too.
    void bypassCache();
    // Appends `length` bytes of the open file `fd` from `offset`, copied in the kernel
    // (a reflink where the file system shares blocks) rather than through memory.
    void copyFrom(int fd, uint64_t offset, uint64_t length);
    // Replaces bytes already written at offset (same length), e.g. a count known only at
    // the end. Not for a direct output (a stream cannot go back): that throws.
    void overwrite(uint64_t offset, std::string_view text);
    // Positional access to a file being made (an archive whose members are written side
    // by side as they are made): writeAt writes at offset, past the end too (a gap reads
    // as zeros until written), and readAt reads back what is written, both leaving where
    // write() goes on as it was; resize cuts the file to `size` bytes (or grows it with
    // zeros) and write() then goes on from its end. Not for a direct output: they throw.
    void writeAt(uint64_t offset, const char* data, size_t length);
    // writeAt for bytes that nothing reads back soon, in whole blocks (offset, length and
    // the address of data multiples of 4 KiB): past the page cache, through a second
    // descriptor of the file made for that. False, with nothing written, where the file
    // system does not take that (the caller then uses writeAt).
    bool writeAtUncached(uint64_t offset, const char* data, size_t length);
    void readAt(uint64_t offset, char* data, size_t length);
    void resize(uint64_t size);
    // Hands every byte written so far to the disk and waits until it holds them; the
    // file stays open for more. commit() then waits only for what came after (a caller
    // may sync the bulk of a file on one thread while it makes the rest on another).
    // Nothing for a direct output.
    void sync();
    void commit();
    // The path as given (what messages name).
    const std::string& path() const { return finalPath_; }
    // Whether the bytes go straight to the final name (standard output, device, FIFO).
    bool direct() const { return direct_; }

    // Commits several outputs as one: each is made whole first, then all are renamed
    // into place; when a step fails, the files that stood under the final names before
    // (or none) are put back, so that no mix of old and new outputs stands. Throws
    // rt::InOutError naming the output that failed through failedPath (when given).
    static void commitTogether(const std::vector<OutputFile*>& outputs, std::string* failedPath = nullptr);

private:
    void flush();
    void writeUncached(size_t length);
    void endBypass();
    void leaveBypass();
    void startUncached();
    void closeUncached();
    void startWriteBack();
    void finishTemporary();  // flush, fsync, close; the temporary file stays for the rename
    std::string finalPath_;
    std::string targetPath_;  // the file renamed over: finalPath_ with its links followed
    std::string tempPath_;
    int temporarySlot_ = -1;  // where the signal handler finds tempPath_
    int fd_ = -1;
    bool direct_ = false;
    bool ownsFd_ = true;
    std::unique_ptr<char[]> buffer_;
    struct FreeAligned {
        void operator()(char* p) const;
    };
    std::unique_ptr<char, FreeAligned> aligned_;  // the buffer while the cache is bypassed
    size_t leadIn_ = 0;           // bytes the usual way before the first whole block
    bool wroteUncached_ = false;  // a block went past the cache
    int uncachedFd_ = -1;         // for writeAtUncached; -2 once refused
    size_t used_ = 0;
    uint64_t written_ = 0;        // bytes handed to the file
    uint64_t writeBackFrom_ = 0;  // where the disk has not yet been asked to start
    uint64_t placedSinceWriteBack_ = 0;  // bytes of writeAt since the disk was last asked
};
