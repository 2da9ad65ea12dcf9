// Arming and disarming the advanced timed mapping.
#include "mapping/advanced_window.h"
#include "platform/platform.h"
#include "platform/port_key_filter.h"
#include "platform/str_to_int.h"
#include "service/listen_port.h"
#include "service/mapping_service.h"
#include "shell/roster.h"

namespace qv {

namespace {
// A negative time was pasted past the key filter: it is refused like a text that is no number,
// rather than handed to a timer.
int ReadTime(const QLineEdit* field) {
    const int ms = StrToInt(field->text());
    if (ms < 0)
        throw ConvertError("'" + field->text().toLatin1().toStdString() + "' is not a valid integer value");
    return ms;
}
} // namespace

void TQuorvaneMappingPlus::TimerEnableClick() {
    constexpr const char* kEmptyNotices[5] = {"No start timer.", "No incomming port number.",
                                              "No outcomming port number.",
                                              "No outcomming ip adress/hostname.", "No stop timer."};
    Platform& platform = roster_.platform();
    for (int i = 0; i < 5; ++i)
        if (fields_[i]->text().isEmpty())
            return platform.Notice(QString::fromLatin1(kEmptyNotices[i]));
    // Every number is read and checked before anything changes, so a refused arming leaves
    // listener 7 and the timers exactly as they were.
    const int listenPort = StrToInt(IncommingPAd()->text());
    const int destinationPort = StrToInt(OutcommingPAd()->text());
    const int startMs = ReadTime(TimerStart());
    const int stopMs = ReadTime(TimerStop());
    if (!IsValidPort(listenPort))
        return platform.Notice(QStringLiteral("Invalid incomming port number."));
    if (!IsValidPort(destinationPort))
        return platform.Notice(QStringLiteral("Invalid outcomming port number."));

    roster_.Service().ArmTimed(
        {listenPort, OutcommingIpAd()->text().toLatin1().toStdString(), destinationPort}, startMs, stopMs);

    timerEnable_->setEnabled(false);
    for (QLineEdit* field : fields_)
        field->setEnabled(false);
    timerDisable_->setEnabled(true);
    // Once opened, the timed mapping listens on the port of its first opening.
    const QString port = ListenPortText(roster_.Service(), TMappingService::kTimedSlot, PortText());
    const QString enabled = QStringLiteral("Advanced Enabled Mapping #1 on port : ") + port;
    roster_.AddLogEntry(enabled);
    roster_.RemoveLogEntry(QStringLiteral("Advanced Disabled Mapping #1 on port : ") + port);
    ShowCount(true);
    roster_.AppendLogLine(EventText(enabled));
}

void TQuorvaneMappingPlus::TimerDisableClick() {
    // No longer armed before the stop's wait: a slot-1 connection applied during that wait must
    // not start the timers again.
    timerDisable_->setEnabled(false);
    roster_.Service().DisarmTimed();

    for (QLineEdit* field : fields_)
        field->setEnabled(true);
    timerEnable_->setEnabled(true);
    const QString port = ListenPortText(roster_.Service(), TMappingService::kTimedSlot, PortText());
    const QString disabled = QStringLiteral("Advanced Disabled Mapping #1 on port : ") + port;
    roster_.AddLogEntry(disabled);
    roster_.RemoveLogEntry(QStringLiteral("Advanced Enabled Mapping #1 on port : ") + port);
    ShowCount(false);
    roster_.AppendLogLine(EventText(disabled));
}

} // namespace qv
