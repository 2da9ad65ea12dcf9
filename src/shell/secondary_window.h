#pragma once

#include <QMainWindow>

namespace qv {

class TRoster;

// A window of fixed size, centred on the desktop, with only the close box; created once at start
// and then shown (modally) and hidden, never created again.
class SecondaryWindow : public QMainWindow {
    Q_OBJECT
public:
    SecondaryWindow(TRoster& roster, const char* className, const char* caption, QSize size);

protected:
    TRoster& roster_;
};

} // namespace qv
