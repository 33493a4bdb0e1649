#pragma once
// The part of `sounder info` about SigMF files: what a recording, collection or archive
// holds, and whether every data file and metadata file still has the SHA-512 and size
// that describe it.

#include "sigmf_archive.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// What info says of a file: the lines for stdout, and the faults, each a line for stderr.
struct SigmfReport {
    std::vector<std::string> lines;
    std::vector<std::string> faults;
};

// Whether the name is that of a SigMF file (.sigmf-meta, .sigmf-data, .sigmf-collection, .sigmf).
bool isSigmfPath(const std::string& path);

// The report of a recording given its metadata text and, when found, the size and
// SHA-512 of its data file; `label` names the recording in the lines, `dataLabel` its
// data file (by default label + ".sigmf-data").
struct DataFacts {
    uint64_t size = 0;
    std::string sha512;
};
void reportRecording(const std::string& label, const std::string& metaText, const std::optional<DataFacts>& data,
                     SigmfReport& report, const std::string& dataLabel = std::string());

// The report of an archive's members as read.
SigmfReport reportArchive(const std::string& path, const std::vector<ArchiveEntry>& entries);

// Prints the report of the SigMF file at `path` (its faults on stderr); false when it
// has a fault or cannot be read.
bool infoSigmf(const std::string& path);

}  // namespace cli
