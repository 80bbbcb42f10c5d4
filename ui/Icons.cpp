#include "ui/Icons.h"

#include <QtCore/qglobal.h>

// Q_INIT_RESOURCE names a function in the global namespace.
static void RegisterIconResources() {
  Q_INIT_RESOURCE(icons);
}

namespace scoutor {

void RegisterIcons() {
  static const bool registered = (RegisterIconResources(), true);
  (void)registered;
}

}  // namespace scoutor
