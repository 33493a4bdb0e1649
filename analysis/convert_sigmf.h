#pragma once
// An acquisition-layout recording as SigMF 1.2 recordings. One SigMF sample is one scan
// group; a sample of a channel is stored as volts in float32 (rf32_le, the default),
// as code - 2048 (ri16_le) or as the code recorded (ru16_le). The three channels go
// interleaved into one recording (BASE), into a collection of one recording per
// channel (BASE-ch1..3 and BASE.sigmf-collection), or one channel alone (BASE-chN);
// --archive puts them all into one tar file, BASE.sigmf.

#include <string>

namespace cli {

inline constexpr const char* SigmfNamespace = "sounder";

enum class SigmfDatatype { Rf32, Ri16, Ru16 };
enum class SigmfLayout { Interleaved, Collection };

struct SigmfOptions {
    SigmfDatatype datatype = SigmfDatatype::Rf32;
    SigmfLayout layout = SigmfLayout::Interleaved;
    int channel = 0;  // 1..3: that channel alone; 0: as the layout says
    bool archive = false;
};

// The SigMF name of a datatype ("rf32_le"), and back (false for an unknown name).
const char* sigmfDatatypeName(SigmfDatatype datatype);
bool sigmfDatatypeFromName(const std::string& name, SigmfDatatype& datatype);

// The default BASE of an input: its path without the extension of its file name
// ("data/rec.txt" -> "data/rec").
std::string defaultSigmfBase(const std::string& input);

// Throws Failure; the outputs appear under their final names only when all are whole.
void convertToSigmf(const std::string& input, const std::string& base, const SigmfOptions& options = {});

}  // namespace cli
