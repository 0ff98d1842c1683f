#pragma once
// The one place that asks the processor what it runs. Every vector path of
// the engine (the four-lane sweeps, the Wolff bonds and growth) is taken only
// where this says so; the portable code beside each is the reference that
// the tests hold it to.

namespace ferro::engine {

// The processor runs AVX2 (x86-64); false elsewhere.
bool hasAvx2();

} // namespace ferro::engine
