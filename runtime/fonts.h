#pragma once
// The two faces of the windows: regular 8.25-point and bold 9.75-point sans
// serif. Arial's metrics (Liberation Sans) come closest to the layout.

#include <QFont>

namespace ferro {

inline QFont sansFont(double points, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Helvetica"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

inline QFont regularFont() { return sansFont(8.25, false); }
inline QFont boldFont() { return sansFont(9.75, true); }

} // namespace ferro
