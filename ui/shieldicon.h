#pragma once

#include "ui/statusline.h"

#include <QColor>
#include <QIcon>

// The tray's shield with a badge that says the state at a glance, even at 16 pixels: a green tick while protected,
// an amber "!" for a card in trouble, a red clock while a shutdown counts down, and a greyed shield with a red
// cross when nothing would shut the machine down in time. Drawn over the program's own shield, in every size the
// shield comes in. GUI thread only (it paints pixmaps).
namespace ShieldIcon {

QIcon forState(StatusLine::Tray state);
// The badge's colour, which tests look for in the icon.
QColor badgeColour(StatusLine::Tray state);

} // namespace ShieldIcon
