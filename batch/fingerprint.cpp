#include "batch/fingerprint.h"

#include "stdruntime/hash.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

namespace ferro::batch {

namespace {

// The shortest text that reads back as the same double.
std::string exactText(double value)
{
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

} // namespace

std::string runFingerprint(const Options &o, std::optional<std::uint64_t> factorHash)
{
    // One line per setting, named, so that no two settings run together.
    std::string text = "ferrogrid-batch run\nversion " FERROGRID_VERSION "\nsizes";
    for (const int size : o.sizes)
        text += " " + std::to_string(size);
    text += "\ntemperatures";
    for (const double t : o.temperatures)
        text += " " + exactText(t);
    text += std::string("\nalgorithm ") + (o.algorithm == Algorithm::Wolff ? "wolff" : "metropolis");
    text += std::string("\nstart ") + (o.start == Start::Infinity ? "infinity" : "zero");
    text += "\nequilibrate " + std::to_string(o.equilibrate) + "\nsweeps " + std::to_string(o.sweeps);
    text += "\nseed " + (o.seed ? std::to_string(*o.seed) : std::string("clock"));
    text += "\nstream " + (o.stream ? std::to_string(*o.stream) : std::string("of the point"));
    text += "\nseries " + std::to_string(o.seriesEvery);
    text += "\nfactors " + (o.factorsFile.empty() || !factorHash ? std::string("none") : hexDigits(*factorHash));
    return hexDigits(fnv1a(text + "\n"));
}

std::string runFingerprint(const Options &o, std::string_view factorContents)
{
    return runFingerprint(o, o.factorsFile.empty() ? std::nullopt : std::optional(fnv1a(factorContents)));
}

std::optional<std::uint64_t> factorFileHash(const std::string &path, std::string &error)
{
    struct Closer {
        void operator()(std::FILE *f) const { std::fclose(f); }
    };
    const std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Fnv1a hash;
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file.get())) > 0;)
        hash.add(std::string_view(buf, n));
    if (std::ferror(file.get())) {
        error = "cannot read " + path + ": " + std::strerror(errno ? errno : EIO);
        return std::nullopt;
    }
    return hash.value();
}

} // namespace ferro::batch
