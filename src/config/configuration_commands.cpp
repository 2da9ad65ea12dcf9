#include "config/configuration_commands.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <stdexcept>
#include <utility>
#include <vector>

#include "config/config_messages.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/version_marker.h"
#include "platform/platform.h"
#include "platform/ui_timer.h"
#include "service/mapping_rules.h"
#include "service/rules_book.h"
#include "service/stored_text.h"
#include "shell/file_controls.h"
#include "shell/roster.h"
#include "shell/stored_fields.h"

namespace qv {

namespace {

std::string FilePath(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

} // namespace

QString TConfigurationCommands::WithDefaultExtension(const QString& fileName) {
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + QStringLiteral(".qrvd") : fileName;
}

void TConfigurationCommands::SetFileItemsEnabled(bool enabled) const {
    roster_.FileControls().SetFileItemsEnabled(enabled);
}

// Marker, then remote, advanced and main fields and the rules, as one new file: a failed save leaves
// the old file.
void TConfigurationCommands::WriteConfiguration(const std::string& path) const {
    ProfileBatch batch(path);
    WriteVersionMarker(batch);
    for (const TStoredFields::Field& field : roster_.StoredFields().InFileOrder(false))
        WriteStoredText(batch, field.section, field.key, field.edit->text());
    WriteMappingRules(batch, roster_.RulesBook().All());
    batch.Commit();
}

void TConfigurationCommands::ReplaceConfiguration(const std::string& path, Values values) const {
    roster_.ClearMappingsForReplacement();

    // Setting the text runs the field's change handling, as typing would.
    for (const TStoredFields::Field& field : roster_.StoredFields().InFileOrder(values == Values::Plain))
        field.edit->setText(values == Values::Scrambled
                                ? ReadStoredText(path, field.section, field.key)
                                : Latin1Text(ReadString(path, field.section, Latin1Bytes(field.key))));
    // An older file knows no rules: none are left in force.
    const QStringList faults =
        roster_.RulesBook().Replace(values == Values::Scrambled ? ReadMappingRules(path) : AllMappingRules{});
    for (const QString& fault : faults)
        roster_.platform().Notice(fault);
}

void TConfigurationCommands::SaveChanges() {
    WriteConfiguration(roster_.ConfigPath());
    roster_.FileControls().SavedAll();
}

void TConfigurationCommands::SaveConfigurationAs() {
    Platform& platform = roster_.platform();
    QWidget* parent = &roster_.Window(TRoster::WindowId::Main);
    const QString chosen = platform.SaveFileName(parent);
    if (chosen.isEmpty()) {
        SetFileItemsEnabled(true);
        return;
    }
    const QString name = WithDefaultExtension(chosen);
    if (QFileInfo::exists(name) &&
        platform.Confirm(
            platform.AppTitle(),
            QStringLiteral("The file is alrealy exist.\r\nAre you sure want to overwrite this file %1?")
                .arg(name)) != Answer::Yes)
        return;
    SetFileItemsEnabled(false);
    try {
        WriteConfiguration(FilePath(name));
    } catch (...) {
        // The items are given back after a failed write too, so the user can choose another file.
        SetFileItemsEnabled(true);
        throw;
    }
    SetFileItemsEnabled(true);
    roster_.FileControls().SavedAs();
}

void TConfigurationCommands::LoadConfiguration() {
    Platform& platform = roster_.platform();
    const std::string path = roster_.ConfigPath();
    if (!CheckLoadable(platform, path))
        return;
    TFileControls& controls = roster_.FileControls();
    controls.SetLoad(TFileControls::kMain, false);
    if (!platform.Question(QString::fromLatin1(kReplaceWithOldQuestion))) {
        controls.SetLoad(TFileControls::kMain, true);
        return;
    }
    ReplaceConfiguration(path, Values::Scrambled);
    roster_.MainTimer(3)->SetEnabled(true);
    controls.LoadedAll();
}

// The fields now equal the file: every Load and Save control goes off.
void TConfigurationCommands::Timer3Tick() {
    roster_.FileControls().MatchFileAll();
}

void TConfigurationCommands::LoadConfigurationFrom() {
    Platform& platform = roster_.platform();
    QWidget* parent = &roster_.Window(TRoster::WindowId::Main);
    const QString chosen = platform.OpenFileName(parent);
    if (chosen.isEmpty())
        return;
    const std::string path = FilePath(WithDefaultExtension(chosen));
    if (!CheckCurrentVersion(platform, path))
        return;
    SetFileItemsEnabled(false);
    if (!platform.Question(QString::fromLatin1(kReplaceQuestion))) {
        SetFileItemsEnabled(true);
        return;
    }
    ReplaceConfiguration(path, Values::Scrambled);
    SetFileItemsEnabled(true);
    roster_.FileControls().LoadedElsewhere();
}

void TConfigurationCommands::LoadOlderConfiguration() {
    Platform& platform = roster_.platform();
    QWidget* parent = &roster_.Window(TRoster::WindowId::Main);
    const QString chosen = platform.OpenFileName(parent);
    if (chosen.isEmpty()) {
        SetFileItemsEnabled(true);
        return;
    }
    const std::string path = FilePath(WithDefaultExtension(chosen));
    if (NoticeIfTooLarge(platform, path)) {
        SetFileItemsEnabled(true);
        return;
    }
    SetFileItemsEnabled(false);
    if (IsCurrentVersion(path)) {
        const QString version = ReadStoredText(path, kMappingSection, QString::fromLatin1(kVersionKey));
        platform.Beep();
        platform.Notice(
            QStringLiteral("It is not a old file. Error loading configuration file.\r\nFile version ") +
            version + QStringLiteral(".\r\nThis option support only the version 1.0."));
        SetFileItemsEnabled(true);
        return;
    }
    if (!platform.Question(QString::fromLatin1(kReplaceQuestion))) {
        SetFileItemsEnabled(true);
        return;
    }
    ReplaceConfiguration(path, Values::Plain);
    SetFileItemsEnabled(true);
    roster_.FileControls().LoadedOlder();
}

} // namespace qv
