#include "cli_support.h"

#include "output_file.h"
#include "recording_input.h"
#include "runtime_error.h"
#include "thread_start.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    // Where the bytes of an output of this name go, spelled one way only (a file not
    // made yet has no inode to compare); empty where that cannot be told.
    std::string place;
};

// The file a name leads to, spelled one way only: its links followed and its folder's
// path absolute, free of links, "." and "..". Empty where the folder does not exist.
std::string placeOf(const std::string& path)
{
    std::string target;
    try {
        target = outputTarget(path);
    } catch (const rt::InOutError&) {
        return {};
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string leaf = slash == std::string::npos ? target : target.substr(slash + 1);
    if (leaf.empty() || leaf == "." || leaf == "..")
        return {};
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string place(resolved);
    std::free(resolved);
    return (place.back() == '/' ? place : place + "/") + leaf;
}

Identity identityOf(const std::string& path)
{
    Identity id;
    id.place = placeOf(path);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        id.exists = true;
        id.device = info.st_dev;
        id.inode = info.st_ino;
    }
    return id;
}

bool sameFile(const std::string& a, const Identity& ia, const std::string& b, const Identity& ib)
{
    if (a == b)
        return true;
    if (!ia.place.empty() && ia.place == ib.place)
        return true;
    return ia.exists && ib.exists && ia.device == ib.device && ia.inode == ib.inode;
}

}  // namespace

bool isStream(const std::string& path)
{
    struct stat info {};
    return path == "-" || (::stat(path.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)));
}

std::string outputsProblem(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs)
{
    std::vector<Identity> inputIds;
    for (const std::string& in : inputs)
        inputIds.push_back(identityOf(in));
    std::vector<Identity> outputIds;
    int standardOutputs = 0;
    for (const NamedOutput& out : outputs) {
        standardOutputs += out.path == "-";
        outputIds.push_back(out.path == "-" ? Identity{} : identityOf(out.path));
    }
    if (standardOutputs > 1)
        return "only one output can be - (the standard output)";
    // A pipe named twice would be read by two readers at once, each taking part of what
    // comes through it. (An input "-" is a file of that name.)
    for (size_t i = 0; i < inputs.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (inputs[i] != "-" && isStream(inputs[i]) && sameFile(inputs[i], inputIds[i], inputs[j], inputIds[j]))
                return inputs[i] + ": is named twice as an input; a pipe can be read only once";
    for (size_t o = 0; o < outputs.size(); ++o) {
        const NamedOutput& out = outputs[o];
        if (out.path == "-")
            continue;
        for (size_t i = 0; i < inputs.size(); ++i)
            if (sameFile(out.path, outputIds[o], inputs[i], inputIds[i]))
                return out.path + ": is also an input";
        for (size_t p = 0; p < o; ++p)
            if (outputs[p].path != "-" && !isStream(out.path) &&
                sameFile(out.path, outputIds[o], outputs[p].path, outputIds[p]))
                return out.path + ": is named by both " + outputs[p].option + " and " + out.option;
    }
    return {};
}

int outputsRefusal(const std::vector<NamedOutput>& outputs, const std::vector<std::string>& inputs)
{
    const std::string problem = outputsProblem(outputs, inputs);
    if (problem.empty())
        return ExitOk;
    std::fprintf(stderr, "sounder: %s\n", printable(problem).c_str());
    return ExitUsage;
}

std::string repeatedRecordingProblem(const std::vector<std::string>& recordings)
{
    std::vector<Identity> ids;
    for (const std::string& r : recordings)
        ids.push_back(identityOf(r));
    for (size_t i = 0; i < recordings.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (sameFile(recordings[i], ids[i], recordings[j], ids[j]))
                return recordings[i] + ": is the same recording as " + recordings[j] + ": each recording counts once";
    return {};
}

OutputGroup::OutputGroup() = default;
OutputGroup::~OutputGroup() = default;

void OutputGroup::add(const std::string& path, const std::string& bytes)
{
    try {
        auto file = std::make_unique<OutputFile>(path);
        file->write(bytes);
        files_.push_back(std::move(file));
    } catch (const rt::InOutError& e) {
        failIo(path, e.code());
    }
}

void OutputGroup::add(std::unique_ptr<OutputFile> file) { files_.push_back(std::move(file)); }

void OutputGroup::commit()
{
    std::vector<OutputFile*> outputs;
    for (const std::unique_ptr<OutputFile>& file : files_)
        outputs.push_back(file.get());
    std::string failed;
    try {
        OutputFile::commitTogether(outputs, &failed);
    } catch (const rt::InOutError& e) {
        failIo(failed, e.code());
    }
}

ReplacedOutputs::ReplacedOutputs(std::vector<std::string> paths)
{
    const auto exists = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0;
    };
    if (!std::any_of(paths.begin(), paths.end(), exists))
        return;
    const auto drop = [paths = std::move(paths)] {
        for (const std::string& path : paths)
            dropCachedPages(path);
    };
    thread_ = rt::threadIfAny(drop);
    if (!thread_.joinable())
        drop();
}

void ReplacedOutputs::done()
{
    if (thread_.joinable())
        thread_.join();
}

std::string printable(std::string_view text)
{
    static const char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
            ++i;
            continue;
        }
        if (c == '\n' || c == '\r' || c == '\t') {
            out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence: its length from the lead byte, then continuation
        // bytes, and no overlong form, surrogate or code above U+10FFFF.
        const size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        uint32_t code = c & (0x7F >> length);
        bool wellFormed = length != 0 && i + length <= text.size();
        for (size_t k = 1; wellFormed && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            wellFormed = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        wellFormed = wellFormed && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
                     !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
        if (wellFormed && code > 0x9F) {
            out.append(text.substr(i, length));
            i += length;
        } else if (wellFormed) {
            out += "\\u00";
            out += Hex[code >> 4];
            out += Hex[code & 15];
            i += length;
        } else {
            out += "\\x";
            out += Hex[c >> 4];
            out += Hex[c & 15];
            ++i;
        }
    }
    return out;
}

void note(const std::string& text) { std::fprintf(stderr, "%s\n", printable(text).c_str()); }

Progress::Progress(std::string label, uint64_t totalBytes)
    : label_(std::move(label)), total_(totalBytes), shown_(totalBytes > 10'000'000 && ::isatty(2) == 1),
      start_(std::chrono::steady_clock::now()), last_(start_)
{
}

void Progress::show(uint64_t bytes, bool force)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(250))
        return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0;
    std::fprintf(stderr, "\r%s: %3d%% %.0f MB/s", printable(label_).c_str(), int(100.0 * double(bytes) / double(total_)), rate);
    std::fflush(stderr);
}

void Progress::done()
{
    if (shown_) {
        show(total_, true);
        std::fprintf(stderr, "\n");
        shown_ = false;
    }
}

}  // namespace cli
