#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>

#include "shell/main_window.h"
#include "shell/roster.h"
#include "support/fake_platform.h"
#include "support/temp_dir.h"

namespace qvtest {

// A whole program on the scripted platform, its executable folder a fresh temporary folder.
struct RosterFixture {
    TempDir dir;
    FakePlatform platform{QString::fromStdString(dir.Path().string())};
    std::unique_ptr<qv::TRoster> roster;

    std::string ConfigPath() const { return dir.File("DataQRVN.qrvd"); }
    std::string LogPath() const { return dir.File("CLogs.txt"); }

    // Writes one scrambled value as the program would store it.
    void Store(const char* section, const char* key, const std::string& plain, const char* shiftKey) const;
    // The current version marker, as the program writes it.
    void StoreCurrentMarker() const;

    // As the program starts: the windows, then the first turn of the message loop, which shows
    // what the windows held back until all of them existed.
    qv::TRoster& Start() {
        roster = std::make_unique<qv::TRoster>(platform);
        QCoreApplication::sendPostedEvents();
        return *roster;
    }
    void Stop() { roster.reset(); }

    template <class T = QWidget> T* Find(const char* name) const;
    // The entries of the connection list, top to bottom.
    QStringList List() const;
};

// Names repeat across windows ("LoadIni"): the main window's control wins, then the others'.
template <class T> T* RosterFixture::Find(const char* name) const {
    if (roster)
        if (T* found = roster->Mapping().findChild<T*>(QString::fromLatin1(name)))
            return found;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (T* found = top->findChild<T*>(QString::fromLatin1(name)))
            return found;
    return nullptr;
}

} // namespace qvtest
