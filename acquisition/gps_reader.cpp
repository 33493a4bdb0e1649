#include "gps_reader.h"

#include <gps.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <system_error>
#include <thread>

struct GpsReader::Shared {
    GpsdAddress address;
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    GpsState state;
    bool finished = false;  // the thread has ended
};

namespace {

using namespace std::chrono_literals;

// Nothing at all from a connected gpsd for this long: it is taken as not answering,
// and after Reconnect as gone.
constexpr auto SilentAfter = 3s;
constexpr auto ReconnectAfter = 10s;
constexpr auto FirstBackOff = 250ms;
constexpr auto LongestBackOff = 8s;
constexpr int PollMicroseconds = 200'000;

std::optional<double> finite(double v)
{
    return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

std::string rfc3339(const timespec_t& t)
{
    if (t.tv_sec <= 0)
        return std::string();
    std::tm utc{};
    const time_t seconds = t.tv_sec;
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03ldZ", long(t.tv_nsec / 1'000'000));
    return text;
}

// What one report from gpsd changes in the state.
void take(const gps_data_t& data, GpsState& s, GpsClock::time_point now)
{
    if (data.set & DEVICELIST_SET) {
        s.devicesKnown = true;
        s.devices = data.devices.ndevices;
    }
    // A receiver that gpsd opens after its device list was sent is announced alone.
    if ((data.set & DEVICE_SET) && data.dev.activated.tv_sec > 0) {
        s.devicesKnown = true;
        s.devices = std::max(s.devices, 1);
    }
    if (data.set & SATELLITE_SET) {
        s.satellitesUsed = data.satellites_used;
        s.satellitesSeen = data.satellites_visible;
    }
    if (!(data.set & MODE_SET))
        return;
    const gps_fix_t& f = data.fix;
    s.mode = f.mode;
    if (s.mode >= MODE_NO_FIX)
        s.devices = std::max(s.devices, 1);  // a report comes from a receiver
    // A fix lost is gone: a later report of a fix that carries no position does not
    // bring back the one from before the loss. A mode gpsd does not have is no fix.
    const bool fixed = f.mode == MODE_2D || f.mode == MODE_3D;
    if (!fixed)
        s.fix.reset();
    if (!fixed || !(data.set & LATLON_SET) || !std::isfinite(f.latitude) || !std::isfinite(f.longitude))
        return;
    meta::Position p;
    p.latitudeDeg = f.latitude;
    p.longitudeDeg = f.longitude;
    p.mode = f.mode == MODE_3D ? 3 : 2;
    if (p.mode == 3) {
        p.altitudeM = finite(f.altHAE);
        p.altitudeMslM = finite(f.altMSL);
        p.verticalErrorM = finite(f.epv);
    }
    p.horizontalErrorM = finite(f.eph);
    p.speedMps = finite(f.speed);
    p.trackDeg = finite(f.track);
    p.gpsTimeUtc = rfc3339(f.time);
    s.fix = meta::positionToRecord(p);
    s.fixReceived = now;
}

// Whether bytes wait on the connection itself. gps_waiting says so at once while libgps
// holds part of a report, so with a report cut short it would never wait at all.
bool connectionReadable(const gps_data_t& data, int microseconds)
{
    pollfd p{data.gps_fd, POLLIN, 0};
    return ::poll(&p, 1, microseconds / 1000) > 0;
}

class Reading {
public:
    explicit Reading(std::shared_ptr<GpsReader::Shared> shared) : shared_(std::move(shared)) {}

    void run()
    {
        auto backOff = std::chrono::duration_cast<std::chrono::milliseconds>(FirstBackOff);
        while (!stopping()) {
            if (session())
                backOff = std::chrono::duration_cast<std::chrono::milliseconds>(FirstBackOff);
            std::unique_lock lock(shared_->mutex);
            if (shared_->wake.wait_for(lock, backOff, [this] { return shared_->stop; }))
                return;
            backOff = std::min<std::chrono::milliseconds>(backOff * 2, LongestBackOff);
        }
    }

private:
    bool stopping() const
    {
        std::lock_guard lock(shared_->mutex);
        return shared_->stop;
    }
    template <class Change>
    void update(Change change)
    {
        std::lock_guard lock(shared_->mutex);
        change(shared_->state);
    }

    // One connection, from opening to its loss; true when gpsd answered in it.
    bool session()
    {
        gps_data_t data{};
        const GpsdAddress& a = shared_->address;
        if (gps_open(a.host.c_str(), a.port.c_str(), &data) != 0) {
            const std::string why = gps_errstr(errno);
            update([&](GpsState& s) {
                s.link = GpsState::Link::NoDaemon;
                s.error = why;
            });
            return false;
        }
        struct Closer {
            gps_data_t& data;
            ~Closer() { gps_close(&data); }
        } closer{data};
        gps_stream(&data, WATCH_ENABLE | WATCH_JSON, nullptr);
        update([](GpsState& s) {
            GpsState fresh;
            fresh.link = GpsState::Link::Connected;
            fresh.address = s.address;
            s = fresh;
        });
        const GpsClock::time_point opened = GpsClock::now();
        bool answered = false;
        bool partReport = false;  // libgps holds the start of a report, its end to come
        while (!stopping()) {
            const bool ready =
                partReport ? connectionReadable(data, PollMicroseconds) : gps_waiting(&data, PollMicroseconds);
            if (!answered) {
                const auto quiet = GpsClock::now() - opened;
                if (quiet >= SilentAfter)
                    update([](GpsState& s) { s.link = GpsState::Link::Silent; });
                if (quiet >= ReconnectAfter)
                    return false;
            }
            if (!ready)
                continue;
            // What a read sets in data.set is what it brought; the flags of the report
            // before would otherwise stand for a line that is not a report (garbage, or a
            // report cut short), and an old fix be taken as new.
            data.set = 0;
            errno = 0;
            if (gps_read(&data, nullptr, 0) < 0) {
                const std::string why = errno ? std::strerror(errno) : "connection closed";
                update([&](GpsState& s) {
                    s.link = GpsState::Link::Lost;
                    s.error = why;
                });
                return answered;
            }
            // gpsd answers with reports; lines that are none (another service on the
            // port: a wrong port named) are no answer.
            answered = answered || (data.set & ~PACKET_SET) != 0;
            partReport = !(data.set & PACKET_SET);
            if (!answered)
                continue;
            const GpsClock::time_point now = GpsClock::now();
            update([&](GpsState& s) {
                s.link = GpsState::Link::Connected;
                take(data, s, now);
            });
        }
        return answered;
    }

    std::shared_ptr<GpsReader::Shared> shared_;
};

}  // namespace

GpsReader::GpsReader() : shared_(std::make_shared<Shared>())
{
    if (const std::optional<GpsdAddress> address = gpsdAddressFromEnvironment()) {
        start(*address);
        return;
    }
    shared_->state.link = GpsState::Link::NotRead;
    shared_->state.error = std::string("SOUNDER_GPSD \"") + std::getenv("SOUNDER_GPSD") + "\" is no host:port";
    shared_->finished = true;
}

GpsReader::GpsReader(GpsdAddress address) : shared_(std::make_shared<Shared>())
{
    start(std::move(address));
}

void GpsReader::start(GpsdAddress address)
{
    shared_->address = std::move(address);
    shared_->state.link = GpsState::Link::Connecting;
    shared_->state.address = shared_->address.text();
    try {
        std::thread([shared = shared_] {
            // A write to a gpsd that has gone must not end the program: on this thread the
            // write fails with EPIPE instead of raising SIGPIPE.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            Reading(shared).run();
            std::lock_guard lock(shared->mutex);
            shared->finished = true;
            shared->wake.notify_all();
        }).detach();
    } catch (const std::system_error& error) {
        // A limit of threads or processes: the program runs on without positions, and
        // the sidecars say why.
        std::lock_guard lock(shared_->mutex);
        shared_->state.link = GpsState::Link::NotRead;
        shared_->state.error = "no thread can be started for it: " + error.code().message();
        shared_->finished = true;
    }
}

GpsReader::~GpsReader()
{
    std::unique_lock lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    shared_->wake.wait_for(lock, 1s, [this] { return shared_->finished; });
}

GpsState GpsReader::latest() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->state;
}
