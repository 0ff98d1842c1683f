#pragma once
// A fresh main window per test, on test services, driven through its
// controls by name as a person would drive it.

#include "runtime/caption.h"
#include "preparation/designtemps.h"
#include "snapshots/snapshotswindow.h"
#include "tests/fakes.h"
#include "mainwindow/ising.h"
#include "runtime/reversedscrollbar.h"
#include "runtime/services.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

class WindowFixture {
public:
    FixedClock clock;
    ScriptedRandom random;
    AnsweringBoxes boxes;
    CountingEnd end;
    PdfPrinter printer;
    ferro::Services services {clock, random, boxes, end, printer};
    std::unique_ptr<ferro::Ising> w;

    void setUp()
    {
        random = ScriptedRandom();
        clock = FixedClock();
        boxes = AnsweringBoxes();
        end = CountingEnd();
        printer.path.clear();
        printer.real = nullptr;
        w = std::make_unique<ferro::Ising>(services);
        w->show();
    }
    void tearDown() { w.reset(); }

    template <class T>
    static T *find(QObject *in, const QString &name)
    {
        T *found = in->findChild<T *>(name);
        if (!found)
            qFatal("no control named %s", qPrintable(name));
        return found;
    }
    void click(const char *button, QObject *in = nullptr)
    {
        QTest::mouseClick(find<QPushButton>(in ? in : w.get(), QLatin1String(button)), Qt::LeftButton);
    }
    void choose(const char *menuItem, QObject *in = nullptr)
    {
        find<QAction>(in ? in : w.get(), QLatin1String(menuItem))->trigger();
    }
    QLineEdit *box(const QString &name, QObject *in = nullptr) { return find<QLineEdit>(in ? in : w.get(), name); }
    ferro::Caption *label(const QString &name, QObject *in = nullptr)
    {
        return find<ferro::Caption>(in ? in : w.get(), name);
    }
    QString text(const QString &labelName) { return label(labelName)->text(); }

    // The timer waits ms between its ticks; at the default 1.4 s the test
    // drives the ticks itself.
    void slowTimer(int ms = 1400) { find<ferro::ReversedScrollBar>(w.get(), "hsbTimeInterval")->setValueAt(ms); }

    // All spins +1 (black), as "T = Zero" with a low draw.
    void prepareOrdered()
    {
        random.script = {0.1};
        click("cmdZero");
    }
};
