#pragma once
// The program's icon in every size it ships (compiled into the program), for the windows and
// the About window.
#include <QIcon>

namespace trawlex {

QIcon AppIcon();

}  // namespace trawlex
