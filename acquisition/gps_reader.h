#pragma once
// The gpsd client: a thread of its own keeps a connection to gpsd open (reconnecting
// with back-off when it fails or is lost) and keeps the latest report; latest() hands
// out a copy under a lock held for the copy alone, so the GUI thread never waits for
// gpsd, the network or the receiver.

#include "gps_status.h"

#include <memory>

class GpsReader final : public GpsSource {
public:
    explicit GpsReader(GpsdAddress address = gpsdAddressFromEnvironment());
    // Stops the thread. A thread held up in a connection attempt that does not end
    // within a second is left to end on its own; it touches only state it shares.
    ~GpsReader() override;
    GpsReader(const GpsReader&) = delete;
    GpsReader& operator=(const GpsReader&) = delete;

    GpsState latest() const override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};
