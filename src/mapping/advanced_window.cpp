#include "mapping/advanced_window.h"

#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/port_key_filter.h"
#include "service/mapping_service.h"
#include "shell/file_controls.h"
#include "shell/roster.h"

namespace qv {

namespace {

struct FieldDefinition {
    const char* label;
    const char* labelText;
    const char* initial;
    const char* hint;
    bool digitsOnly;
    int maxLength; // 0: no limit
};

// In the order of kSettingKeys.
constexpr FieldDefinition kFields[5] = {
    {"Label1", "Timer :", "1", "Timer|Time to start", true, 0},
    {"Label5", "Incomming Port :", "113", "IncommingPort|Enter the incomming port number 1 to 65535 (TCP)",
     true, 5},
    {"Label4", "Outcomming Port :", "113", "OutcommingPort|Enter the outcomming port number 1 to 65535 (TCP)",
     true, 5},
    {"Label3", "Outcomming Ip Adress : ", "255.255.255.0",
     "OutcommingIp|Enter the outcomming ip adress exemple : 255.255.255.0", false, 0},
    {"Label6", "Stop Timer :", "2000", "Timer|Time to stop", true, 0},
};

constexpr int kBevelHeight = 56;
constexpr int kArmedBevelHeight = 76;

// The window keeps its controls where they stand; only the frame around the buttons changes height.
template <class Control> Control* Placed(Control* control, QRect geometry) {
    control->setGeometry(geometry);
    return control;
}

} // namespace

TQuorvaneMappingPlus::TQuorvaneMappingPlus(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneMappingPlus", "Quorvane - Internet Port Mapping - Advanced Options",
                      QSize(696, 480)) {
    BuildControls();
    BuildStandardMenu(true);
    BuildHintStatusBar();
    Platform& platform = roster.platform();
    OnSignal(timerEnable_, &QPushButton::clicked, this, platform, [this] { TimerEnableClick(); });
    OnSignal(timerDisable_, &QPushButton::clicked, this, platform, [this] { TimerDisableClick(); });
    OnSignal(saveIni_, &QPushButton::clicked, this, platform, [this] { SaveIniClick(); });
    OnSignal(loadIni_, &QPushButton::clicked, this, platform, [this] { LoadIniClick(); });
    OnSignal(button1_, &QPushButton::clicked, this, platform, [this] { Button1Click(); });
    // The timed mapping's events: counted here only (the status bar's total is the six slots'),
    // listed in the main window.
    TMappingService& service = roster.Service();
    connect(&service, &TMappingService::Connected, this, [this](int slot) {
        if (slot == TMappingService::kTimedSlot)
            IdMappedPortTCP7Connect();
    });
    connect(&service, &TMappingService::Disconnected, this, [this](int slot) {
        if (slot == TMappingService::kTimedSlot)
            IdMappedPortTCP7Disconnect();
    });
    roster.RunCreation([this] { FormCreate(); });
}

void TQuorvaneMappingPlus::BuildControls() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("Page"));
    setCentralWidget(page);

    QLabel* note = Placed(
        NewLabel(page, "Label2",
                 "Note : On client connect on Mapping #1 the timer will be start automatically, this a "
                 "good options to enable identd on irc server."),
        QRect(16, 8, 664, 40));
    note->setWordWrap(true);

    auto* keyFilter = new PortKeyFilter(this);
    for (int i = 0; i < 5; ++i) {
        const FieldDefinition& def = kFields[i];
        const int top = 56 + i * 32;
        Placed(NewLabel(page, def.label, def.labelText), QRect(16, top, 170, 24));
        QLineEdit* field =
            Placed(NewEdit(page, QString::fromLatin1(kSettingKeys[i]), def.initial, def.hint, def.maxLength),
                   QRect(192, top, 180, 24));
        if (def.digitsOnly)
            field->installEventFilter(keyFilter);
        fields_[i] = field;
        connect(field, &QLineEdit::textChanged, this, [this, i] { Change(i); });
    }

    for (auto [name, text, top] :
         {std::tuple{"Label7", "Note : You need a restart to take the change in Incomming Port .", 224},
          std::tuple{"Label8",
                     "You need a restart to disable this options (if you have enabled "
                     "this options)",
                     248}}) {
        QLabel* red = Placed(NewLabel(page, name, text), QRect(16, top, 664, 22));
        red->setStyleSheet(QStringLiteral("color: red;"));
    }

    // Arming grows the frame to make room for the user count.
    bevel2_ = new QFrame(page);
    bevel2_->setObjectName(QStringLiteral("Bevel2"));
    bevel2_->setFrameShape(QFrame::StyledPanel);
    bevel2_->setGeometry(400, 56, 272, kBevelHeight);
    timerEnable_ =
        Placed(NewButton(bevel2_, "TimerEnable", "Enable", "Enable|Enable"), QRect(12, 14, 120, 28));
    timerDisable_ =
        Placed(NewButton(bevel2_, "TimerDisable", "Disable", "Disable|Disable"), QRect(140, 14, 120, 28));
    timerEnable_->setEnabled(false);
    timerDisable_->setEnabled(false);
    label12_ = Placed(NewLabel(bevel2_, "Label12", "User(s) Connected :"), QRect(12, 50, 150, 20));
    ncMappingTimer_ = Placed(NewLabel(bevel2_, "NCMappingTimer", "0"), QRect(170, 50, 90, 20));
    label12_->hide();
    ncMappingTimer_->hide();

    loadIni_ = Placed(NewButton(page, "LoadIni", "Load Configuration",
                                "Load Configurations|Load Configurations from DataQRVN.qrvd"),
                      QRect(16, 296, 160, 30));
    saveIni_ = Placed(NewButton(page, "SaveIni", "Save Changes",
                                "Save Configurations|Save Configurations on DataQRVN.qrvd"),
                      QRect(184, 296, 160, 30));
    button1_ =
        Placed(NewButton(page, "Button1", "Close", "Close|Close this windows"), QRect(352, 296, 160, 30));
    // Nothing to load or save until the fields change.
    roster_.FileControls().Register(TFileControls::kAdvanced, {loadIni_, saveIni_, nullptr, nullptr});
    roster_.FileControls().SavedHere(TFileControls::kAdvanced);
}

// Every change is an unsaved change. Each mapping field opens the next one, and only the host
// field (or a disarm) makes "Enable" available.
void TQuorvaneMappingPlus::Change(int index) {
    roster_.FileControls().Changed(TFileControls::kAdvanced);
    switch (index) {
    case 1:
        OutcommingPAd()->setEnabled(true);
        break;
    case 2:
        OutcommingIpAd()->setEnabled(true);
        break;
    case 3:
        timerEnable_->setEnabled(true);
        break;
    default:
        break;
    }
}

void TQuorvaneMappingPlus::ShowCount(bool shown) {
    bevel2_->resize(bevel2_->width(), shown ? kArmedBevelHeight : kBevelHeight);
    ncMappingTimer_->setVisible(shown);
    label12_->setVisible(shown);
}

void TQuorvaneMappingPlus::IdMappedPortTCP7Connect() {
    AddToCount(ncMappingTimer_, 1);
    roster_.AddLogEntry(TMappingService::ConnectEntry(TMappingService::kTimedSlot));
}

void TQuorvaneMappingPlus::IdMappedPortTCP7Disconnect() {
    AddToCount(ncMappingTimer_, -1);
    roster_.RemoveLogEntry(TMappingService::ConnectEntry(TMappingService::kTimedSlot));
    roster_.AddLogEntry(TMappingService::DisconnectEntry(TMappingService::kTimedSlot));
}

} // namespace qv
