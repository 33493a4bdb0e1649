#pragma once
// Background colours of the message line, by kind of message.

#include <QColor>

namespace statuscolour {
inline const QColor Yellow(255, 255, 0);  // a setting was corrected, or no sweep marker was found
inline const QColor Red(255, 0, 0);       // the action is refused or failed
inline const QColor White(255, 255, 255);  // progress of a capture
inline const QColor Aqua(0, 255, 255);     // progress of a capture
inline const QColor Lime(0, 255, 0);       // a recording run completed
}  // namespace statuscolour
