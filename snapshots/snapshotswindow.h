#pragma once
// The snapshots window: up to 12 captured pictures of the lattice, 4 across
// and 3 down, each with a caption, a legend above them and a box that takes
// the date and time when the window is printed.

#include "caption.h"
#include "cellarray.h"
#include "drawingsurface.h"

#include <QMainWindow>

#include <array>
#include <functional>

class QAction;

namespace ferro {

class Snapshots : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int Blocks = 12;
    static constexpr int BlockCells = 400;

    // showMain brings the main window to the front; clearCounter sets the
    // main window's capture counter to "0".
    Snapshots(std::function<void()> showMain, std::function<void()> clearCounter, QWidget *parent = nullptr);

    QWidget *client;
    Caption *lblLegend;
    Caption *lblSnapshotsFrame;
    CellArray *Shape1;
    std::array<Caption *, Blocks> lblSnapshots;
    DrawingSurface *picDateTime;
    QAction *mnuClearSnapshots, *mnuReturn, *mnuPrint;

    // Top-left corner of block b's first cell, in twips.
    static QPoint blockOrigin(int b);

    void mnuClearSnapshots_Click();
    void mnuReturn_Click();
    void mnuPrint_Click();

private:
    std::function<void()> m_showMain;
    std::function<void()> m_clearCounter;
};

} // namespace ferro
