// Any bytes as a SigMF archive as `sounder info` reads it (libarchive's tar reader, then
// the collection and metadata of every member), and the same bytes as a metadata file.
// Beyond not crashing: a refusal always says why, and every report has its first line.

#include "sigmf_info.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string error;
    const auto entries = cli::readArchiveMemory(data, size, &error);
    if (!entries && error.empty())
        std::abort();
    if (entries) {
        const cli::SigmfReport report = cli::reportArchive("fuzz.sigmf", *entries);
        if (report.lines.empty())
            std::abort();
    }
    cli::SigmfReport report;
    const std::string text(reinterpret_cast<const char*>(data), size);
    cli::reportRecording("fuzz", text, cli::DataFacts{size, std::string(128, '0')}, report);
    if (report.lines.empty() && report.faults.empty())
        std::abort();
    return 0;
}
