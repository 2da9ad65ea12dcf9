#include <QApplication>

#include "shell/app_title.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(qv::kAppTitle));
    return 0;
}
