#include "remote/remote_window.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <stdexcept>
#include <string>

#include "config/config_messages.h"
#include "config/stored_text.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/version_marker.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/platform.h"
#include "platform/port_key_filter.h"
#include "shell/main_window.h"
#include "shell/roster.h"

namespace qv {

namespace {
struct FieldSpec {
    const char* name;
    const char* label;
    const char* initial;
    const char* hint;
    bool port;
    bool password;
};

constexpr FieldSpec kClientFields[] = {
    {"RemoteIp", "Remote Ip Adress :", "255.255.255.0", "Remote Ip Adress|Remote Connection Ip Adress", false,
     false},
    {"RemotePort", "Remote Port Number :", "6586",
     "Remote Port Number|Remote Connection Port Number Default : 6586", true, false},
    {"RemoteLogin", "Login :", "", "Remote Login|Remote Connection Login", false, false},
    {"RemotePassword", "Password :", "", "Remote Password|Remote Connection Password", false, true},
};
constexpr FieldSpec kServerFields[] = {
    {"ServerName", "Server Name :", "Quorvane", "Server Name|Server Name", false, false},
    {"ServerPort", "Server Port :", "6586", "Server Port Number|Server Connection Port Number Default : 6586",
     true, false},
    {"ServerLogin", "Server Login :", "", "Server Login|Server Connection Login", false, false},
    {"ServerPassword", "Server Password :", "", "Server Password|Server Connection Password", false, true},
};
} // namespace

TQuorvaneRemote::TQuorvaneRemote(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneRemote",
                      "Quorvane - Internet Port Mapping - Remote Settings & Remote Connections",
                      QSize(640, 440)) {
    BuildControls();
    roster.RunCreation([this] { FormCreate(); });
}

void TQuorvaneRemote::BuildControls() {
    auto* page = new QWidget(this);
    auto* keyFilter = new PortKeyFilter(this);
    const auto group = [&](const char* title, const auto& defs) {
        auto* box = new QGroupBox(QString::fromLatin1(title), page);
        auto* form = new QFormLayout(box);
        for (const FieldSpec& def : defs) {
            QLineEdit* edit =
                NewEdit(box, QString::fromLatin1(def.name), def.initial, def.hint, def.port ? 5 : 0);
            if (def.port)
                edit->installEventFilter(keyFilter);
            if (def.password)
                edit->setEchoMode(QLineEdit::Password);
            form->addRow(QString::fromLatin1(def.label), edit);
            fields_[FieldIndex(def.name)] = edit;
        }
        return box;
    };
    auto* groups = new QHBoxLayout;
    groups->addWidget(group("Remote Connection", kClientFields));
    groups->addWidget(group("Remote Server", kServerFields));

    loadIni_ = NewButton(page, "LoadIni", "Load Configuration",
                         "Load Configurations|Load Configurations from DataQRVN.qrvd");
    saveIni_ = NewButton(page, "SaveIni", "Save Changes",
                         "Save Configurations|Save Configurations on DataQRVN.qrvd");
    button1_ = NewButton(page, "Button1", "Close", "Close|Close this windows");
    loadIni_->setEnabled(false);
    saveIni_->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(loadIni_);
    buttons->addWidget(saveIni_);
    buttons->addStretch();
    buttons->addWidget(button1_);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(groups);
    layout->addStretch();
    layout->addLayout(buttons);
    setCentralWidget(page);

    Platform& platform = roster_.platform();
    // Connected after the built-in texts are in, so only real changes count.
    for (const char* name : kFieldNames)
        OnSignal(Field(name), &QLineEdit::textChanged, this, platform, [this] { Change(); });
    OnSignal(loadIni_, &QPushButton::clicked, this, platform, [this] { LoadIniClick(); });
    OnSignal(saveIni_, &QPushButton::clicked, this, platform, [this] { SaveIniClick(); });
    OnSignal(button1_, &QPushButton::clicked, this, platform, [this] { hide(); });
}

std::size_t TQuorvaneRemote::FieldIndex(std::string_view name) {
    for (std::size_t i = 0; i < kFieldNames.size(); ++i)
        if (name == kFieldNames[i])
            return i;
    throw std::logic_error("no remote field " + std::string(name));
}

void TQuorvaneRemote::Change() {
    loadIni_->setEnabled(true);
    saveIni_->setEnabled(true);
    roster_.Mapping().MarkUnsaved();
}

void TQuorvaneRemote::ReadFields() {
    const std::string path = roster_.ConfigPath();
    for (const char* name : kFieldNames)
        Field(name)->setText(ReadStoredText(path, kRemoteSection, QString::fromLatin1(name)));
}

void TQuorvaneRemote::FormCreate() {
    switch (StateOfConfigFile(roster_.ConfigPath())) {
    case ConfigFileState::Missing:
        return;
    case ConfigFileState::Old:
        saveIni_->hide();
        return;
    case ConfigFileState::Current:
        ReadFields();
        break;
    }
    loadIni_->setEnabled(false);
    saveIni_->setEnabled(false);
    roster_.Mapping().SetLoadSaveEnabled(false);
}

void TQuorvaneRemote::LoadIniClick() {
    Platform& platform = roster_.platform();
    if (!CheckLoadable(platform, roster_.ConfigPath()))
        return;
    loadIni_->setEnabled(false);
    button1_->setEnabled(false);
    if (platform.Question(QString::fromLatin1(kReplaceWithOldQuestion))) {
        ReadFields();
        saveIni_->show();
        saveIni_->setEnabled(false);
    }
    loadIni_->setEnabled(true);
    button1_->setEnabled(true);
}

void TQuorvaneRemote::SaveIniClick() {
    loadIni_->setEnabled(false);
    saveIni_->setEnabled(false);
    ProfileBatch batch(roster_.ConfigPath());
    WriteVersionMarker(batch);
    for (const char* name : kFieldNames)
        WriteStoredText(batch, kRemoteSection, QString::fromLatin1(name), Field(name)->text());
    batch.Commit();
}

} // namespace qv
