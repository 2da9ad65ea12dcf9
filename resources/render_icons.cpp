// Renders the program's icon for the desktop's hicolor icon theme:
//   qv_render_icons <folder> <size>...   writes <folder>/<size>x<size>/apps/quorvane.png
#include <QDir>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "shell/program_icon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <folder> <size>...\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 1 || size > 1024) {
            std::fprintf(stderr, "not an icon size: %s\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = dir + QStringLiteral("/quorvane.png");
        if (!QDir().mkpath(dir) || !qv::ProgramIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
