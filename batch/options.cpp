#include "batch/options.h"

#include "batch/pictures.h"
#include "core/flip.h"
#include "stdruntime/textfields.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

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

namespace {

// The commands; a run of the temperatures is the one without a command option.
enum Mode : unsigned { Run = 1, WriteFactors = 2, Merge = 4, PlotTable = 8 };

enum class Form {
    Flag,  // no value
    Value, // a value
    Name,  // a file name or pattern: never empty
    List,  // every argument up to the next option
};

using Setter = std::string (*)(Options &, std::string_view value); // the error without the name, or empty

// One option: everything the parser, validate() and --help know of it.
struct Declared {
    std::string_view heading; // --help's heading above the option; empty: none
    std::string_view name;
    std::string_view alias;    // a second name ("-h"); empty: none
    std::string_view value;    // the value's form in --help ("N"); empty for a flag
    Form form;
    std::string_view fallback; // the default as typed; empty: none, or told in the help text
    unsigned modes;            // the commands it has an effect in
    std::string_view command;  // a command option: what it does, for the refusals; else empty
    Setter set;
    std::string_view help; // {default} stands for the default (else it ends the text), {sizes},
                           // {temperatures} and {jobs} for the limits
};

// Decimal digits alone, from `lowest` to `highest`.
template <typename T>
std::string whole(std::string_view text, std::uint64_t lowest, std::uint64_t highest, T &into)
{
    const std::optional<std::uint64_t> value = wholeNumber(text);
    if (!value || *value < lowest || *value > highest)
        return messageQuote(text) + " is not a whole number from " + std::to_string(lowest) + " to "
            + std::to_string(highest);
    into = T(*value);
    return {};
}

std::string sizes(Options &o, std::string_view text)
{
    o.sizes.clear();
    for (const std::string_view item : splitList(text, ',', true)) {
        int size = 0;
        if (std::string why = whole(item, engine::MinimumSize, engine::CheckerboardMaximumSize, size); !why.empty())
            return why;
        if (std::find(o.sizes.begin(), o.sizes.end(), size) != o.sizes.end())
            return std::to_string(size) + " is given twice";
        o.sizes.push_back(size);
    }
    return {};
}

std::string plotFile(Options &o, std::string_view text)
{
    o.plotFile = text;
    const std::size_t dot = text.rfind('.');
    std::string ext(dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1));
    for (char &c : ext)
        c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext != "png" && ext != "svg" && ext != "pdf")
        return messageQuote(text) + " does not end in .png, .svg or .pdf";
    return {};
}

constexpr std::uint64_t Most = std::numeric_limits<std::uint64_t>::max();
constexpr unsigned RunOrTable = Run | PlotTable;

constexpr Declared Table[] = {
    {"Options of a run", "--temperatures", "", "LIST", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) {
         std::string why;
         o.temperatures = parseTemperatures(v, why);
         return why;
     },
     "one temperature (2.27), a list (1.5,2.0,2.27; blanks after the commas allowed) or a range FROM:TO:STEP "
     "(1.5:3.5:0.1) whose ends count when they fall on the grid; each 0.1 or more, at most {temperatures} of "
     "them"},
    {"", "--size", "", "L[,L...]", Form::Value, "20", Run | WriteFactors, "", sizes,
     "lattice size or sizes, {sizes}, even sizes up to {largest} with checkerboard {default}; the points are "
     "the sizes times the temperatures"},
    {"", "--algorithm", "", "A", Form::Value, "metropolis", Run, "",
     [](Options &o, std::string_view v) {
         if (v != "metropolis" && v != "wolff" && v != "checkerboard")
             return messageQuote(v) + " is none of metropolis, wolff and checkerboard";
         o.algorithm = v == "wolff"          ? Algorithm::Wolff
             : v == "checkerboard" ? Algorithm::Checkerboard
                                   : Algorithm::Metropolis;
         return std::string();
     },
     "the update: metropolis, whose sweep is L^2 flip attempts, or wolff, whose sweep is as many cluster flips "
     "as flip L^2 spins on average and which needs one factor everywhere, or checkerboard, Metropolis sweeping "
     "the sites (i + j) even, then the others, 64 spins a machine word, which needs one factor everywhere and "
     "an even L, and takes L up to {largest}"},
    {"", "--equilibrate", "", "N", Form::Value, "1000", RunOrTable, "",
     [](Options &o, std::string_view v) { return whole(v, 0, MaxSweeps, o.equilibrate); },
     "sweeps before measuring"},
    {"", "--sweeps", "", "N", Form::Value, "10000", Run, "",
     [](Options &o, std::string_view v) { return whole(v, 1, MaxSweeps, o.sweeps); }, "measured sweeps"},
    {"", "--start", "", "zero|infinity", Form::Value, "zero", Run, "",
     [](Options &o, std::string_view v) {
         if (v != "zero" && v != "infinity")
             return messageQuote(v) + " is neither zero nor infinity";
         o.start = v == "zero" ? Start::Zero : Start::Infinity;
         return std::string();
     },
     "zero, all aligned as after the T = Zero button, or infinity, random as after T = Infinity {default}"},
    {"", "--seed", "", "N", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) { return whole(v, 0, Most, o.seed); },
     "seed (default from the clock; written in every row)"},
    {"", "--stream", "", "S", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) { return whole(v, 0, Most, o.stream); },
     "with one size and one temperature: run that point alone from the stream S, a row's stream column"},
    {"", "--factors", "", "FILE", Form::Name, "", RunOrTable, "",
     [](Options &o, std::string_view v) { return (o.factorsFile = v, std::string()); },
     "site temperature factors: L lines of L comma-separated texts, each read as a designer box (empty: 1)"},
    {"", "--output", "", "FILE", Form::Name, "", Run | WriteFactors | Merge, "",
     [](Options &o, std::string_view v) { return (o.outputFile = v, std::string()); },
     "write the table (or series, or factor file) there instead of standard output"},
    {"", "--series", "", "K", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) { return whole(v, 1, MaxSweeps, o.seriesEvery); },
     "instead of the table, a row at every K-th sweep from the start (sweep 0, through the equilibration and "
     "the measured sweeps) with the columns temperature, seed, sweep, energy, magnetization, size, point, "
     "stream (energy and magnetization per site; point and stream as in the table); with --output NAME.npy a "
     "NumPy array file of records with those fields instead of CSV; with several jobs the first unfinished "
     "point's rows go straight out, the later ones' wait in unnamed temporary files in TMPDIR (/tmp when "
     "unset)"},
    {"", "--plot", "", "FILE", Form::Value, "", RunOrTable, "", plotFile,
     "the figure, .png, .svg or .pdf: panels against the temperature (energy, |m|, specific heat, "
     "susceptibility, and where measured the Binder cumulant U and xi/L, each size with its error bars and, "
     "where known, the exact curves) and a list of where U and xi/L of successive sizes cross: on the "
     "reweighted curves with --curves, else by straight lines between grid temperatures; those of U by "
     "straight lines also on standard error"},
    {"", "--picture", "", "FILE", Form::Name, "", Run, "",
     [](Options &o, std::string_view v) {
         o.pictureFile = v;
         return isPictureName(v) ? std::string() : messageQuote(v) + " does not end in .png";
     },
     "a PNG picture of each point's last state, named FILE with the point's number (the table's point "
     "column) before the .png: lattice.png gives lattice-0.png, lattice-1.png, ..., even for one point. Black "
     "for spin up, white for spin down, silver grey for a blank site as in the window; one square a site, "
     "at least 256 pixels wide"},
    {"", "--frames", "", "K", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) { return whole(v, 1, MaxSweeps, o.framesEvery); },
     "with --picture: also a picture every K-th sweep from the start (sweep 0), equilibration included, with "
     "the sweep in 6 digits (more for longer runs) after the point: lattice-0-000020.png; the frames of a point "
     "sort in the order of their sweeps (a film: ffmpeg -framerate 10 -pattern_type glob -i 'lattice-0-*.png')"},
    {"", "--curves", "", "FILE", Form::Name, "", Run, "",
     [](Options &o, std::string_view v) { return (o.curvesFile = v, std::string()); },
     "write reweighted curves there: for each size, E, |m|, C, chi', chi, U and xi/L with errors on a fine grid "
     "over the temperatures run, all points of the size combined (multiple histograms)"},
    {"", "--curve-step", "", "DT", Form::Value, "0.001", Run, "",
     [](Options &o, std::string_view v) {
         const auto step = number(v);
         if (!step || !(*step >= 1e-6 && *step <= 1))
             return messageQuote(v) + " is not a step from 1e-06 to 1";
         o.curveStep = *step;
         return std::string();
     },
     "the step of the curves' temperature grid"},
    {"", "--peaks", "", "FILE", Form::Name, "", Run, "",
     [](Options &o, std::string_view v) { return (o.peaksFile = v, std::string()); },
     "write the peaks of C and chi' of each size and the crossings of U and of xi/L of successive sizes, from the "
     "reweighted curves, with errors (also printed on standard error)"},
    {"", "--jobs", "", "N", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) { return whole(v, 1, MaxJobs, o.jobs); },
     "points run side by side, at most {jobs} (default: the cores); the output is the same for any N"},
    {"", "--shard", "", "K/N", Form::Value, "", Run, "",
     [](Options &o, std::string_view v) {
         std::string why;
         o.shard = parseShard(v, why);
         return why;
     },
     "run only the K-th of N shares of the points (0 <= K < N), for a cluster's array job; needs --seed. "
     "Every share's rows are those the whole run writes for its points"},
    {"", "--checkpoint", "", "FILE", Form::Name, "", Run, "",
     [](Options &o, std::string_view v) { return (o.checkpointFile = v, std::string()); },
     "keep the run's whole state in FILE (needs --output FILE): every --checkpoint-every minutes, and on "
     "SIGTERM, SIGINT or SIGUSR1, which then stop the run (exit status 128 plus the signal's number: 143, "
     "130, 138); removed when the run ends"},
    {"", "--resume", "", "FILE", Form::Name, "", Run, "",
     [](Options &o, std::string_view v) { return (o.resumeFile = v, std::string()); },
     "carry on the run stopped at checkpoint FILE, given the options it ran with (refused otherwise), and "
     "keep checkpointing there; the output is that of a run never stopped"},
    {"", "--checkpoint-every", "", "M", Form::Value, "10", Run, "",
     [](Options &o, std::string_view v) {
         const std::optional<double> m = number(v);
         if (!m || *m < 0.0001 || *m > 1e6)
             return messageQuote(v) + " is not a number of minutes from 0.0001 to 1000000";
         o.checkpointEvery = *m;
         return std::string();
     },
     "minutes between checkpoints, decimals allowed"},
    {"", "--check", "", "", Form::Flag, "", Run | WriteFactors | Merge | PlotTable, "",
     [](Options &o, std::string_view) { return (o.check = true, std::string()); },
     "check the options (and that the files they read can be read) and stop: exit status 0 when they make "
     "a command, else 2 with the reason"},
    {"Commands on their own (each with the options it names)", "--write-factors", "", "PATTERN", Form::Name, "", WriteFactors,
     "writes a factor file and stops",
     [](Options &o, std::string_view v) { return (o.writeFactorsPattern = v, std::string()); },
     "write a factor file of --size L and stop: uniform:F, gradient:A:B (columns A to B), stripe:F (rows L/4 "
     "to L-L/4-1 from 0: 5 to 14 at 20), spot:F (within L/4 of the centre)"},
    {"", "--merge", "", "FILE...", Form::List, "", Merge, "merges saved tables",
     [](Options &o, std::string_view v) { return (o.mergeFiles.emplace_back(v), std::string()); },
     "merge the tables of a run's shares into one, the very table the whole run writes; refuses tables of "
     "other runs (their run fingerprints differ), a point twice or a point missing. --output is replaced "
     "only once the merged table is whole, so it may name one of the tables"},
    {"", "--allow-missing", "", "", Form::Flag, "", Merge, "",
     [](Options &o, std::string_view) { return (o.allowMissing = true, std::string()); },
     "with --merge: merge what there is, saying what is missing"},
    {"", "--plot-table", "", "TABLE", Form::Name, "", PlotTable, "draws a saved table",
     [](Options &o, std::string_view v) { return (o.plotTable = v, std::string()); },
     "with --plot: draw the figure of a saved table; --equilibrate and --factors name, in its caption, what "
     "a table without those columns does not hold"},
    {"", "--help", "-h", "", Form::Flag, "", Run | WriteFactors | Merge | PlotTable, "",
     [](Options &o, std::string_view) { return (o.help = true, std::string()); }, "print this text and stop"},
    {"", "--version", "", "", Form::Flag, "", Run | WriteFactors | Merge | PlotTable, "",
     [](Options &o, std::string_view) { return (o.version = true, std::string()); },
     "print the version and stop"},
};

const Declared *declared(std::string_view name)
{
    for (const Declared &d : Table)
        if (d.name == name || (!d.alias.empty() && d.alias == name))
            return &d;
    return nullptr;
}

bool isGiven(const Options &o, std::string_view name)
{
    return std::find(o.given.begin(), o.given.end(), name) != o.given.end();
}

bool isOption(std::string_view arg)
{
    return arg.rfind("--", 0) == 0 || declared(arg);
}

// Reads the option at args[a] and its value, moving `a` past them; the error or empty.
std::string parseOne(const std::vector<std::string> &args, std::size_t &a, Options &o)
{
    std::string_view name = args[a];
    std::optional<std::string_view> value;
    if (const std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string_view::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
    }
    const Declared *d = declared(name);
    if (!d && name.rfind("--", 0) != 0)
        return "unexpected argument " + messageQuote(name) + " (options begin with --; see --help)";
    if (!d)
        return "unknown option " + messageQuote(name) + " (see --help)";
    const std::string named(d->name);
    if (!isGiven(o, named))
        o.given.push_back(named);
    switch (d->form) {
    case Form::Flag:
        return value ? named + " takes no value" : d->set(o, {});
    case Form::List:
        if (value)
            d->set(o, *value);
        while (a + 1 < args.size() && !isOption(args[a + 1]))
            d->set(o, args[++a]);
        return {};
    case Form::Value:
    case Form::Name:
        break;
    }
    if (!value && a + 1 >= args.size())
        return named + " needs a value";
    if (!value)
        value = args[++a];
    if (d->form == Form::Name && value->empty())
        return named + " needs a value";
    const std::string why = d->set(o, *value);
    return why.empty() ? why : named + ": " + why;
}

// The sizes the update takes: up to MaximumSize, or even sizes up to
// CheckerboardMaximumSize for the checkerboard update.
std::string sizeError(const Options &o)
{
    for (const int size : o.sizes) {
        if (o.algorithm == Algorithm::Checkerboard && size % 2 != 0)
            return "--algorithm checkerboard: --size " + std::to_string(size)
                + " is odd, and a torus with odd L has no checkerboard (two sites of one colour would meet "
                  "across its edge): give even sizes";
        if (o.algorithm != Algorithm::Checkerboard && size > engine::MaximumSize)
            return "--size " + std::to_string(size) + " is more than " + std::to_string(engine::MaximumSize)
                + " (sizes up to " + std::to_string(engine::CheckerboardMaximumSize)
                + " only with --algorithm checkerboard)";
    }
    return {};
}

// The reweighted curves need every point of a size, with its measurements.
std::string curvesError(const Options &o)
{
    const bool curves = !o.curvesFile.empty() || !o.peaksFile.empty();
    if (isGiven(o, "--curve-step") && !curves)
        return "--curve-step goes with --curves or --peaks";
    if (curves && o.seriesEvery > 0)
        return std::string(o.curvesFile.empty() ? "--peaks" : "--curves") + " comes from a table's measurements: it does not go with --series";
    if (curves && (!o.checkpointFile.empty() || !o.resumeFile.empty()))
        return std::string(o.curvesFile.empty() ? "--peaks" : "--curves")
            + " keeps every point's energy histogram, which a checkpoint does not hold: it does not go with "
            + (o.resumeFile.empty() ? "--checkpoint" : "--resume");
    if (curves && o.shard)
        return std::string(o.curvesFile.empty() ? "--peaks" : "--curves") + " combines every point of a size: it does not go with --shard";
    if (curves && !o.temperatures.empty()) {
        const auto [low, high] = std::minmax_element(o.temperatures.begin(), o.temperatures.end());
        if ((*high - *low) / o.curveStep > 100000)
            return "--curve-step " + numberText(o.curveStep) + " gives more than 100000 temperatures between "
                + numberText(*low) + " and " + numberText(*high) + ": take a coarser step";
    }
    return {};
}

// The refusals of combinations of options, each with its own advice.
std::string combinationError(const Options &o)
{
    if (o.merge && o.mergeFiles.empty())
        return "--merge needs the tables to merge: --merge FILE...";
    if (o.merge && !o.plotTable.empty())
        return "--merge and --plot-table go in separate runs: merge first, then draw the merged table";
    if (o.merge && !o.plotFile.empty())
        return "--merge writes a table: draw it with --plot-table TABLE --plot FILE";
    if (o.allowMissing && !o.merge)
        return "--allow-missing goes with --merge";
    if (!o.plotTable.empty() && o.plotFile.empty())
        return "--plot-table needs --plot FILE, the figure to draw";
    if (o.framesEvery > 0 && o.pictureFile.empty())
        return "--frames needs --picture FILE, the name the frames are numbered from";
    if (o.shard && !o.seed)
        return "--shard needs --seed: every share of a run must use the same seed";
    if (o.shard && o.seriesEvery > 0)
        return "--shard makes tables: it does not go with --series";
    if (o.sizes.size() > 1 && !o.factorsFile.empty())
        return "--factors: a factor file is for one size, and --size gives " + std::to_string(o.sizes.size())
            + ": run each size with its own file";
    if (o.sizes.size() > 1 && !o.writeFactorsPattern.empty())
        return "--write-factors writes one file for one size, and --size gives " + std::to_string(o.sizes.size());
    if (const std::string why = curvesError(o); !why.empty())
        return why;
    if ((!o.checkpointFile.empty() || !o.resumeFile.empty()) && o.outputFile.empty())
        return std::string(o.resumeFile.empty() ? "--checkpoint" : "--resume")
            + " needs --output FILE: a resumed run carries on writing that file";
    if ((!o.checkpointFile.empty() && o.checkpointFile == o.outputFile) || (!o.resumeFile.empty() && o.resumeFile == o.outputFile))
        return std::string(o.checkpointFile == o.outputFile ? "--checkpoint" : "--resume")
            + " and --output name one file: the checkpoint goes beside the output, not over it";
    if (isGiven(o, "--checkpoint-every") && o.checkpointFile.empty() && o.resumeFile.empty())
        return "--checkpoint-every goes with --checkpoint FILE or --resume FILE";
    if (o.stream && o.shard)
        return "--stream runs one point alone: it does not go with --shard";
    if (std::string why = sizeError(o); !why.empty())
        return why;
    if (o.stream && o.sizes.size() * o.temperatures.size() != 1)
        return "--stream runs one point alone with that stream, and --size and --temperatures give "
            + std::to_string(o.sizes.size() * o.temperatures.size()) + " points: give one size and one temperature";
    return {};
}

// One command at a time, and no option that it would ignore.
std::string modeError(const Options &o)
{
    const Declared *command = nullptr;
    for (const Declared &d : Table)
        if (!d.command.empty() && isGiven(o, d.name)) {
            if (command)
                return std::string(command->name) + " and " + std::string(d.name) + " go in separate runs";
            command = &d;
        }
    const unsigned mode = command ? command->modes : Run;
    for (const std::string &name : o.given)
        if (!(declared(name)->modes & mode))
            return name + " has no effect "
                + (command ? "with " + std::string(command->name) + ", which " + std::string(command->command)
                           : std::string("in a run of the temperatures"));
    return {};
}

// "  --name VALUE  help", the help wrapped at 80 columns from column 23.
std::string helpEntry(const Declared &d)
{
    constexpr std::size_t Indent = 23, Width = 80;
    std::string text = "  " + (d.alias.empty() ? std::string() : std::string(d.alias) + ", ") + std::string(d.name)
        + (d.value.empty() ? "" : " " + std::string(d.value));
    std::string help(d.help);
    if (!d.fallback.empty() && help.find("{default}") == std::string::npos)
        help += " {default}";
    for (const auto &[from, to] : {std::pair {"{default}", "(default " + std::string(d.fallback) + ")"},
                                   std::pair {"{sizes}", std::to_string(engine::MinimumSize) + " to "
                                                              + std::to_string(engine::MaximumSize)},
                                   std::pair {"{largest}", std::to_string(engine::CheckerboardMaximumSize)},
                                   std::pair {"{temperatures}", std::to_string(MaxTemperatures)},
                                   std::pair {"{jobs}", std::to_string(MaxJobs)}})
        if (const std::size_t at = help.find(from); at != std::string::npos)
            help.replace(at, std::string_view(from).size(), to);
    text += text.size() + 2 > Indent ? std::string(2, ' ') : std::string(Indent - text.size(), ' ');
    std::size_t column = text.size();
    for (const std::string_view word : splitList(help, ' ')) {
        if (column > Indent && column + 1 + word.size() > Width) {
            text += "\n" + std::string(Indent, ' ');
            column = Indent;
        } else if (column > Indent && text.back() != ' ') {
            text += ' ';
            ++column;
        }
        text += word;
        column += word.size();
    }
    return text + "\n";
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string> &args)
{
    ParsedOptions parsed;
    Options &o = parsed.options;
    for (const Declared &d : Table)
        if (!d.fallback.empty())
            d.set(o, d.fallback);
    for (std::size_t a = 0; a < args.size() && parsed.ok(); ++a)
        parsed.error = parseOne(args, a, o);
    o.merge = isGiven(o, "--merge");
    o.equilibrateGiven = isGiven(o, "--equilibrate");
    return parsed;
}

std::string validate(const Options &o)
{
    if (o.help || o.version)
        return {};
    if (std::string why = combinationError(o); !why.empty())
        return why;
    if (std::string why = modeError(o); !why.empty())
        return why;
    if (!o.merge && o.plotTable.empty() && o.writeFactorsPattern.empty() && !isGiven(o, "--temperatures"))
        return "--temperatures is missing: give one (2.27), a list (1.5,2.0,2.27) or a range (1.5:3.5:0.1)";
    if (const std::size_t points = o.sizes.size() * o.temperatures.size(); points > MaxPoints)
        return "--size and --temperatures give " + std::to_string(o.sizes.size()) + " x "
            + std::to_string(o.temperatures.size()) + " = " + std::to_string(points) + " points, more than the "
            + std::to_string(MaxPoints) + " of one run: run fewer at a time";
    return {};
}

std::string versionText()
{
    return "ferrogrid-batch " FERROGRID_VERSION "\n";
}

std::string usageText()
{
    std::string text = R"(Usage: ferrogrid-batch --temperatures LIST [options]
       ferrogrid-batch --write-factors PATTERN [--size L] [--output FILE]
       ferrogrid-batch --merge FILE... [--allow-missing] [--output FILE]
       ferrogrid-batch --plot-table TABLE --plot FILE

Runs the Ferrogrid flip attempt (or the Wolff or the checkerboard update)
headless at each lattice size and temperature and writes a CSV table: one
row per point with the energy, |m|, specific heat, susceptibilities, Binder
cumulant, correlation length and acceptance ratio per site, each with its
error, autocorrelation times, the exact energy and specific heat of the L x L
torus (when every factor is the same F: at T*F), the run's settings, the
point's stream and its warnings.
)";
    for (const Declared &d : Table)
        text += (d.heading.empty() ? "" : "\n" + std::string(d.heading) + ":\n") + helpEntry(d);
    return text + R"(
N, K, L and S are whole numbers in decimal digits alone, such as 1000: no
sign, point or exponent. A run has at most )" + std::to_string(MaxTemperatures) + R"( temperatures and at most
)" + std::to_string(MaxPoints) + R"( points (sizes times temperatures). An option that has no effect in
the command given is refused, as are two commands at once.

The table gives values to 10 significant digits, errors to 3 and the
autocorrelation time to 4. --output, --plot and --factors must name three
different files.
)";
}

} // namespace ferro::batch
