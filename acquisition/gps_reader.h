#pragma once
// The gpsd client: a thread of its own keeps a connection to gpsd open (reconnecting
// with back-off when it fails or is lost) and keeps the latest report; latest() hands
// out a copy under a lock held for the copy alone, so the GUI thread never waits for
// gpsd, the network or the receiver.

#include "gps_status.h"

#include <memory>

class GpsReader final : public GpsSource {
public:
    // gpsd at SOUNDER_GPSD's address, localhost:2947 without it. A SOUNDER_GPSD that is
    // no address is not replaced by another gpsd's (whose positions would be taken for
    // the one named): none is read, and the sidecars say why.
    GpsReader();
    explicit GpsReader(GpsdAddress address);
    // Stops the thread. A thread held up in a connection attempt that does not end
    // within a second is left to end on its own; it touches only state it shares.
    ~GpsReader() override;
    GpsReader(const GpsReader&) = delete;
    GpsReader& operator=(const GpsReader&) = delete;

    GpsState latest() const override;

    struct Shared;

private:
    void start(GpsdAddress address);

    std::shared_ptr<Shared> shared_;
};
