#pragma once
// A real gpsd for the tests: gpsfake (Debian gpsd-clients) replays an NMEA log written
// by the test into a gpsd listening on a free local port. Tests that need it skip,
// saying so, where gpsd or gpsfake is not installed. Also a port that never answers,
// and a stand-in that sends what a test scripts.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace gpsdfix {

// Why the real daemon cannot run here, or empty when it can.
inline QString missingDaemon()
{
    const QStringList sbin = {"/usr/sbin", "/sbin", "/usr/local/sbin"};
    if (QStandardPaths::findExecutable("gpsfake").isEmpty())
        return "gpsfake is not installed (Debian gpsd-clients; tools/install_deps.sh --all)";
    if (QStandardPaths::findExecutable("gpsd").isEmpty() && QStandardPaths::findExecutable("gpsd", sbin).isEmpty())
        return "gpsd is not installed (Debian gpsd; tools/install_deps.sh --all)";
    return QString();
}

// A TCP port on 127.0.0.1 that nothing listens on (just now).
inline int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Whether a gpsd answers on the port: it greets every client with its VERSION report.
// (Another test's listening socket may have been given the same port meanwhile.)
inline bool gpsdAnswers(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ok) {
        timeval limit{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char greeting[64] = {};
        const ssize_t got = ::recv(fd, greeting, sizeof greeting - 1, 0);
        ok = got > 0 && std::string(greeting).find("\"class\":\"VERSION\"") != std::string::npos &&
             std::string(greeting).find("\"release\":\"scripted\"") == std::string::npos;
    }
    ::close(fd);
    return ok;
}

// A port that takes connections into its backlog and never says a word.
class SilentPort {
public:
    SilentPort()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t size = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
    }
    ~SilentPort() { ::close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// The greeting of the stand-in below, which gpsdAnswers does not take for gpsd's.
inline const char* const ScriptedVersion =
    "{\"class\":\"VERSION\",\"release\":\"scripted\",\"rev\":\"scripted\",\"proto_major\":3,\"proto_minor\":14}\n";

// A stand-in for gpsd that says what a test scripts, for what a real gpsd never sends
// (reports cut short, garbage, wrong types): its greeting, then each step's bytes after
// the step's pause, on the first connection it takes; then it keeps that connection
// open and silent until destroyed.
class ScriptedGpsd {
public:
    struct Step {
        std::chrono::milliseconds pause;
        std::string bytes;
    };
    // `asGpsd` false: no greeting, device list or WATCH answer, as another service
    // that a wrong port leads to.
    explicit ScriptedGpsd(std::vector<Step> steps, bool asGpsd = true) : steps_(std::move(steps)), asGpsd_(asGpsd)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        socklen_t size = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedGpsd()
    {
        stop_ = true;
        thread_.join();
        if (client_ >= 0)
            ::close(client_);
        ::close(listener_);
    }
    int port() const { return port_; }
    // Every step has been sent.
    bool done() const { return done_; }

private:
    bool waitFor(int fd, std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0)
                return true;
            if (std::chrono::steady_clock::now() > end)
                return false;
        }
        return false;
    }
    void pause(std::chrono::milliseconds length)
    {
        const auto end = std::chrono::steady_clock::now() + length;
        while (!stop_ && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    void send(const std::string& bytes) { (void)::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void serve()
    {
        // The script is for a client that asks for reports (?WATCH), not for another
        // test's look at whether a gpsd answers on a port it was given too.
        while (client_ < 0) {
            if (!waitFor(listener_, std::chrono::seconds(10)))
                return;
            client_ = ::accept(listener_, nullptr, nullptr);
            if (client_ < 0)
                return;
            if (asGpsd_)
                send(ScriptedVersion);
            char command[512] = {};
            if (!waitFor(client_, std::chrono::seconds(5)) || ::recv(client_, command, sizeof command - 1, 0) <= 0 ||
                std::string(command).find("?WATCH") == std::string::npos) {
                ::close(client_);
                client_ = -1;
            }
        }
        if (asGpsd_)
            send("{\"class\":\"DEVICES\",\"devices\":[{\"class\":\"DEVICE\",\"path\":\"/dev/ttyS0\","
                 "\"activated\":\"2025-06-01T12:00:00.000Z\",\"driver\":\"NMEA0183\"}]}\n"
                 "{\"class\":\"WATCH\",\"enable\":true,\"json\":true}\n");
        for (const Step& step : steps_) {
            pause(step.pause);
            if (stop_)
                return;
            send(step.bytes);
        }
        done_ = true;
    }

    std::vector<Step> steps_;
    bool asGpsd_ = true;
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// One NMEA sentence with its checksum and CR LF.
inline std::string sentence(const std::string& body)
{
    unsigned sum = 0;
    for (const char c : body)
        sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

struct Place {
    double latitude;   // degrees, north positive
    double longitude;  // degrees, east positive
    double altitudeMsl;
    double geoidSeparation;
};

// "DDMM.MMMMMM,N" for a latitude, "DDDMM.MMMMMM,E" for a longitude.
inline std::string nmeaAngle(double degrees, bool latitude)
{
    const char hemisphere = latitude ? (degrees < 0 ? 'S' : 'N') : (degrees < 0 ? 'W' : 'E');
    const double a = degrees < 0 ? -degrees : degrees;
    const int whole = int(a);
    const double minutes = (a - whole) * 60.0;
    char text[40];
    std::snprintf(text, sizeof text, latitude ? "%02d%09.6f,%c" : "%03d%09.6f,%c", whole, minutes, hemisphere);
    return text;
}

// The log's time of second s: 2025-06-01 12:00:00 UTC plus s.
inline std::string logTimeUtc(int s)
{
    char text[32];
    std::snprintf(text, sizeof text, "2025-06-01T12:%02d:%02d.000Z", s / 60, s % 60);
    return text;
}

// `fixes` seconds with a 3D fix at `place`, then `lost` seconds without a fix.
inline std::string nmeaLog(const Place& place, int fixes, int lost)
{
    std::string log;
    for (int s = 0; s < fixes + lost; ++s) {
        char hms[16];
        std::snprintf(hms, sizeof hms, "12%02d%02d.00", s / 60, s % 60);
        const bool fix = s < fixes;
        const std::string lat = nmeaAngle(place.latitude, true), lon = nmeaAngle(place.longitude, false);
        char gga[160];
        std::snprintf(gga, sizeof gga, "GPGGA,%s,%s,%s,%d,%s,0.9,%.1f,M,%.1f,M,,", hms, lat.c_str(), lon.c_str(),
                      fix ? 1 : 0, fix ? "08" : "00", place.altitudeMsl, place.geoidSeparation);
        log += sentence(std::string("GPRMC,") + hms + (fix ? ",A," : ",V,") + lat + "," + lon + ",010.0,084.4,010625,,");
        log += sentence(gga);
        log += sentence(fix ? "GPGSA,A,3,04,05,09,12,17,20,24,28,,,,,1.8,0.9,1.5" : "GPGSA,A,1,,,,,,,,,,,,,,,");
    }
    return log;
}

inline bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// gpsfake with its gpsd, in a process group of its own so that stop() ends both.
class FakeGpsd {
public:
    // Starts gpsfake on `log` (written to `folder`), a sentence every `cycle` seconds;
    // `once` plays the log once rather than over and over.
    bool start(const QString& folder, const std::string& log, double cycle, bool once)
    {
        // A port taken by someone else between choosing and binding it: again on another.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (startOn(freePort(), folder, log, cycle, once))
                return true;
            stop();
        }
        return false;
    }

private:
    bool startOn(int port, const QString& folder, const std::string& log, double cycle, bool once)
    {
        port_ = port;
        const QString path = QDir(folder).filePath("fake.nmea");
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(log.data(), qint64(log.size())) != qint64(log.size()))
            return false;
        file.close();
        // -n: the log is fed from the start, not from the first client on (the probe
        // below is a client that leaves at once).
        QStringList args = {"-q", "-n", "-c", QString::number(cycle), "-P", QString::number(port_)};
        if (once)
            args << "-1";
        args << path;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", env.value("PATH") + ":/usr/sbin:/sbin");
        // gpsfake names gpsd's control socket after its own pid in TMPDIR and takes an
        // existing file of that name for gpsd being ready: a socket left in /tmp by an
        // earlier gpsfake of the same pid would leave gpsd without the log's device.
        const QString sockets = QDir(folder).filePath("gpsfake-tmp");
        if (!QDir().mkpath(sockets))
            return false;
        env.insert("TMPDIR", sockets);
        process_.setProcessEnvironment(env);
        process_.setWorkingDirectory(folder);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setChildProcessModifier([] { ::setsid(); });
        process_.start("gpsfake", args);
        if (!process_.waitForStarted(5000))
            return false;
        return waitUntil([this] { return process_.state() == QProcess::Running && gpsdAnswers(port_); },
                         std::chrono::seconds(10));
    }

public:
    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(-pid_t(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(5000)) {
            ::kill(-pid_t(process_.processId()), SIGKILL);
            process_.waitForFinished(2000);
        }
    }
    ~FakeGpsd() { stop(); }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = 0;
};

}  // namespace gpsdfix
