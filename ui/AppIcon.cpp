#include "ui/AppIcon.h"

// Outside any namespace, as Qt's resource initialiser is declared there.
static void InitIconResources() { Q_INIT_RESOURCE(trawlex_icons); }

namespace trawlex {

QIcon AppIcon() {
  // The icons are compiled into a static library: registered here, so the linker keeps them.
  static const bool registered = (InitIconResources(), true);
  (void)registered;
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size), QSize(size, size));
  return icon;
}

}  // namespace trawlex
