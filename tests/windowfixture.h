#pragma once
// Shared set-up for the window tests: a fresh main window per test, message
// boxes answered by the test, the end of the program recorded instead of
// performed, and a fixed clock.

#include "clock.h"
#include "end.h"
#include "ising.h"
#include "messagebox.h"
#include "printing.h"
#include "qtext.h"

#include <QLineEdit>
#include <QStringList>

#include <memory>

struct AskedBox {
    QString prompt;
    int style;
    QString title;
};

class WindowFixture {
public:
    std::unique_ptr<ferro::Ising> w;
    std::vector<AskedBox> asked;
    int answer = ferro::vbNo;
    int ends = 0;

    void setUp()
    {
        ferro::setFixedClock(ferro::ClockReading {2026, 3, 9, 14, 5, 7});
        asked.clear();
        ends = 0;
        answer = ferro::vbNo;
        ferro::setMsgBoxAnswerer([this](const QString &prompt, int style, const QString &title) {
            asked.push_back({prompt, style, title});
            return style == ferro::vbYesNo ? answer : ferro::vbOK;
        });
        ferro::setEndHandler([this] { ++ends; });
        w = std::make_unique<ferro::Ising>();
        // Reproducible random numbers: a seeded generator that the clock does not stir.
        w->sim.random = ferro::Random(12345);
    }

    void tearDown()
    {
        w.reset();
        ferro::setMsgBoxAnswerer({});
        ferro::setEndHandler({});
        ferro::setPrintToPdf({});
        ferro::setFixedClock(std::nullopt);
    }

    // All spins +1 (black), as "T = Zero" with a low draw.
    void prepareOrdered()
    {
        w->sim.random.script({0.1});
        w->cmdZero_Click();
    }

    QStringList textsOf(const ferro::DrawingSurface *s) const
    {
        QStringList texts;
        for (const ferro::SurfaceOp &op : s->operations())
            if (op.kind == ferro::SurfaceOp::Kind::Text)
                texts << op.text;
        return texts;
    }
};
