#include "prefs/settings_window.h"

#include <QVBoxLayout>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "shell/roster.h"

namespace qv {

TQuorvaneSettings::TQuorvaneSettings(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneSettings", "Quorvane - Internet Port Mapping - Settings",
                      QSize(697, 491)) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    checkBox4_ = new QCheckBox(QStringLiteral("Show tray icon."), page);
    checkBox4_->setObjectName(QStringLiteral("CheckBox4"));
    checkBox4_->setToolTip(checkBox4_->text());
    checkBox4_->setChecked(true);
    layout->addWidget(checkBox4_);
    layout->addStretch();
    setCentralWidget(page);
    ReadTrayIcon();
}

void TQuorvaneSettings::ReadTrayIcon() {
    const std::string value =
        UnscrambleText(ReadString(roster_.ConfigPath(), kSettingsSection, "TrayIcon"), kTrayIconShiftKey);
    // Only the two known states move the box; anything else leaves it as it is.
    if (value == "Disabled")
        checkBox4_->setChecked(false);
    else if (value.empty())
        checkBox4_->setChecked(true);
}

} // namespace qv
