#pragma once
// The snapshots window: up to 12 captured pictures of the lattice, 4 across
// and 3 down, each with a caption, a legend above them and a box that takes
// the date and time when the window is printed.

#include "core/lattice.h"
#include "snapshots/series.h"
#include "runtime/services.h"

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <functional>

namespace ferro {

class Caption;
class CellArray;
class DrawingSurface;

class Snapshots : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int Blocks = SnapshotSeries::Blocks;

    // showMain brings the main window to the front; clearCount empties the
    // main window's snapshot series.
    Snapshots(Services &services, std::function<void()> showMain, std::function<void()> clearCount,
              QWidget *parent = nullptr);

    // Block `slot` shows the lattice in these 400 cell colours, with its caption.
    void showCapture(int slot, const QString &caption, const std::array<std::uint32_t, Sites> &colours);
    // Reset: every cell hidden and every caption emptied; the captions keep
    // their visibility.
    void emptyBlocks();

private:
    void mnuClearSnapshots_Click();
    void mnuReturn_Click();
    void mnuPrint_Click();

    Services &m_services;
    std::function<void()> m_showMain;
    std::function<void()> m_clearCount;
    QWidget *m_client;
    CellArray *Shape1;
    std::array<Caption *, Blocks> lblSnapshots;
    DrawingSurface *picDateTime;
};

} // namespace ferro
