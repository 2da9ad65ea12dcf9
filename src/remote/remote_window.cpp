#include "remote/remote_window.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPointer>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "config/config_messages.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/version_marker.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/platform.h"
#include "platform/port_key_filter.h"
#include "remote/remote_server.h"
#include "service/stored_text.h"
#include "shell/file_controls.h"
#include "shell/roster.h"

namespace qv {

namespace {
struct FieldDefinition {
    const char* name;
    const char* label;
    const char* initial;
    const char* hint;
    bool port;
    bool password;
};

constexpr FieldDefinition kClientFields[] = {
    {"RemoteIp", "Remote Ip Adress :", "255.255.255.0", "Remote Ip Adress|Remote Connection Ip Adress", false,
     false},
    {"RemotePort", "Remote Port Number :", "6586",
     "Remote Port Number|Remote Connection Port Number Default : 6586", true, false},
    {"RemoteLogin", "Login :", "", "Remote Login|Remote Connection Login", false, false},
    {"RemotePassword", "Password :", "", "Remote Password|Remote Connection Password", false, true},
};
constexpr FieldDefinition kServerFields[] = {
    {"ServerName", "Server Name :", "Quorvane", "Server Name|Server Name", false, false},
    {"ServerPort", "Server Port Number :", "6586",
     "Server Port Number|Server Connection Port Number Default : 6586", true, false},
    {"ServerLogin", "Login :", "", "Server Login|Server Connection Login", false, false},
    {"ServerPassword", "Password :", "", "Server Password|Server Connection Password", false, true},
};
template <size_t N>
void AddFields(QWidget* box, QFormLayout* form, const FieldDefinition (&defs)[N],
               TQuorvaneRemote::Fields& fields) {
    auto* keyFilter = new PortKeyFilter(box);
    for (const FieldDefinition& def : defs) {
        QLineEdit* edit =
            NewEdit(box, QString::fromLatin1(def.name), def.initial, def.hint, def.port ? 5 : 0);
        if (def.port)
            edit->installEventFilter(keyFilter);
        if (def.password)
            MakePasswordEdit(edit);
        form->addRow(QString::fromLatin1(def.label), edit);
        fields[TQuorvaneRemote::FieldIndex(def.name)] = edit;
    }
}
} // namespace

TQuorvaneRemote::TQuorvaneRemote(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneRemote",
                      "Quorvane - Internet Port Mapping - Remote Settings & Remote Connections",
                      QSize(640, 470)) {
    BuildControls();
    BuildTimers();
    roster.RunCreation([this] { FormCreate(); });
}

TQuorvaneRemote::~TQuorvaneRemote() {
    // FormDestroy: the socket goes with the window, without events. No box can open any more.
    if (const std::string fault = DeleteExchangeFile(ExchangePath()); !fault.empty())
        std::fprintf(stderr, "%s\n", fault.c_str());
}

QWidget* TQuorvaneRemote::BuildClientGroup(QWidget* page) {
    auto* box = new QGroupBox(QStringLiteral("Remote Connection"), page);
    auto* form = new QFormLayout(box);
    AddFields(box, form, kClientFields, fields_);
    remoteConnect_ = NewButton(box, "RemoteConnect", "Connect", "Connect");
    remoteDisconnect_ = NewButton(box, "RemoteDisconnect", "Disconnect", "Disconnect");
    remoteGet_ = NewButton(box, "RemoteGet", "Get Remote Configurations", "Get Remote Configurations");
    QPushButton* remoteSend = NewButton(box, "RemoteSend", "Sends Configurations", "Sends Configurations");
    for (QPushButton* button : {remoteConnect_, remoteDisconnect_, remoteGet_, remoteSend})
        button->setEnabled(false);
    auto* buttons = new QGridLayout;
    buttons->addWidget(remoteConnect_, 0, 0);
    buttons->addWidget(remoteDisconnect_, 0, 1);
    buttons->addWidget(remoteGet_, 1, 0);
    buttons->addWidget(remoteSend, 1, 1);
    form->addRow(buttons);

    QLabel* label10 = NewLabel(box, "Label10", "");
    SetHint(label10, "Status");
    QLabel* label13 = NewLabel(box, "Label13", "Time : ");
    QLabel* label14 = NewLabel(box, "Label14", "9");
    QLabel* label11 = NewLabel(box, "Label11", "");
    SetHint(label11, "Message From Remote Server");
    QLabel* label12 = NewLabel(box, "Label12", "Check your remote ip adress and your remote port number.");
    label12->setEnabled(false);
    progressBar1_ = new QProgressBar(box);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    SetHint(progressBar1_, "Status");
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{label10, label11, label12, label13, label14, progressBar1_})
        hidden->hide();
    auto* status = new QHBoxLayout;
    status->addWidget(label10);
    status->addStretch();
    status->addWidget(label13);
    status->addWidget(label14);
    form->addRow(status);
    form->addRow(progressBar1_);
    form->addRow(label11);
    form->addRow(label12);
    return box;
}

QWidget* TQuorvaneRemote::BuildServerGroup(QWidget* page) {
    auto* box = new QGroupBox(QStringLiteral("Remote Server"), page);
    auto* form = new QFormLayout(box);
    AddFields(box, form, kServerFields, fields_);
    remoteActive_ = new QCheckBox(QStringLiteral("Active Remote Server"), box);
    remoteActive_->setObjectName(QStringLiteral("RemoteActive"));
    SetHint(remoteActive_, "Active Remote Server");
    form->addRow(remoteActive_);
    QLabel* label5 = NewLabel(box, "Label5", "Protocol Version 1.06B Beta");
    SetHint(label5, "Protocol Version");
    form->addRow(label5);
    return box;
}

void TQuorvaneRemote::BuildControls() {
    auto* page = new QWidget(this);
    auto* groups = new QHBoxLayout;
    groups->addWidget(BuildClientGroup(page));
    groups->addWidget(BuildServerGroup(page));

    loadIni_ = NewButton(page, "LoadIni", "Load Configuration",
                         "Load Configurations|Load Configurations from DataQRVN.qrvd");
    saveIni_ = NewButton(page, "SaveIni", "Save Changes",
                         "Save Configurations|Save Configurations on DataQRVN.qrvd");
    button1_ = NewButton(page, "Button1", "Close", "Close|Close this windows");
    // Nothing to load or save until the fields change.
    roster_.FileControls().Register(TFileControls::kRemote, {loadIni_, saveIni_, nullptr, nullptr});
    roster_.FileControls().SavedHere(TFileControls::kRemote);
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
    exit1_ = BuildStandardMenu(false).exit1;
    BuildHintStatusBar();

    Platform& platform = roster_.platform();
    // Connected after the built-in texts are in, so only real changes count.
    for (const char* name : kFieldNames)
        OnSignal(Field(name), &QLineEdit::textChanged, this, platform, [this] { Change(); });
    OnSignal(Field("RemoteIp"), &QLineEdit::textChanged, this, platform,
             [this] { remoteConnect_->setEnabled(true); });
    OnSignal(loadIni_, &QPushButton::clicked, this, platform, [this] { LoadIniClick(); });
    OnSignal(saveIni_, &QPushButton::clicked, this, platform, [this] { SaveIniClick(); });
    OnSignal(button1_, &QPushButton::clicked, this, platform, [this] { close(); });
    OnSignal(remoteConnect_, &QPushButton::clicked, this, platform, [this] { RemoteConnectClick(); });
    OnSignal(remoteDisconnect_, &QPushButton::clicked, this, platform, [this] { RemoteDisconnectClick(); });
    OnSignal(remoteGet_, &QPushButton::clicked, this, platform, [this] { RemoteGetClick(); });
    OnSignal(remoteActive_, &QCheckBox::toggled, this, platform,
             [this] { roster_.RemoteServer().RemoteActiveClick(); });
}

std::size_t TQuorvaneRemote::FieldIndex(std::string_view name) {
    for (std::size_t i = 0; i < kFieldNames.size(); ++i)
        if (name == kFieldNames[i])
            return i;
    throw std::logic_error("no remote field " + std::string(name));
}

QLabel* TQuorvaneRemote::Label(int number) const {
    auto* label = findChild<QLabel*>(QStringLiteral("Label%1").arg(number));
    if (!label)
        throw std::logic_error("no remote window label " + std::to_string(number));
    return label;
}

std::string TQuorvaneRemote::ExchangePath() const {
    return roster_.WritableFile(kExchangeFileName);
}

void TQuorvaneRemote::DeleteExchange() {
    const std::string fault = DeleteExchangeFile(ExchangePath());
    if (fault.empty() || exchangeFaultPending_)
        return;
    // Reported once the running handler has ended, so that none stops half-way for it; one box for
    // the failures until it has been seen.
    exchangeFaultPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, text = Latin1Text(fault)] {
            QPointer<TQuorvaneRemote> self(this);
            ReportError(roster_.platform(), text);
            if (self)
                exchangeFaultPending_ = false;
        },
        Qt::QueuedConnection);
}

void TQuorvaneRemote::showEvent(QShowEvent* event) {
    SecondaryWindow::showEvent(event);
    if (!event->spontaneous())
        Guarded(roster_.platform(), [this] { FormShow(); });
}

// The beta notice, at every showing.
void TQuorvaneRemote::FormShow() {
    Platform& platform = roster_.platform();
    platform.Beep();
    platform.Notice(
        QStringLiteral("This options (Remote Settings and Remote Connections) is a beta version. \r\n"
                       "Your software version : %1\r\nSoftware %2.")
            .arg(roster_.VersionText(), Label(5)->text()));
}

void TQuorvaneRemote::closeEvent(QCloseEvent* event) {
    Guarded(roster_.platform(), [this] {
        clientSocket1_->Deactivate();
        remoteGet_->setEnabled(false);
        DeleteExchange();
    });
    SecondaryWindow::closeEvent(event);
}

void TQuorvaneRemote::Change() {
    roster_.FileControls().Changed(TFileControls::kRemote);
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
    roster_.FileControls().MatchFile(TFileControls::kRemote);
}

void TQuorvaneRemote::LoadIniClick() {
    Platform& platform = roster_.platform();
    if (!CheckLoadable(platform, roster_.ConfigPath()))
        return;
    TFileControls& controls = roster_.FileControls();
    controls.SetLoad(TFileControls::kRemote, false);
    button1_->setEnabled(false);
    if (platform.Question(QString::fromLatin1(kReplaceWithOldQuestion))) {
        ReadFields();
        saveIni_->show();
        controls.SavedHere(TFileControls::kRemote);
    }
    controls.SetLoad(TFileControls::kRemote, true);
    button1_->setEnabled(true);
}

void TQuorvaneRemote::SaveIniClick() {
    roster_.FileControls().SavedHere(TFileControls::kRemote);
    ProfileBatch batch(roster_.ConfigPath());
    WriteVersionMarker(batch);
    for (const char* name : kFieldNames)
        WriteStoredText(batch, kRemoteSection, QString::fromLatin1(name), Field(name)->text());
    batch.Commit();
}

} // namespace qv
