// Any bytes as the two texts that say where: the transmitter's --origin LAT,LON[,ALT]
// of sounder analyze and campaign, and quenlo's SOUNDER_GPSD host:port. Beyond not
// crashing: what is accepted is in range.

#include "gps_status.h"
#include "recording_place.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const std::optional<cli::Origin> o = cli::parseOrigin(text)) {
        if (!(o->latitudeDeg >= -90.0 && o->latitudeDeg <= 90.0 && o->longitudeDeg >= -180.0 &&
              o->longitudeDeg <= 180.0) ||
            (o->altitudeM && !std::isfinite(*o->altitudeM)))
            std::abort();
    }
    if (const std::optional<GpsdAddress> a = parseGpsdAddress(text)) {
        const int port = std::atoi(a->port.c_str());
        if (a->host.empty() || port < 1 || port > 65535 || std::to_string(port) != a->port)
            std::abort();
    }
    return 0;
}
