// SHA-256 of a recording-sized buffer (114.4 MB, handed over in the 1 MB pieces the
// recording writer delivers), by libcrypto (what the program uses) and by Qt's
// QCryptographicHash, beside a plain read of the same bytes (std::count of line ends).
// Target: at least 1 GB/s. Best of five.

#include "digest.h"

#include <QCryptographicHash>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t Bytes = 114'400'000;
constexpr size_t Piece = size_t(1) << 20;
constexpr int Runs = 5;

template <typename Fn>
double bestSeconds(Fn fn)
{
    double best = 1e300;
    for (int run = 0; run < Runs; ++run) {
        const auto t0 = Clock::now();
        fn();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

}  // namespace

int main()
{
    // Code lines as a recording holds them.
    std::string data;
    data.reserve(Bytes + 32);
    for (unsigned i = 0; data.size() < Bytes; ++i)
        data += std::to_string(i % 4096) + "," + std::to_string((i * 7) % 4096) + "," + std::to_string(2048) + "\r\n";
    data.resize(Bytes);

    std::string openssl, qt;
    long long lines = 0;
    const double tCount = bestSeconds([&] {
        lines = 0;
        for (size_t at = 0; at < data.size(); at += Piece)
            lines += std::count(data.data() + at, data.data() + std::min(data.size(), at + Piece), '\n');
    });
    const double tOpenssl = bestSeconds([&] {
        digest::Hasher h(digest::Algorithm::Sha256);
        for (size_t at = 0; at < data.size(); at += Piece)
            h.add(data.data() + at, std::min(Piece, data.size() - at));
        openssl = h.hex();
    });
    const double tQt = bestSeconds([&] {
        QCryptographicHash h(QCryptographicHash::Sha256);
        for (size_t at = 0; at < data.size(); at += Piece)
            h.addData(QByteArrayView(data.data() + at, qsizetype(std::min(Piece, data.size() - at))));
        qt = h.result().toHex().toStdString();
    });
    if (openssl != qt) {
        std::fprintf(stderr, "the two digests differ\n");
        return 1;
    }
    auto rate = [](double s) { return Bytes / s / 1e9; };
    std::printf("SHA-256 of %.1f MB in 1 MB pieces, best of %d\n", Bytes / 1e6, Runs);
    std::printf("  %-26s %7.1f ms  %5.2f GB/s\n", "line count (std::count)", tCount * 1e3, rate(tCount));
    std::printf("  %-26s %7.1f ms  %5.2f GB/s%s\n", "libcrypto (used)", tOpenssl * 1e3, rate(tOpenssl),
                rate(tOpenssl) >= 1.0 ? "  (target >= 1 GB/s: met)" : "  (target >= 1 GB/s: MISSED)");
    std::printf("  %-26s %7.1f ms  %5.2f GB/s  (%.1fx the time of libcrypto)\n", "QCryptographicHash", tQt * 1e3,
                rate(tQt), tQt / tOpenssl);
    std::printf("  digest %s, %lld lines\n", openssl.c_str(), lines);
    return 0;
}
