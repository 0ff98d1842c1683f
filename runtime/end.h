#pragma once
// Ending the program at once: every window closes and the event loop ends
// with status 0. Tests replace the ending with a function of their own.

#include <functional>

namespace ferro {

void End();
void setEndHandler(std::function<void()> handler);

} // namespace ferro
