#include "sim_channel.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace boardsim {

namespace {

constexpr size_t kMaxFileBytes = 1 << 20;
constexpr int kMaxDepth = 16;
constexpr size_t kMaxPaths = 256;
constexpr double kDefaultNoiseVolts = 3e-6;

// A JSON value, as much of one as a description needs.
struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Value> items;
    std::vector<std::string> names;  // of the members, in file order, unique
    std::vector<Value> members;
};

struct ParseError {
    std::string what;
};

// RFC 8259 JSON, strictly: no comments, no trailing commas, no duplicate names, no
// text after the value; numbers as the grammar gives them.
class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    Value document()
    {
        skipSpace();
        Value v = value(0);
        skipSpace();
        if (at_ != s_.size())
            fail("text after the end of the description");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const
    {
        int line = 1, column = 1;
        for (size_t i = 0; i < at_ && i < s_.size(); ++i) {
            if (s_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw ParseError{"line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what};
    }
    bool atEnd() const { return at_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[at_]; }
    void skipSpace()
    {
        while (!atEnd() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
            ++at_;
    }
    void expect(char c)
    {
        if (peek() != c)
            fail(std::string("expected '") + c + "'");
        ++at_;
    }
    void word(std::string_view w)
    {
        if (s_.substr(at_, w.size()) != w)
            fail("expected a value");
        at_ += w.size();
    }

    Value value(int depth)
    {
        if (depth > kMaxDepth)
            fail("nested too deeply");
        Value v;
        switch (peek()) {
        case '{':
            v.kind = Value::Kind::Object;
            object(v, depth);
            break;
        case '[':
            v.kind = Value::Kind::Array;
            array(v, depth);
            break;
        case '"':
            v.kind = Value::Kind::String;
            v.text = string();
            break;
        case 't':
            word("true");
            v.kind = Value::Kind::Bool;
            v.boolean = true;
            break;
        case 'f':
            word("false");
            v.kind = Value::Kind::Bool;
            break;
        case 'n':
            word("null");
            break;
        default:
            v.kind = Value::Kind::Number;
            v.number = number();
        }
        return v;
    }

    void object(Value& v, int depth)
    {
        expect('{');
        skipSpace();
        if (peek() == '}') {
            ++at_;
            return;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"')
                fail("expected a name in quotes");
            std::string name = string();
            for (const std::string& n : v.names)
                if (n == name)
                    fail("\"" + name + "\" given twice");
            skipSpace();
            expect(':');
            skipSpace();
            v.members.push_back(value(depth + 1));
            v.names.push_back(std::move(name));
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            expect('}');
            return;
        }
    }

    void array(Value& v, int depth)
    {
        expect('[');
        skipSpace();
        if (peek() == ']') {
            ++at_;
            return;
        }
        for (;;) {
            skipSpace();
            v.items.push_back(value(depth + 1));
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            expect(']');
            return;
        }
    }

    unsigned hex4()
    {
        unsigned u = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const char c = peek();
            u <<= 4;
            if (c >= '0' && c <= '9')
                u |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                u |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                u |= unsigned(c - 'A' + 10);
            else
                fail("expected four hexadecimal digits after \\u");
        }
        return u;
    }

    static void appendUtf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    std::string string()
    {
        expect('"');
        std::string out;
        for (;;) {
            if (atEnd())
                fail("text in quotes not closed");
            const unsigned char c = static_cast<unsigned char>(s_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20)
                fail("a control character inside quotes");
            if (c != '\\') {
                out += char(c);
                ++at_;
                continue;
            }
            ++at_;
            const char e = peek();
            ++at_;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp = hex4();
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (peek() != '\\' || s_.substr(at_, 2) != "\\u")
                        fail("a lone surrogate in \\u");
                    at_ += 2;
                    const unsigned low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF)
                        fail("a lone surrogate in \\u");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    fail("a lone surrogate in \\u");
                }
                appendUtf8(out, cp);
                break;
            }
            default:
                --at_;
                fail("an unknown escape in quotes");
            }
        }
    }

    double number()
    {
        const size_t start = at_;
        const auto digits = [&] {
            const size_t from = at_;
            while (peek() >= '0' && peek() <= '9')
                ++at_;
            return at_ > from;
        };
        if (peek() == '-')
            ++at_;
        if (peek() == '0')
            ++at_;
        else if (!digits())
            fail("expected a value");
        if (peek() == '.') {
            ++at_;
            if (!digits())
                fail("expected digits after the decimal point");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-')
                ++at_;
            if (!digits())
                fail("expected digits in the exponent");
        }
        double v = 0;
        const auto r = std::from_chars(s_.data() + start, s_.data() + at_, v);
        if (r.ec != std::errc() || !std::isfinite(v)) {
            at_ = start;
            fail("a number out of range");
        }
        return v;
    }

    std::string_view s_;
    size_t at_ = 0;
};

// The members of an object, each looked up by name once; names never looked up are
// reported as unknown.
class Fields {
public:
    Fields(const Value& object, std::string where) : object_(object), where_(std::move(where)) {}

    [[noreturn]] void fail(const std::string& what) const
    {
        throw ParseError{(where_.empty() ? std::string() : where_ + ": ") + what};
    }
    const Value* find(const char* name)
    {
        used_.emplace_back(name);
        for (size_t i = 0; i < object_.names.size(); ++i)
            if (object_.names[i] == name)
                return &object_.members[i];
        return nullptr;
    }
    std::optional<double> number(const char* name)
    {
        const Value* v = find(name);
        if (!v)
            return std::nullopt;
        if (v->kind != Value::Kind::Number)
            fail(std::string("\"") + name + "\" must be a number");
        return v->number;
    }
    double required(const char* name)
    {
        const std::optional<double> v = number(name);
        if (!v)
            fail(std::string("\"") + name + "\" is missing");
        return *v;
    }
    void noOthers() const
    {
        for (const std::string& n : object_.names) {
            bool known = false;
            for (const std::string& u : used_)
                known |= u == n;
            if (!known)
                fail("unknown field \"" + n + "\"");
        }
    }
    const std::string& where() const { return where_; }

private:
    const Value& object_;
    std::string where_;
    std::vector<std::string> used_;
};

void requireObject(const Value& v, const std::string& where)
{
    if (v.kind != Value::Kind::Object)
        throw ParseError{(where.empty() ? std::string("the description") : where) + " must be an object"};
}

double nonNegative(Fields& f, const char* name, double value)
{
    if (!(value >= 0.0))
        f.fail(std::string("\"") + name + "\" must be 0 or more");
    return value;
}

SignalModel describedModel(const Value& root)
{
    requireObject(root, "");
    Fields top(root, "");
    const Value* schema = top.find("schema");
    if (!schema)
        top.fail("\"schema\" is missing");
    if (schema->kind != Value::Kind::String || schema->text != SimChannelSchema)
        top.fail(std::string("\"schema\" must be \"") + SimChannelSchema + "\"");
    const double bandwidthHz = top.required("bandwidth_hz");
    if (!(bandwidthHz > 0.0))
        top.fail("\"bandwidth_hz\" must be more than 0");
    const double referenceVolts = top.required("reference_volts");
    if (!(referenceVolts > 0.0))
        top.fail("\"reference_volts\" must be more than 0");
    const double systemDelayNs = nonNegative(top, "system_delay_ns", top.number("system_delay_ns").value_or(0.0));
    const double noiseVolts = nonNegative(top, "noise_volts", top.number("noise_volts").value_or(kDefaultNoiseVolts));
    const Value* channels = top.find("channels");
    if (!channels)
        top.fail("\"channels\" is missing");
    if (channels->kind != Value::Kind::Array || channels->items.empty() || channels->items.size() > 3)
        top.fail("\"channels\" must be a list of 1 to 3 channels");
    top.noOthers();

    SignalModel model = defaultSignalModel();
    for (size_t c = 0; c < 3; ++c) {
        ChannelModel& out = model.channels[c];
        out = ChannelModel{};
        out.noiseVolts = noiseVolts;
        if (c >= channels->items.size())
            continue;  // a channel not described receives noise only
        const std::string where = "channels[" + std::to_string(c) + "]";
        requireObject(channels->items[c], where);
        Fields ch(channels->items[c], where);
        if (const std::optional<double> n = ch.number("noise_volts"))
            out.noiseVolts = nonNegative(ch, "noise_volts", *n);
        const Value* paths = ch.find("paths");
        if (!paths)
            ch.fail("\"paths\" is missing");
        if (paths->kind != Value::Kind::Array || paths->items.size() > kMaxPaths)
            ch.fail("\"paths\" must be a list of at most " + std::to_string(kMaxPaths) + " paths");
        ch.noOthers();
        double total = 0;  // of the amplitudes so far
        for (size_t p = 0; p < paths->items.size(); ++p) {
            const std::string at = where + ".paths[" + std::to_string(p) + "]";
            requireObject(paths->items[p], at);
            Fields path(paths->items[p], at);
            const double delayNs = nonNegative(path, "delay_ns", path.required("delay_ns"));
            const double gainDb = path.required("gain_db");
            if (gainDb > 100.0 || gainDb < -400.0)
                path.fail("\"gain_db\" must lie within -400..100");
            const double phase = path.number("phase_rad").value_or(0.0);
            path.noOthers();
            // The de-ramped tone: bandwidth x delay cycles over one sweep.
            const double beatCycles = bandwidthHz * (systemDelayNs + delayNs) * 1e-9;
            if (!std::isfinite(beatCycles))
                path.fail("the delay is beyond any sweep");
            out.paths.push_back({beatCycles, referenceVolts * std::pow(10.0, gainDb / 20.0), phase});
            // Paths whose sum, at up to 100 dB of receiver gain, no number holds would add up
            // to +inf and -inf, and so to no value at all, in place of a clipped wave.
            total += out.paths.back().amplitude;
            if (!std::isfinite(total * 1e5))
                path.fail("the amplitude (\"reference_volts\" x 10^(\"gain_db\" / 20)) is beyond any receiver");
        }
    }
    return model;
}

}  // namespace

bool parseSimChannel(std::string_view text, SignalModel& model, std::string& fault)
{
    try {
        model = describedModel(Parser(text).document());
        return true;
    } catch (const ParseError& e) {
        fault = e.what;
        return false;
    }
}

bool readSimChannelFile(const std::string& path, SignalModel& model, std::string& fault)
{
    // Opened without waiting: a FIFO that no program writes would otherwise hold the
    // opening (and so the program's start) for ever. It then reads as empty.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fault = std::strerror(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
        fault = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        fault = "a folder, not a file";
        return false;
    }
    // From here on a read waits for a writer that is there, as for any pipe.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        fault = std::strerror(errno);
        return false;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            fault = std::string("cannot be read: ") + std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
        if (text.size() > kMaxFileBytes) {
            fault = "larger than " + std::to_string(kMaxFileBytes) + " bytes";
            return false;
        }
    }
    if (text.empty() && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) {
        fault = "nothing was written to it (a FIFO or pipe that no program writes)";
        return false;
    }
    return parseSimChannel(text, model, fault);
}

}  // namespace boardsim
