#pragma once
// Test implementations of the program's services: a scripted random source,
// a fixed clock, message boxes answered by the test, a counted end of the
// program and a printer that writes PDF files where the test says.

#include "stdruntime/clock.h"
#include "runtime/end.h"
#include "runtime/messagebox.h"
#include "runtime/printing.h"
#include "stdruntime/random.h"

#include <QPrinter>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// Scripted numbers first, then a seeded generator that the clock never stirs.
class ScriptedRandom final : public ferro::RandomSource {
public:
    std::deque<double> script;
    int randomizes = 0;

    double Rnd() override
    {
        if (script.empty())
            return m_random.Rnd();
        const double r = script.front();
        script.pop_front();
        return r;
    }
    void Randomize() override { ++randomizes; }

private:
    ferro::Random m_random {12345};
};

class FixedClock final : public ferro::Clock {
public:
    ferro::ClockReading reading {2026, 3, 9, 14, 5, 7};
    ferro::ClockReading now() const override { return reading; }
};

struct AskedBox {
    QString prompt;
    int style;
    QString title;
};

class AnsweringBoxes final : public ferro::MessageBoxes {
public:
    int answer = ferro::vbNo;
    std::vector<AskedBox> asked;
    std::function<void()> whileAsking;
    int MsgBox(QWidget *, const QString &prompt, int style, const QString &title) override
    {
        asked.push_back({prompt, style, title});
        if (whileAsking)
            whileAsking();
        return style == ferro::vbYesNo ? answer : ferro::vbOK;
    }
};

class CountingEnd final : public ferro::ProgramEnd {
public:
    int ends = 0;
    void End() override { ++ends; }
};

// Pages go to the file at `path`, or to `real` when set; with neither there
// is no printer.
class PdfPrinter final : public ferro::PrintTarget {
public:
    QString path;
    ferro::PrintTarget *real = nullptr;
    std::unique_ptr<QPrinter> open(QString &failure) override
    {
        if (real)
            return real->open(failure);
        if (path.isEmpty()) {
            failure = QStringLiteral("no default printer is set up on this computer");
            return nullptr;
        }
        return ferro::PdfFile(path).open(failure);
    }
};
