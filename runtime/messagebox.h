#pragma once
// Modal message boxes, behind a seam that tests answer.

#include <QString>

#include <functional>

class QWidget;

namespace ferro {

constexpr int vbOKOnly = 0;
constexpr int vbYesNo = 4;
constexpr int vbOK = 1;
constexpr int vbYes = 6;
constexpr int vbNo = 7;

// Style 4: Yes and No, Yes the default, no icon; returns 6 or 7.
// Style 0: OK only; returns 1.
int MsgBox(QWidget *parent, const QString &prompt, int style, const QString &title);

// Tests: answer every message box with this function instead of a dialog.
// An empty function brings the real dialog back.
using MsgBoxAnswerer = std::function<int(const QString &prompt, int style, const QString &title)>;
void setMsgBoxAnswerer(MsgBoxAnswerer answerer);

} // namespace ferro
