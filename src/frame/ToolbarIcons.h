#pragma once
/// The toolbar's pictures: the desktop theme's icon where it has one, else a small drawing.

#include <QIcon>

namespace zerimo {

QIcon ToolbarIcon(unsigned id);

} // namespace zerimo
