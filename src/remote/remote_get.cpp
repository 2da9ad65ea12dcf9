// "Get Remote Configurations": the checks, the question, and the configuration copied into this instance.
#include <QFile>
#include <QLabel>

#include "platform/controls.h"
#include "platform/platform.h"
#include "remote/remote_window.h"
#include "service/mapping_rules.h"
#include "service/rules_book.h"
#include "service/stored_text.h"
#include "shell/roster.h"
#include "shell/stored_fields.h"

namespace qv {

void TQuorvaneRemote::RemoteGetClick() {
    Platform& platform = roster_.platform();
    const std::string path = ExchangePath();
    const QString version = roster_.VersionText();
    const ConfigurationCheck check =
        CheckConfiguration(path, Latin1Bytes(Field("RemoteLogin")->text()),
                           Latin1Bytes(Field("RemotePassword")->text()), Latin1Bytes(version));
    if (!check.stopMessage.empty()) {
        platform.Beep();
        platform.Notice(Latin1Text(check.stopMessage));
        DeleteExchange();
        remoteGet_->setEnabled(false);
        return;
    }
    const auto asking = [this](bool exitToo) {
        remoteGet_->setEnabled(false);
        button1_->setEnabled(false);
        if (exitToo)
            exit1_->setEnabled(false);
        remoteConnect_->hide();
        remoteDisconnect_->hide();
    };
    if (check.versionMessage.empty()) {
        asking(true);
        Timer(9)->SetEnabled(false);
        Timer(8)->SetEnabled(true);
    } else {
        platform.Beep();
        Timer(9)->SetEnabled(false);
        Timer(8)->SetEnabled(true);
        platform.Notice(Latin1Text(check.versionMessage));
        asking(false);
    }
    const bool yes = platform.Question(
        QStringLiteral("Are you sure remplace your current settings with the remote configuration?"));
    // Closing the window while the question was open deleted the exchange: nothing is left to apply,
    // and applying nothing would empty every slot.
    if (yes && QFile::exists(QFile::decodeName(path.c_str())))
        ApplyConfiguration();
    DeleteExchange();
    remoteGet_->setEnabled(false);
    button1_->setEnabled(true);
    exit1_->setEnabled(true);
    remoteConnect_->show();
    remoteDisconnect_->show();
    Timer(8)->SetEnabled(false);
    Timer(9)->SetEnabled(false);
}

void TQuorvaneRemote::ApplyConfiguration() {
    roster_.ClearMappingsForReplacement();
    // Each assignment runs the field's change handling, as typing would.
    for (const auto& [control, value] : ReadConfiguration(ExchangePath())) {
        if (QLineEdit* field =
                roster_.StoredFields().Find(control, TStoredFields::kMain | TStoredFields::kAdvanced))
            field->setText(Latin1Text(value));
    }
    // A server that sends no rules has none in force: neither has this instance then.
    for (const QString& fault : roster_.RulesBook().Replace(ReadMappingRules(ExchangePath())))
        roster_.platform().Notice(fault);
    DeleteExchange();
}

} // namespace qv
