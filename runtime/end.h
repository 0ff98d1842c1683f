#pragma once
// Ending the program at once, behind an interface that tests replace.

namespace ferro {

class ProgramEnd {
public:
    virtual ~ProgramEnd() = default;
    virtual void End() = 0;
};

// Every window closes and the event loop ends with status 0.
class QuitApplication final : public ProgramEnd {
public:
    void End() override;
};

} // namespace ferro
