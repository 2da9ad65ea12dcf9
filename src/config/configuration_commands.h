#pragma once

#include <QString>
#include <array>
#include <string>
#include <vector>

class QAction;
class QLineEdit;
class QPushButton;
class QWidget;

namespace qv {

class TRoster;

// Save, load and import of the whole configuration: the texts of the 18 mapping fields of the main
// window, the 5 fields of the advanced options and the 8 of the remote window.
class TConfigurationCommands {
public:
    explicit TConfigurationCommands(TRoster& roster) : roster_(roster) {}

    void SaveChanges();            // SaveIni, SaveIni2
    void SaveConfigurationAs();    // SaveConfigurationAs1
    void LoadConfiguration();      // LoadIni, LoadIni2
    void LoadConfigurationFrom();  // LoadConfigurationFrom1
    void LoadOlderConfiguration(); // Loadaolderconfiguration1: a version-1.0 file, values in plain
    void Timer3Tick();             // the follow-up of LoadConfiguration

    // A chosen name without an extension gets ".qrvd".
    static QString WithDefaultExtension(const QString& fileName);

private:
    enum class Values { Scrambled, Plain };

    void WriteConfiguration(const std::string& path) const;
    void ReplaceConfiguration(const std::string& path, Values values) const;
    void SetFileItemsEnabled(bool enabled) const;

    TRoster& roster_;
};

} // namespace qv
