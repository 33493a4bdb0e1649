#pragma once
// The windows' design font: MS Sans Serif 8 pt. It is seldom installed outside
// Windows; Arial, or the metric-compatible face the system puts in its place, keeps
// the captions within their design widths.

#include <QFont>
#include <QFontDatabase>

inline QFont designFont()
{
    const QString face = QStringLiteral("MS Sans Serif");
    return QFont(QFontDatabase::hasFamily(face) ? face : QStringLiteral("Arial"), 8);
}
