#include "preparation/designtemps.h"

#include "runtime/caption.h"
#include "runtime/colour.h"
#include "runtime/fonts.h"
#include "preparation/preparation.h"
#include "runtime/qtext.h"
#include "runtime/twips.h"

#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>

namespace ferro {

namespace {
constexpr int ClientWidth = 10380;
constexpr int ClientHeight = 5955;
} // namespace

Design_Temps::Design_Temps(std::function<void()> showMain, QWidget *parent)
    : QMainWindow(parent)
    , m_showMain(std::move(showMain))
{
    setWindowTitle(QStringLiteral("Design Temps"));
    setObjectName(QStringLiteral("Design_Temps"));

    auto *client = new QWidget(this);
    client->setFixedSize(px(ClientWidth), px(ClientHeight));
    client->setAutoFillBackground(true);
    setCentralWidget(client);
    // The layout is fixed in twips: the window keeps the size of its client area.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    auto *lblFrame = new Caption(client);
    lblFrame->setTwipsGeometry(2543, 330, 5295, 5295);
    lblFrame->setColours(colourFromBgr(VbLightGrey), Qt::black);

    QPalette boxPalette = palette();
    boxPalette.setColor(QPalette::Base, colourFromBgr(VbWhite));
    boxPalette.setColor(QPalette::Text, colourFromBgr(VbBlack));
    const QFont boxFont = regularFont();
    QWidget *previous = nullptr;
    for (int k = 0; k < Sites; ++k) {
        auto *box = new QLineEdit(client);
        box->setObjectName(QStringLiteral("Text1_%1").arg(k));
        box->setPalette(boxPalette);
        box->setFont(boxFont);
        box->setTextMargins(0, 0, 0, 0);
        place(box, 2783 + 240 * columnOf(k), 570 + 240 * rowOf(k), 255, 285);
        // Rows and columns counted from 1, as a person counts them.
        box->setAccessibleName(
            QStringLiteral("Site factor, row %1, column %2").arg(rowOf(k) + 1).arg(columnOf(k) + 1));
        connect(box, &QLineEdit::textChanged, this, [this, k](const QString &text) {
            const QByteArray utf8 = text.toUtf8();
            m_factors.setText(k, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
            ++m_edits;
        });
        if (previous)
            setTabOrder(previous, box);
        previous = box;
        Text1[k] = box;
    }

    QAction *mnuQuit = menuBar()->addAction(QStringLiteral("Quit Design Temps"));
    mnuQuit->setObjectName(QStringLiteral("mnuQuit"));
    connect(mnuQuit, &QAction::triggered, this, &Design_Temps::mnuQuit_Click);
    QAction *mnuClear = menuBar()->addAction(QStringLiteral("Clear Text"));
    mnuClear->setObjectName(QStringLiteral("mnuClear"));
    connect(mnuClear, &QAction::triggered, this, &Design_Temps::mnuClear_Click);
}

void Design_Temps::mnuClear_Click()
{
    for (QLineEdit *box : Text1)
        box->setText(QString());
}

void Design_Temps::mnuQuit_Click()
{
    for (QLineEdit *box : Text1) {
        const QByteArray text = box->text().toUtf8();
        if (const auto floor = designerFloorText(std::string_view(text.constData(), std::size_t(text.size()))))
            box->setText(toQString(*floor));
    }
    if (m_showMain)
        m_showMain();
}

void Design_Temps::setFactorText(int k, const QString &text)
{
    Text1[k]->setText(text);
}

} // namespace ferro
