#pragma once
// The temperature-factor designer: one text box per lattice site. The boxes
// are the only store of the factors; the table of numbers that the run reads
// follows every edit of a box.

#include "core/flip.h"

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <functional>

class QLineEdit;

namespace ferro {

class Design_Temps : public QMainWindow {
    Q_OBJECT
public:
    // showMain brings the main window to the front.
    explicit Design_Temps(std::function<void()> showMain, QWidget *parent = nullptr);

    // The factor of every site as the run uses it.
    const FactorTable &factors() const { return m_factors; }
    // How many times a box's text has changed since the window was made.
    std::uint64_t edits() const { return m_edits; }
    // Fills box k with a text, as if typed.
    void setFactorText(int k, const QString &text);

private:
    void mnuQuit_Click();
    void mnuClear_Click();

    std::function<void()> m_showMain;
    std::array<QLineEdit *, Sites> Text1;
    FactorTable m_factors;
    std::uint64_t m_edits = 0;
};

} // namespace ferro
