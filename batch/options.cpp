#include "batch/options.h"

#include "core/flip.h"
#include "stdruntime/textfields.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ferro::batch {

namespace {

std::optional<double> number(std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A temperature of the list, or the error.
std::optional<double> temperature(std::string_view text, std::string &error)
{
    const auto value = number(text);
    if (!value)
        error = messageQuote(text) + " is not a number";
    else if (*value <= 0)
        error = messageQuote(text) + " is not a temperature above 0";
    else if (*value < MinimumTemperature)
        error = messageQuote(text) + " is below 0.1, the lowest temperature a run goes at";
    else
        return value;
    return std::nullopt;
}

// a + i s, rounded to 12 significant digits so that 1.5 + 3 x 0.1 is 1.8.
double gridPoint(double from, double step, std::int64_t i)
{
    const double x = from + double(i) * step;
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 12).ptr;
    double rounded = x;
    std::from_chars(buf, end, rounded);
    return rounded;
}

} // namespace

std::vector<double> parseTemperatures(std::string_view text, std::string &error)
{
    std::vector<double> out;
    if (text.find(':') != std::string_view::npos) {
        const std::vector<std::string_view> part = splitList(text, ':', true);
        if (part.size() != 3) {
            error = messageQuote(text) + " is not a range FROM:TO:STEP";
            return {};
        }
        const auto from = temperature(part[0], error);
        if (!from)
            return {};
        const auto to = temperature(part[1], error);
        if (!to)
            return {};
        const auto step = number(part[2]);
        if (!step) {
            error = "the step " + messageQuote(part[2]) + " is not a number";
            return {};
        }
        if (*step == 0) {
            error = "the range " + messageQuote(text) + " has a step of 0";
            return {};
        }
        if ((*to - *from) * *step < 0) {
            error = "the range " + messageQuote(text) + " steps away from its end: the step must be "
                + (*to > *from ? "positive" : "negative");
            return {};
        }
        // Both ends count when within a millionth of a step of the grid.
        const double intervals = std::floor((*to - *from) / *step + 1e-6);
        if (intervals >= double(MaxTemperatures)) {
            error = "the range " + messageQuote(text) + " gives more than " + std::to_string(MaxTemperatures) + " temperatures";
            return {};
        }
        for (std::int64_t i = 0; i <= std::int64_t(intervals); ++i) {
            out.push_back(gridPoint(*from, *step, i));
            if (i > 0 && out[i] == out[i - 1]) {
                error = "the range " + messageQuote(text) + " steps by less than the temperatures' 12 significant "
                    "digits: it gives " + numberText(out[i]) + " twice";
                return {};
            }
        }
        return out;
    }
    for (const std::string_view item : splitList(text, ',', true)) {
        const auto t = temperature(item, error);
        if (!t)
            return {};
        if (out.size() == MaxTemperatures) {
            error = "more than " + std::to_string(MaxTemperatures) + " temperatures";
            return {};
        }
        out.push_back(*t);
    }
    return out;
}

ParsedOptions parseOptions(const std::vector<std::string> &args)
{
    ParsedOptions parsed;
    Options &o = parsed.options;
    std::string &error = parsed.error;
    bool haveTemperatures = false;

    auto wholeNumber = [&](const std::string &name, std::string_view text, std::int64_t lowest, std::int64_t highest,
                     std::int64_t &into) {
        const auto value = number(text);
        if (!value || *value != std::floor(*value) || *value < double(lowest) || *value > double(highest)) {
            error = name + ": " + messageQuote(text) + " is not a whole number from " + std::to_string(lowest) + " to "
                + std::to_string(highest);
            return;
        }
        into = std::int64_t(*value);
    };

    for (std::size_t a = 0; a < args.size() && error.empty(); ++a) {
        std::string name = args[a];
        std::optional<std::string> value;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
            }
        } else {
            error = "unexpected argument " + messageQuote(name) + " (options begin with --; see --help)";
            break;
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name == "--allow-missing" && !value) {
            o.allowMissing = true;
            continue;
        }
        if (name == "--merge") {
            // The tables: every argument up to the next option.
            o.merge = true;
            if (value)
                o.mergeFiles.push_back(*value);
            while (a + 1 < args.size() && args[a + 1].rfind("--", 0) != 0)
                o.mergeFiles.push_back(args[++a]);
            continue;
        }
        if (name == "--version") {
            o.version = true;
            continue;
        }
        static const char *const withValue[] = {"--temperatures", "--equilibrate", "--sweeps", "--start",
                                                "--seed", "--factors", "--output", "--series",
                                                "--plot", "--jobs", "--write-factors", "--shard",
                                                "--plot-table", "--size", "--algorithm", "--stream"};
        bool known = false;
        for (const char *n : withValue)
            known = known || name == n;
        if (!known) {
            error = "unknown option " + messageQuote(name) + " (see --help)";
            break;
        }
        if (!value) {
            if (a + 1 >= args.size()) {
                error = name + " needs a value";
                break;
            }
            value = args[++a];
        }
        const std::string &v = *value;
        if (name == "--temperatures") {
            std::string why;
            o.temperatures = parseTemperatures(v, why);
            if (!why.empty())
                error = name + ": " + why;
            haveTemperatures = true;
        } else if (name == "--equilibrate") {
            wholeNumber(name, v, 0, MaxSweeps, o.equilibrate);
            o.equilibrateGiven = true;
        } else if (name == "--sweeps") {
            wholeNumber(name, v, 1, MaxSweeps, o.sweeps);
        } else if (name == "--series") {
            wholeNumber(name, v, 1, MaxSweeps, o.seriesEvery);
        } else if (name == "--jobs") {
            std::int64_t jobs = 0;
            wholeNumber(name, v, 1, MaxJobs, jobs);
            o.jobs = int(jobs);
        } else if (name == "--start") {
            if (v == "zero")
                o.start = Start::Zero;
            else if (v == "infinity")
                o.start = Start::Infinity;
            else
                error = name + ": " + messageQuote(v) + " is neither zero nor infinity";
        } else if (name == "--seed" || name == "--stream") {
            std::uint64_t seed = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), seed);
            if (v.empty() || ec != std::errc() || end != v.data() + v.size())
                error = name + ": " + messageQuote(v) + " is not a whole number from 0 to 18446744073709551615";
            (name == "--seed" ? o.seed : o.stream) = seed;
        } else if (name == "--size") {
            o.sizes.clear();
            for (const std::string_view item : splitList(v, ',', true)) {
                std::int64_t size = 0;
                wholeNumber(name, item, engine::MinimumSize, engine::MaximumSize, size);
                if (!error.empty())
                    break;
                if (std::find(o.sizes.begin(), o.sizes.end(), int(size)) != o.sizes.end()) {
                    error = name + ": " + std::to_string(size) + " is given twice";
                    break;
                }
                o.sizes.push_back(int(size));
            }
        } else if (name == "--algorithm") {
            if (v == "metropolis")
                o.algorithm = Algorithm::Metropolis;
            else if (v == "wolff")
                o.algorithm = Algorithm::Wolff;
            else
                error = name + ": " + messageQuote(v) + " is neither metropolis nor wolff";
        } else if (name == "--plot") {
            const std::size_t dot = v.rfind('.');
            std::string ext = dot == std::string::npos ? std::string() : v.substr(dot + 1);
            for (char &c : ext)
                c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            if (ext != "png" && ext != "svg" && ext != "pdf")
                error = name + ": " + messageQuote(v) + " does not end in .png, .svg or .pdf";
            o.plotFile = v;
        } else if (name == "--shard") {
            std::string why;
            o.shard = parseShard(v, why);
            if (!why.empty())
                error = name + ": " + why;
        } else if (v.empty()) {
            error = name + " needs a value";
        } else if (name == "--factors") {
            o.factorsFile = v;
        } else if (name == "--output") {
            o.outputFile = v;
        } else if (name == "--write-factors") {
            o.writeFactorsPattern = v;
        } else if (name == "--plot-table") {
            o.plotTable = v;
        }
    }
    if (!error.empty() || o.help || o.version)
        return parsed;
    if (o.merge && o.mergeFiles.empty())
        error = "--merge needs the tables to merge: --merge FILE...";
    else if (o.merge && !o.plotTable.empty())
        error = "--merge and --plot-table go in separate runs: merge first, then draw the merged table";
    else if (o.merge && !o.plotFile.empty())
        error = "--merge writes a table: draw it with --plot-table TABLE --plot FILE";
    else if (o.allowMissing && !o.merge)
        error = "--allow-missing goes with --merge";
    else if (!o.plotTable.empty() && o.plotFile.empty())
        error = "--plot-table needs --plot FILE, the figure to draw";
    else if (o.shard && !o.seed)
        error = "--shard needs --seed: every share of a run must use the same seed";
    else if (o.shard && o.seriesEvery > 0)
        error = "--shard makes tables: it does not go with --series";
    else if (o.sizes.size() > 1 && !o.factorsFile.empty())
        error = "--factors: a factor file is for one size, and --size gives " + std::to_string(o.sizes.size())
            + ": run each size with its own file";
    else if (o.sizes.size() > 1 && !o.writeFactorsPattern.empty())
        error = "--write-factors writes one file for one size, and --size gives " + std::to_string(o.sizes.size());
    else if (o.stream && o.shard)
        error = "--stream runs one point alone: it does not go with --shard";
    else if (o.stream && o.sizes.size() * o.temperatures.size() != 1)
        error = "--stream runs one point alone with that stream, and --size and --temperatures give "
            + std::to_string(o.sizes.size() * o.temperatures.size()) + " points: give one size and one temperature";
    if (error.empty() && !o.merge && o.plotTable.empty() && o.writeFactorsPattern.empty() && !haveTemperatures)
        error = "--temperatures is missing: give one (2.27), a list (1.5,2.0,2.27) or a range (1.5:3.5:0.1)";
    return parsed;
}

std::string versionText()
{
    return "ferrogrid-batch " FERROGRID_VERSION "\n";
}

std::string usageText()
{
    return R"(Usage: ferrogrid-batch --temperatures LIST [options]
       ferrogrid-batch --write-factors PATTERN [--output FILE]
       ferrogrid-batch --merge FILE... [--allow-missing] [--output FILE]
       ferrogrid-batch --plot-table TABLE --plot FILE

Runs the Ferrogrid flip attempt (or the Wolff cluster update) headless at each
lattice size and temperature and writes a CSV table: one row per point with
the energy, |m|, specific heat, susceptibilities, Binder cumulant and
acceptance ratio per site, each with its error, autocorrelation times, the
exact energy and specific heat of the L x L torus (when every factor is the
same F: at T*F), the run's settings, the point's stream and its warnings.

  --temperatures LIST  2.27, a list 1.5,2.0,2.27 (blanks after the commas
                       allowed) or a range 1.5:3.5:0.1
  --size L[,L...]      lattice size or sizes, 2 to 1024 (default 20); the
                       points are the sizes times the temperatures
  --algorithm A        metropolis (default; a sweep is L^2 flip attempts) or
                       wolff (a sweep: as many cluster flips as flip L^2 spins
                       on average; needs one factor everywhere)
  --stream S           with one size and one temperature: run that point alone
                       from the stream S, a row's stream column
  --equilibrate N      sweeps before measuring (default 1000)
  --sweeps N           measured sweeps (default 10000)
  --start zero|infinity  all aligned (default) or random, as the T = Zero and
                       T = Infinity buttons
  --seed N             seed (default from the clock; written in every row)
  --factors FILE       site temperature factors: L lines of L comma-
                       separated texts, each read as a designer box (empty: 1)
  --output FILE        write the table there instead of standard output
  --series K           write sweep, energy and magnetization every K sweeps
                       instead of the table
  --plot FILE          figure of the four quantities, .png, .svg or .pdf
  --jobs N             points run side by side (default: the cores);
                       the output is the same for any N
  --shard K/N          run only the K-th of N shares of the points (0 <= K < N),
                       for a cluster's array job; needs --seed. Every share's
                       rows are those the whole run writes for its points
  --merge FILE...      merge the tables of a run's shares into one, the very
                       table the whole run writes; refuses tables of other
                       runs, a point twice or a point missing
  --allow-missing      with --merge: merge what there is, saying what is
                       missing
  --plot-table TABLE   with --plot: draw the figure of a saved table
  --write-factors PATTERN  write a factor file of --size L and stop:
                       uniform:F, gradient:A:B (columns A to B), stripe:F
                       (rows L/4 to L-L/4-1 from 0: 5 to 14 at 20), spot:F
                       (within L/4 of the centre)
  --help, --version    print this text or the version and stop

The table gives values to 10 significant digits, errors to 3 and the
autocorrelation time to 4. --output, --plot and --factors must name three
different files.
)";
}

} // namespace ferro::batch
