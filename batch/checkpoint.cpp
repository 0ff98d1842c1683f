#include "batch/checkpoint.h"

#include "batch/options.h"
#include "stdruntime/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferro::batch {

namespace {

constexpr std::string_view Magic = "ferrogrid-batch checkpoint\n";
constexpr std::uint64_t Format = 1;
// Larger than any checkpoint could be: a length beyond it is a damaged one.
constexpr std::uint64_t MostBytes = std::uint64_t(1) << 40;

std::uint64_t fnv1a(std::string_view bytes)
{
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string hex(std::uint64_t v)
{
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

std::string exact(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// Little-endian words, strings as length and bytes.
struct Writer {
    std::string out;
    void u64(std::uint64_t v)
    {
        for (int b = 0; b < 8; ++b)
            out += char((v >> (8 * b)) & 0xFF);
    }
    void i64(std::int64_t v) { u64(std::uint64_t(v)); }
    void f64(double v)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        u64(bits);
    }
    void text(std::string_view s)
    {
        u64(s.size());
        out += s;
    }
};

struct Reader {
    std::string_view in;
    bool ok = true;
    std::uint64_t u64()
    {
        if (in.size() < 8) {
            ok = false;
            in = {};
            return 0;
        }
        std::uint64_t v = 0;
        for (int b = 0; b < 8; ++b)
            v |= std::uint64_t(static_cast<unsigned char>(in[std::size_t(b)])) << (8 * b);
        in.remove_prefix(8);
        return v;
    }
    std::int64_t i64() { return std::int64_t(u64()); }
    double f64()
    {
        const std::uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    std::string_view bytes(std::uint64_t n)
    {
        if (!ok || n > in.size()) {
            ok = false;
            in = {};
            return {};
        }
        const std::string_view s = in.substr(0, n);
        in.remove_prefix(n);
        return s;
    }
    std::string text() { return std::string(bytes(u64())); }
};

void putValue(Writer &w, const analysis::Value &v)
{
    w.f64(v.mean);
    w.f64(v.error);
}

analysis::Value getValue(Reader &r)
{
    analysis::Value v;
    v.mean = r.f64();
    v.error = r.f64();
    return v;
}

void putResults(Writer &w, const analysis::Results &r)
{
    w.i64(r.sweeps);
    for (const analysis::Value *v : {&r.energy, &r.absMag, &r.specificHeat, &r.susceptibility,
                                     &r.susceptibilityFull, &r.binder, &r.acceptance, &r.energyFirstQuarter,
                                     &r.energyLastQuarter, &r.absMagFirstQuarter, &r.absMagLastQuarter,
                                     &r.correlationLength, &r.correlationLengthOverSize, &r.energyLastHalf})
        putValue(w, *v);
    for (const double t : {r.energyTau, r.absMagTau, r.magSquaredTau, r.slowestTau})
        w.f64(t);
    w.i64(r.jackknifeBlocks);
    w.u64(r.drift);
    w.i64(r.changedSweeps);
    w.i64(r.parityChanges);
}

analysis::Results getResults(Reader &r)
{
    analysis::Results x;
    x.sweeps = r.i64();
    for (analysis::Value *v : {&x.energy, &x.absMag, &x.specificHeat, &x.susceptibility, &x.susceptibilityFull,
                               &x.binder, &x.acceptance, &x.energyFirstQuarter, &x.energyLastQuarter,
                               &x.absMagFirstQuarter, &x.absMagLastQuarter, &x.correlationLength,
                               &x.correlationLengthOverSize, &x.energyLastHalf})
        *v = getValue(r);
    for (double *t : {&x.energyTau, &x.absMagTau, &x.magSquaredTau, &x.slowestTau})
        *t = r.f64();
    x.jackknifeBlocks = r.i64();
    x.drift = r.u64() != 0;
    x.changedSweeps = r.i64();
    x.parityChanges = r.i64();
    return x;
}

void putState(Writer &w, const PointState &s)
{
    w.i64(s.sweep);
    w.i64(s.clock.clusters);
    w.i64(s.clock.added);
    w.i64(s.clock.measuredClusters);
    w.i64(s.clock.measuredAdded);
    w.i64(s.clock.made);
    w.f64(s.clock.due);
    w.text(std::string_view(reinterpret_cast<const char *>(s.spins.data()), s.spins.size()));
    for (const std::uint64_t word : s.stream)
        w.u64(word);
    w.i64(s.wolff.added);
    for (const std::uint64_t word : s.wolff.bonds.lanes)
        w.u64(word);
    w.text(std::string_view(reinterpret_cast<const char *>(s.wolff.bonds.open.data()), sizeof s.wolff.bonds.open));
    w.i64(s.wolff.bonds.next);
    w.u64(s.wolff.bonds.madeFor);
    w.u64(s.wolff.bonds.seeded);
    w.u64(s.accumulator.size());
    for (const std::uint64_t word : s.accumulator)
        w.u64(word);
}

PointState getState(Reader &r)
{
    PointState s;
    s.sweep = r.i64();
    s.clock.clusters = r.i64();
    s.clock.added = r.i64();
    s.clock.measuredClusters = r.i64();
    s.clock.measuredAdded = r.i64();
    s.clock.made = r.i64();
    s.clock.due = r.f64();
    const std::string_view spins = r.bytes(r.u64());
    s.spins.assign(spins.begin(), spins.end());
    for (std::uint64_t &word : s.stream)
        word = r.u64();
    s.wolff.added = r.i64();
    for (std::uint64_t &word : s.wolff.bonds.lanes)
        word = r.u64();
    const std::string_view open = r.bytes(r.u64());
    if (open.size() == sizeof s.wolff.bonds.open)
        std::memcpy(s.wolff.bonds.open.data(), open.data(), open.size());
    else
        r.ok = false;
    s.wolff.bonds.next = std::int32_t(r.i64());
    s.wolff.bonds.madeFor = r.u64();
    s.wolff.bonds.seeded = r.u64() != 0;
    const std::uint64_t words = r.u64();
    if (words > r.in.size() / 8) {
        r.ok = false;
        return s;
    }
    s.accumulator.resize(words);
    for (std::uint64_t &word : s.accumulator)
        word = r.u64();
    return s;
}

// The line of `text` that holds "--name", or "(none)".
std::string lineOf(const std::string &text, std::string_view name)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        if (line == name || line.rfind(std::string(name) + " ", 0) == 0)
            return line;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return "no " + std::string(name);
}

} // namespace

std::string canonicalOptions(const Options &o)
{
    std::string text = "--temperatures ";
    for (std::size_t i = 0; i < o.temperatures.size(); ++i)
        text += (i ? "," : "") + exact(o.temperatures[i]);
    text += "\n--size ";
    for (std::size_t i = 0; i < o.sizes.size(); ++i)
        text += (i ? "," : "") + std::to_string(o.sizes[i]);
    text += std::string("\n--algorithm ") + (o.algorithm == Algorithm::Wolff ? "wolff" : "metropolis");
    text += "\n--equilibrate " + std::to_string(o.equilibrate);
    text += "\n--sweeps " + std::to_string(o.sweeps);
    text += std::string("\n--start ") + (o.start == Start::Zero ? "zero" : "infinity");
    text += "\n--seed " + (o.seed ? std::to_string(*o.seed) : std::string("(from the clock)"));
    text += "\n--stream " + (o.stream ? std::to_string(*o.stream) : std::string("(none)"));
    text += "\n--factors " + (o.factorsFile.empty() ? std::string("(none)") : o.factorsFile);
    text += "\n--output " + (o.outputFile.empty() ? std::string("(standard output)") : o.outputFile);
    text += "\n--series " + (o.seriesEvery > 0 ? std::to_string(o.seriesEvery) : std::string("(none)"));
    text += "\n--shard "
        + (o.shard ? std::to_string(o.shard->index) + "/" + std::to_string(o.shard->count) : std::string("(none)"));
    return text + "\n";
}

std::string factorFingerprint(const std::optional<std::string> &contents)
{
    return contents ? hex(fnv1a(*contents)) : "none";
}

std::string encodeCheckpoint(const Checkpoint &c)
{
    Writer w;
    w.text(c.version);
    w.text(c.options);
    w.text(c.factors);
    w.u64(c.seed);
    w.u64(c.outputLength);
    w.u64(c.written);
    w.u64(c.points.size());
    for (const SavedPoint &p : c.points) {
        w.u64(p.kind);
        w.text(p.series);
        if (p.kind == SavedPoint::Done) {
            putResults(w, p.results);
            w.f64(p.meanClusterSize);
        } else if (p.kind == SavedPoint::Running) {
            putState(w, p.state);
        }
    }
    Writer file;
    file.out = std::string(Magic) + "format " + std::to_string(Format) + "\n";
    file.u64(w.out.size());
    file.out += w.out;
    file.u64(fnv1a(w.out));
    return std::move(file.out);
}

std::optional<Checkpoint> decodeCheckpoint(std::string_view bytes, std::string &error)
{
    if (bytes.substr(0, Magic.size()) != Magic) {
        error = "is not a checkpoint of ferrogrid-batch";
        return std::nullopt;
    }
    bytes.remove_prefix(Magic.size());
    const std::string formatLine = "format " + std::to_string(Format) + "\n";
    if (bytes.substr(0, formatLine.size()) != formatLine) {
        const std::string_view line = bytes.substr(0, std::min(bytes.find('\n'), std::size_t(40)));
        error = "is a checkpoint in another format (" + std::string(line) + "; this program reads format "
            + std::to_string(Format) + ")";
        return std::nullopt;
    }
    bytes.remove_prefix(formatLine.size());
    Reader head {bytes};
    const std::uint64_t length = head.u64();
    if (!head.ok || length > MostBytes || head.in.size() < length + 8) {
        error = "is cut short (" + std::to_string(bytes.size()) + " bytes after its first lines, "
            + (head.ok && length <= MostBytes ? std::to_string(length + 16) : std::string("more")) + " expected)";
        return std::nullopt;
    }
    if (head.in.size() > length + 8) {
        error = "has " + std::to_string(head.in.size() - length - 8) + " bytes too many at its end";
        return std::nullopt;
    }
    const std::string_view body = head.in.substr(0, length);
    Reader sum {head.in.substr(length)};
    if (sum.u64() != fnv1a(body)) {
        error = "is damaged: its checksum does not match its contents";
        return std::nullopt;
    }
    Reader r {body};
    Checkpoint c;
    c.version = r.text();
    c.options = r.text();
    c.factors = r.text();
    c.seed = r.u64();
    c.outputLength = r.u64();
    c.written = r.u64();
    const std::uint64_t points = r.u64();
    for (std::uint64_t p = 0; p < points && r.ok; ++p) {
        SavedPoint s;
        const std::uint64_t kind = r.u64();
        s.series = r.text();
        if (kind == SavedPoint::Done) {
            s.results = getResults(r);
            s.meanClusterSize = r.f64();
        } else if (kind == SavedPoint::Running) {
            s.state = getState(r);
        } else if (kind != SavedPoint::NotStarted) {
            r.ok = false;
        }
        s.kind = SavedPoint::Kind(kind);
        c.points.push_back(std::move(s));
    }
    if (!r.ok || !r.in.empty() || c.written > c.points.size()) {
        error = "does not hold what a checkpoint holds although its checksum matches (written by another program?)";
        return std::nullopt;
    }
    return c;
}

std::string checkpointDifference(const Checkpoint &c, const std::string &version, const std::string &options,
                                 const std::string &factors)
{
    const auto trimmed = [](std::string s) {
        while (!s.empty() && s.back() == '\n')
            s.pop_back();
        return s;
    };
    if (c.version != version)
        return "was written by " + trimmed(c.version) + ", and this is " + trimmed(version);
    if (c.options != options) {
        for (const std::string_view name : {"--temperatures", "--size", "--algorithm", "--equilibrate", "--sweeps",
                                            "--start", "--seed", "--stream", "--factors", "--output", "--series",
                                            "--shard"}) {
            const std::string then = lineOf(c.options, name), now = lineOf(options, name);
            if (then != now)
                return "is of a run with " + then + ", and this one has " + now;
        }
        return "is of a run with other options";
    }
    if (c.factors != factors)
        return "is of a run whose factor file had other contents (" + c.factors + ", now " + factors + ")";
    return {};
}

bool writeAtomically(const std::string &path, std::string_view bytes, std::string &error)
{
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    int failed = writeAll(fd, bytes, done);
    if (!failed && ::fsync(fd) != 0)
        failed = errno;
    if (::close(fd) != 0 && !failed)
        failed = errno;
    if (!failed && std::rename(temporary.c_str(), path.c_str()) != 0)
        failed = errno;
    if (failed) {
        ::unlink(temporary.c_str());
        error = "cannot write " + path + ": " + std::strerror(failed);
        return false;
    }
    // The rename itself on the disk: the folder flushed too.
    std::string folder = path;
    const std::string dir = ::dirname(folder.data());
    if (const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); d >= 0) {
        ::fsync(d);
        ::close(d);
    }
    return true;
}

std::optional<std::string> readWhole(const std::string &path, std::string &error)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    const bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return text;
}

} // namespace ferro::batch
