#pragma once
// The temperature-factor designer: one text box per lattice site. The boxes
// are the only store of the factors; the table of numbers that the run reads
// follows every edit of a box.

#include "caption.h"
#include "flip.h"

#include <QMainWindow>

#include <array>
#include <functional>

class QAction;
class QLineEdit;

namespace ferro {

class Design_Temps : public QMainWindow {
    Q_OBJECT
public:
    // showMain brings the main window to the front.
    explicit Design_Temps(std::function<void()> showMain, QWidget *parent = nullptr);

    QWidget *client;
    Caption *lblFrame;
    std::array<QLineEdit *, Sites> Text1;
    QAction *mnuQuit, *mnuClear;

    // The factor of every site as the run uses it.
    const FactorTable &factors() const { return m_factors; }

    void mnuQuit_Click();
    void mnuClear_Click();

private:
    std::function<void()> m_showMain;
    FactorTable m_factors;
};

} // namespace ferro
