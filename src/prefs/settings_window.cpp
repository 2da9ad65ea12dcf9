#include "prefs/settings_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "prefs/autostart_entry.h"
#include "prefs/background_colour.h"
#include "service/switched_on.h"
#include "shell/roster.h"

namespace qv {

namespace {
constexpr const char* kCheckBoxCaptions[] = {
    "Automaticaly start Quorvane - Internet Port Mapping when windows start.",
    "Auto-run minimized.",
    "Save Connections List (Logs File) In CLogs.txt",
    "Show tray icon.",
};
} // namespace

TQuorvaneSettings::TQuorvaneSettings(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneSettings", "Quorvane - Internet Port Mapping - Settings",
                      QSize(697, 491)),
      backgroundsColor_(SystemBackgroundColour()) {
    BuildControls();
    roster.RunCreation([this] { FormCreate(); });
}

TQuorvaneSettings::~TQuorvaneSettings() {
    Guarded(roster_.platform(), [this] { ApplyPreferences(); });
}

void TQuorvaneSettings::BuildControls() {
    const StandardMenu menu = BuildStandardMenu(false);
    exit1_ = menu.exit1;
    BuildHintStatusBar();

    auto* central = new QWidget(this);
    auto* pages = new QTabWidget(central);
    pages->setObjectName(QStringLiteral("PageControl1"));
    pages->setDocumentMode(true);

    auto* preference = new QWidget(pages);
    preference->setObjectName(QStringLiteral("TabSheet1"));
    auto* preferenceLayout = new QVBoxLayout(preference);
    for (int i = 0; i < 4; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(kCheckBoxCaptions[i]), preference);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(i + 1));
        SetHint(box, kCheckBoxCaptions[i]);
        preferenceLayout->addWidget(box);
        checkBoxes_[i] = box;
    }
    checkBoxes_[3]->setChecked(true);
    restoreMappings_ = new QCheckBox(QStringLiteral("Switch saved mappings back on at start"), preference);
    restoreMappings_->setObjectName(QStringLiteral("RestoreMappings"));
    SetHint(restoreMappings_, "Switch the mappings that were on at the last exit back on at start");
    preferenceLayout->addWidget(restoreMappings_);
    preferenceLayout->addStretch();
    pages->addTab(preference, QStringLiteral("Preference"));

    auto* backgrounds = new QWidget(pages);
    backgrounds->setObjectName(QStringLiteral("TabSheet2"));
    auto* backgroundsLayout = new QVBoxLayout(backgrounds);
    auto* row = new QHBoxLayout;
    row->addWidget(NewLabel(backgrounds, QStringLiteral("Label1"), "Backgrounds color :"));
    buttons_[0] =
        NewButton(backgrounds, QStringLiteral("Button1"), "Change", "Change Your Backgrounds Color.");
    buttons_[1] = NewButton(backgrounds, QStringLiteral("Button2"), "Reset", "Reset Your Backgrounds Color.");
    row->addWidget(buttons_[0]);
    row->addWidget(buttons_[1]);
    row->addStretch();
    backgroundsLayout->addLayout(row);
    backgroundsLayout->addStretch();
    pages->addTab(backgrounds, QStringLiteral("Backgrounds"));

    buttons_[2] = NewButton(central, QStringLiteral("Button3"), "Close", "Close|Close this windows");
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(pages, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(buttons_[2]);
    layout->addLayout(bottom);
    setCentralWidget(central);

    Platform& platform = roster_.platform();
    for (int i = 0; i < 2; ++i) {
        UiTimer* timer = new UiTimer(QStringLiteral("Timer%1").arg(i + 1), 1000, this);
        timers_[i] = timer;
        OnSignal(timer, &UiTimer::Tick, this, platform, [this, timer] { TimerTick(timer); });
    }
    OnSignal(checkBoxes_[2], &QCheckBox::toggled, this, platform, [this] { CheckBox3Click(); });
    OnSignal(buttons_[0], &QPushButton::clicked, this, platform, [this] { Button1Click(); });
    OnSignal(buttons_[1], &QPushButton::clicked, this, platform, [this] { Button2Click(); });
    OnSignal(buttons_[2], &QPushButton::clicked, this, platform, [this] { close(); });
}

void TQuorvaneSettings::FormCreate() {
    ReadTrayIcon();
    ReadStartSwitches();
    checkBoxes_[0]->setChecked(AutostartEntryIsOn(roster_.platform().ReadAutostartEntry(kAutostartName)));
}

// The autostart box keeps its state from creation or from the user's last change.
void TQuorvaneSettings::FormShow() {
    ReadTrayIcon();
    checkBoxes_[2]->setChecked(roster_.LogSaveSwitch()->isChecked());
    ReadStartSwitches();
}

void TQuorvaneSettings::ReadTrayIcon() {
    const std::string value =
        UnscrambleText(ReadString(roster_.ConfigPath(), kSettingsSection, "TrayIcon"), kTrayIconShiftKey);
    // Only the two known states move the box; anything else leaves it as it is.
    if (value == "Disabled")
        checkBoxes_[3]->setChecked(false);
    else if (value.empty())
        checkBoxes_[3]->setChecked(true);
}

void TQuorvaneSettings::ReadStartSwitches() {
    checkBoxes_[1]->setChecked(
        IsSwitchOn(roster_.ConfigPath(), "WindowsState", "Minimized", kWindowsStateShiftKey));
    restoreMappings_->setChecked(RestoreMappingsAtStart(roster_.ConfigPath()));
}

void TQuorvaneSettings::CheckBox3Click() {
    roster_.LogSaveSwitch()->setChecked(checkBoxes_[2]->isChecked());
}

void TQuorvaneSettings::showEvent(QShowEvent* event) {
    SecondaryWindow::showEvent(event);
    Guarded(roster_.platform(), [this] { FormShow(); });
}

void TQuorvaneSettings::closeEvent(QCloseEvent* event) {
    // A close whose preferences cannot be stored leaves the window open, so nothing is lost.
    event->ignore();
    Guarded(roster_.platform(), [this, event] {
        ApplyPreferences();
        event->accept();
    });
}

// The start-in-tray state and the autostart entry change together or not at all; the tray icon
// follows once they are stored. The restore switch stands alone and goes first.
void TQuorvaneSettings::ApplyPreferences() {
    const std::string path = roster_.ConfigPath();
    SetSwitch(path, kRestoreMappingsKey, kRestoreMappingsWord, kRestoreMappingsShiftKey,
              restoreMappings_->isChecked());
    const std::string previousState = ReadString(path, kSettingsSection, "WindowsState");
    SetSwitch(path, "WindowsState", "Minimized", kWindowsStateShiftKey, checkBoxes_[1]->isChecked());
    try {
        StoreAutostart();
    } catch (...) {
        try {
            if (previousState.empty())
                DeleteKey(path, kSettingsSection, "WindowsState");
            else
                WriteString(path, kSettingsSection, "WindowsState", previousState);
        } catch (const WriteError&) {
            // The file took the new state a moment ago; the autostart failure is the one to report.
        }
        throw;
    }
    roster_.ShowTrayIcon(checkBoxes_[3]->isChecked());
}

void TQuorvaneSettings::StoreAutostart() {
    Platform& platform = roster_.platform();
    if (!checkBoxes_[0]->isChecked()) {
        platform.DeleteAutostartEntry(kAutostartName);
        return;
    }
    const std::string executable = QFile::encodeName(platform.ExecutablePath()).toStdString();
    if (!platform.WriteAutostartEntry(kAutostartName, AutostartEntryText(executable)))
        throw std::runtime_error(std::string("Failed to set data for '") + kAutostartName + "'");
}

} // namespace qv
