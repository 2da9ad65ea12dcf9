// The advanced options window's five settings in the configuration file.

#include "config/config_messages.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/version_marker.h"
#include "mapping/advanced_window.h"
#include "platform/platform.h"
#include "service/stored_text.h"
#include "shell/file_controls.h"
#include "shell/roster.h"

namespace qv {

void TQuorvaneMappingPlus::FillSettings(const std::array<std::string, 5>& values) {
    for (int i = 0; i < 5; ++i)
        fields_[i]->setText(Latin1Text(values[i]));
}

void TQuorvaneMappingPlus::ReadSettings(const std::string& path) {
    for (int i = 0; i < 5; ++i)
        fields_[i]->setText(ReadStoredText(path, kMappingSection, QString::fromLatin1(kSettingKeys[i])));
}

void TQuorvaneMappingPlus::WriteSettings(ProfileBatch& batch) const {
    for (int i = 0; i < 5; ++i)
        WriteStoredText(batch, kMappingSection, QString::fromLatin1(kSettingKeys[i]), fields_[i]->text());
}

// Texts equal to the built-in ones do not change, so no change rule runs for them.
void TQuorvaneMappingPlus::FormCreate() {
    const std::string path = roster_.ConfigPath();
    switch (StateOfConfigFile(path)) {
    case ConfigFileState::Missing:
        return;
    case ConfigFileState::Old:
        saveIni_->hide();
        return;
    case ConfigFileState::Current:
        ReadSettings(path);
        break;
    }
    // Filling the fields is not an unsaved change.
    roster_.FileControls().MatchFile(TFileControls::kAdvanced);
}

void TQuorvaneMappingPlus::SaveIniClick() {
    roster_.FileControls().SavedHere(TFileControls::kAdvanced);
    // The marker and the five keys reach the file together; other keys stay as they are.
    ProfileBatch batch(roster_.ConfigPath());
    WriteVersionMarker(batch);
    WriteSettings(batch);
    batch.Commit();
}

void TQuorvaneMappingPlus::LoadIniClick() {
    const std::string path = roster_.ConfigPath();
    Platform& platform = roster_.platform();
    if (!CheckLoadable(platform, path))
        return;
    TFileControls& controls = roster_.FileControls();
    controls.SetLoad(TFileControls::kAdvanced, false);
    button1_->setEnabled(false);
    if (!platform.Question(QString::fromLatin1(kReplaceWithOldQuestion))) {
        controls.SetLoad(TFileControls::kAdvanced, true);
        button1_->setEnabled(true);
        return;
    }
    ReadSettings(path);
    saveIni_->show();
    controls.SetLoad(TFileControls::kAdvanced, false);
    button1_->setEnabled(true);
}

} // namespace qv
