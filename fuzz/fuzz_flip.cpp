// The flip on fuzzed inputs. Layout of the input:
//   byte 0          length of the temperature text (taken modulo what is left)
//   byte 1          length of the factor text (likewise)
//   ...             the temperature text, then the factor text
//   8 bytes         seed of the random numbers
//   1 byte          number of attempts (200 to 400); its top bit makes the
//                   first two attempts draw the extreme random numbers
//   the rest        spins, one byte per cell (byte % 3 - 1), repeated to
//                   fill the lattice; without them the seeded generator fills it
// Missing bytes count as zero.

#include "core/flip.h"
#include "fuzz/fuzzcommon.h"
#include "core/lattice.h"
#include "stdruntime/random.h"
#include "stdruntime/textconv.h"

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The given numbers first, then the seeded generator's.
class Draws final : public ferro::RandomSource {
public:
    explicit Draws(std::uint64_t seed) : m_random(seed) {}
    std::vector<double> first;
    double Rnd() override { return m_next < first.size() ? first[m_next++] : m_random.Rnd(); }
    void Randomize() override {}
    std::uint64_t next() { return m_random.next(); }

private:
    ferro::Random m_random;
    std::size_t m_next = 0;
};

} // namespace

namespace {

struct Input {
    const std::uint8_t *data;
    std::size_t size;
    std::size_t pos = 0;

    std::size_t left() const { return size - pos; }
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    std::string_view text(std::size_t wanted)
    {
        const std::size_t n = wanted % (left() + 1);
        const std::string_view t(reinterpret_cast<const char *>(data + pos), n);
        pos += n;
        return t;
    }
};

std::string describe(const ferro::Lattice &l)
{
    return "TotalMag " + std::to_string(l.TotalMag) + ", Energy " + std::to_string(l.Energy);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in {data, size};
    const std::uint8_t tempLength = in.byte();
    const std::uint8_t factorLength = in.byte();
    const std::string_view tempText = in.text(tempLength);
    const std::string_view factorText = in.text(factorLength);
    std::uint64_t seed = 0;
    for (int b = 0; b < 8; ++b)
        seed |= static_cast<std::uint64_t>(in.byte()) << (8 * b);
    const std::uint8_t control = in.byte();
    const int attempts = 200 + (control & 0x7f) * 200 / 127;

    const std::string texts = "temperature " + fuzz::quoted(tempText) + ", factor " + fuzz::quoted(factorText);

    // Temperatures.
    const double value = ferro::Val(tempText);
    const double t = ferro::runTemperature(value);
    fuzz::check(std::isfinite(t) && t >= ferro::MinimumTemperature, "run temperature out of range",
                texts + " -> " + fuzz::show(t));
    const double f = ferro::siteFactor(factorText);
    fuzz::check(std::isfinite(f) && f > 0, "site factor out of range",
                texts + " -> " + fuzz::show(f));
    if (factorText.empty())
        fuzz::check(f == 1.0, "empty factor text is not 1", fuzz::show(f));
    const double local = ferro::localTemperature(t, f);
    fuzz::check(std::isfinite(local) && local > 0,
                "local temperature out of range",
                texts + "\nT " + fuzz::show(t) + ", F " + fuzz::show(f) + " -> " + fuzz::show(local));

    ferro::FactorTable factors;
    for (int k = 0; k < ferro::Sites; ++k)
        factors.setText(k, factorText);
    for (int k = 0; k < ferro::Sites; ++k)
        fuzz::check(fuzz::sameBits(factors[k], f), "FactorTable entry differs from siteFactor");

    // The lattice.
    Draws random(seed);
    ferro::Lattice lattice;
    const std::size_t spinBytes = in.left();
    for (int k = 0; k < ferro::Sites; ++k) {
        const unsigned b = spinBytes > 0 ? data[in.pos + static_cast<std::size_t>(k) % spinBytes]
                                         : static_cast<unsigned>(random.next() >> 32);
        lattice.Spin[ferro::rowOf(k)][ferro::columnOf(k)] = static_cast<std::int16_t>(static_cast<int>(b % 3) - 1);
    }
    lattice.recount();
    if (control & 0x80)
        random.first = {0x1.fffffffffffffp-1, 0x1.fffffffffffffp-1, 0.0, 0.0};

    for (int n = 0; n < attempts; ++n) {
        const ferro::Lattice before = lattice;
        const ferro::FlipOutcome out = ferro::AttemptFlip(lattice, random, t, factors.data());
        // Messages are put together only when a check fails.
        auto expect = [&](bool ok, const char *what, const ferro::Lattice *recounted = nullptr) {
            if (ok) [[likely]]
                return;
            std::string where = texts + "\nattempt " + std::to_string(n) + ", k " + std::to_string(out.k)
                + ", accepted " + (out.accepted ? "yes" : "no") + "\nkept: " + describe(lattice);
            if (recounted)
                where += "\nrecount: " + describe(*recounted);
            fuzz::fail(what, where);
        };

        expect(out.k >= 0 && out.k < ferro::Sites, "AttemptFlip chose a cell outside 0..399");

        ferro::Lattice recounted = lattice;
        recounted.recount();
        expect(lattice.TotalMag == recounted.TotalMag && lattice.Energy == recounted.Energy,
               "running totals differ from a recount", &recounted);

        // Only the attempted cell may change, and only by flipping.
        const int i = ferro::rowOf(out.k);
        const int j = ferro::columnOf(out.k);
        ferro::Lattice expected = before;
        if (out.accepted)
            expected.Spin[i][j] = static_cast<std::int16_t>(-before.Spin[i][j]);
        expect(std::memcmp(expected.Spin, lattice.Spin, sizeof lattice.Spin) == 0,
               "the spins after the attempt are not the spins before with at most the cell k flipped");
        if (before.Spin[i][j] == 0)
            expect(out.accepted, "a blank site did not count as accepted");
    }
    return 0;
}
