#include "shell/image_list.h"

#include <QFile>
#include <QPixmap>

#include "shell/program_icon.h"

static void InitImages() {
    Q_INIT_RESOURCE(images);
}

namespace qv {

QIcon ImageListIcon(int index) {
    static const bool initialised = (InitImages(), true);
    (void)initialised;
    const QString path = QStringLiteral(":/images/%1.png").arg(index, 2, 10, QLatin1Char('0'));
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QIcon ProgramIcon() {
    return QIcon(QPixmap::fromImage(ProgramIconImage(32)));
}

} // namespace qv
