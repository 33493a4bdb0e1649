#include "convert_sigmf.h"

#include "block_pipeline.h"
#include "output_file.h"
#include "recording_input.h"
#include "recording_metadata_json.h"
#include "sidecar_report.h"
#include "runtime_error.h"
#include "sounder_version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>

namespace cli {

namespace {

// SHA-512 of the data file, computed as its bytes are produced.
class Sha512 {
public:
    Sha512() : context_(EVP_MD_CTX_new(), EVP_MD_CTX_free)
    {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha512(), nullptr) != 1)
            throw Failure("sounder: SHA-512 is not available from libcrypto");
    }
    void add(const void* data, size_t length) { EVP_DigestUpdate(context_.get(), data, length); }
    std::string hex()
    {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_.get(), digest, &length);
        static const char* digits = "0123456789abcdef";
        std::string text;
        for (unsigned int i = 0; i < length; ++i) {
            text += digits[digest[i] >> 4];
            text += digits[digest[i] & 15];
        }
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context_;
};

QJsonObject metadata(const acq::RecordingHeader& h, const acq::SweepCount& count, const std::string& sha512,
                     const std::string& input, const std::optional<meta::Recording>& sidecar)
{
    const QString ns = QString::fromLatin1(SigmfNamespace);
    QJsonObject global{
        {"core:datatype", "ru16_le"},
        {"core:num_channels", 3},
        {"core:version", "1.2.0"},
        {"core:recorder", QString("quenlo; converted by sounder ") + SOUNDER_VERSION},
        {"core:description",
         QString("Channel sounder recording %1: receiver channels ch 1, ch 2, ch 3 interleaved in scan order, "
                 "raw 12-bit A/D codes, volts = (code - 2048) / 2048 * 5")
             .arg(QString::fromLocal8Bit(input.c_str()))},
        {"core:sha512", QString::fromLatin1(sha512.c_str())},
        {"core:extensions", QJsonArray{QJsonObject{{"name", ns}, {"version", "1.0.0"}, {"optional", true}}}},
        {ns + ":settings",
         QJsonObject{{"num_sweeps", h.numSweeps},
                     {"sweep_samples", h.sweepSamples},
                     {"clock_divider", h.clockDivider()},
                     {"attenuation_db", h.attenuation},
                     {"gains_db", QJsonArray{h.gains[0], h.gains[1], h.gains[2]}}}},
        {ns + ":sweeps_written", qint64(count.whole)},
        {ns + ":sweeps_missing", qint64(count.missing)},
    };
    if (sidecar) {
        // What the recording's own header cannot say: the front-end as it was sent.
        global.insert(ns + ":sidecar_settings", meta::settingsJson(sidecar->settings));
        global.insert(ns + ":front_end", meta::frontEndJson(sidecar->frontEnd));
        global.insert(ns + ":scan_started_utc", QString::fromStdString(sidecar->scanStartedUtc));
        global.insert(ns + ":board_library", QJsonObject{{"path", QString::fromStdString(sidecar->boardLibraryPath)},
                                                          {"simulated", sidecar->boardLibrarySimulated}});
    }
    QJsonArray annotations;
    for (int64_t k = 0; k < count.whole; ++k)
        annotations.append(QJsonObject{{"core:sample_start", qint64(k * h.sweepSamples)},
                                       {"core:sample_count", h.sweepSamples},
                                       {"core:label", QString("sweep %1").arg(k + 1)}});
    return QJsonObject{{"global", global},
                       {"captures", QJsonArray{QJsonObject{{"core:sample_start", 0}}}},
                       {"annotations", annotations}};
}

}  // namespace

void convertToSigmf(const std::string& inputPath, const std::string& base)
{
    RecordingInput input(inputPath);
    input.open();
    const acq::RecordingHeader& h = input.header();
    std::optional<meta::Recording> sidecar;
    if (hasSidecar(inputPath)) {
        std::string error;
        sidecar = meta::readSidecar(meta::sidecarPath(inputPath), &error);
        if (!sidecar)
            note(meta::sidecarPath(inputPath) + ": " + error + "; converted without it");
    }
    const std::string dataPath = base + ".sigmf-data";
    const std::string metaPath = base + ".sigmf-meta";
    std::string current = dataPath;
    try {
        OutputFile data(dataPath);
        // The codes are read straight into the blocks that are written and then hashed
        // on the second thread (SHA-512, at about 0.6 GB/s, is slower than the reading),
        // as many whole sweeps to a block as fit in about 256 KB.
        const size_t sweepBytes = 3 * 2 * size_t(h.sweepSamples);
        Sha512 sha512;
        BlockPipeline digest(std::max<size_t>(1, (size_t(256) << 10) / sweepBytes) * sweepBytes,
                             [&sha512](unsigned char* block, size_t used) { sha512.add(block, used); });
        Progress progress(inputPath, input.reader().totalBytes());
        int64_t lines = 0;
        unsigned char* block = digest.take();
        size_t used = 0;
        for (;;) {
            if (used + sweepBytes > digest.blockBytes()) {
                data.write(reinterpret_cast<const char*>(block), used);
                digest.give(used);
                block = digest.take();
                used = 0;
            }
            uint16_t* sweep = reinterpret_cast<uint16_t*>(block + used);
            const size_t got = input.readSweep(sweep);
            lines += int64_t(got);
            if (got < size_t(h.sweepSamples))
                break;  // an incomplete sweep is left out
            if constexpr (std::endian::native == std::endian::big)
                for (size_t i = 0; i < 3 * got; ++i)
                    sweep[i] = uint16_t(sweep[i] << 8 | sweep[i] >> 8);
            used += sweepBytes;
            progress.update(input.reader().bytesRead());
        }
        data.write(reinterpret_cast<const char*>(block), used);
        digest.give(used);
        digest.finish();
        progress.done();
        const acq::SweepCount count = reportSweeps(input, lines);
        const QByteArray json =
            QJsonDocument(metadata(h, count, sha512.hex(), inputPath, sidecar)).toJson(QJsonDocument::Indented);
        current = metaPath;
        OutputFile meta(metaPath);
        meta.write(json.constData(), size_t(json.size()));
        // The pair goes into place as one: the old pair or the new one, never a mix.
        OutputFile::commitTogether({&data, &meta}, &current);
    } catch (const rt::InOutError& e) {
        failIo(current, e.code());
    }
}

}  // namespace cli
