#pragma once

#include <QApplication>
#include <QEvent>
#include <QObject>

namespace qvtest {

// Counts the times a window named `name` is shown, from before it exists.
class ShowCounter : public QObject {
public:
    explicit ShowCounter(const char* name) : name_(QString::fromLatin1(name)) {
        qApp->installEventFilter(this);
    }
    ~ShowCounter() override { qApp->removeEventFilter(this); }
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->objectName() == name_)
            ++shows;
        return false;
    }

private:
    QString name_;
};

} // namespace qvtest
