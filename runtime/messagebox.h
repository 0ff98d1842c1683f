#pragma once
// Modal message boxes, behind an interface that tests answer.

#include <QString>

class QWidget;

namespace ferro {

constexpr int vbOKOnly = 0;
constexpr int vbYesNo = 4;
constexpr int vbOK = 1;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Style 4: Yes and No, Yes the default, no icon; returns 6 or 7.
    // Style 0: OK only; returns 1.
    virtual int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title) = 0;
};

// Real dialogs; Escape and the close box answer No.
class DialogBoxes final : public MessageBoxes {
public:
    int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title) override;
};

} // namespace ferro
