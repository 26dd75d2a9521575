#include "support/Screenshot.h"

#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace brelo::test {

void Screenshot(QWidget* w, const QString& name) {
  const QByteArray dir = qgetenv("BRELO_SCREENSHOTS");
  if (dir.isEmpty()) return;
  QDir().mkpath(QString::fromLocal8Bit(dir));
  w->grab().save(QString::fromLocal8Bit(dir) + "/" + name + ".png");
}

}  // namespace brelo::test
