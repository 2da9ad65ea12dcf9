#pragma once

#include <QApplication>

namespace qv {

class Platform;

// Last-resort backstop: every handler already runs through Guarded, but an exception that still
// reaches the event loop is reported and the program goes on. Where no display can be reached, it
// says so and ends the program with status 1 instead of the toolkit's abort.
class QuorvaneApplication : public QApplication {
public:
    QuorvaneApplication(int& argc, char** argv);
    void SetPlatform(Platform* platform) { platform_ = platform; }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    Platform* platform_ = nullptr;
};

} // namespace qv
