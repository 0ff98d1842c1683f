#pragma once
// What the windows take from outside: the clock, the random source, the
// message boxes, the end of the program and the printer. The program passes
// the real ones; tests pass their own.

#include "stdruntime/clock.h"
#include "runtime/end.h"
#include "runtime/messagebox.h"
#include "runtime/printing.h"
#include "stdruntime/random.h"

namespace ferro {

struct Services {
    Clock &clock;
    RandomSource &random;
    MessageBoxes &boxes;
    ProgramEnd &end;
    PrintTarget &printer;
};

} // namespace ferro
