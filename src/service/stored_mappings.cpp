#include "service/stored_mappings.h"

#include "core/profile/config_names.h"
#include "platform/str_to_int.h"
#include "service/stored_text.h"
#include "service/switched_on.h"

namespace qv {

QString SlotFieldKey(const char* base, int slot) {
    QString name = QString::fromLatin1(base);
    if (slot > 1)
        name += QString::number(slot);
    return name;
}

std::array<StoredMapping, TMappingService::kSlots> ReadStoredMappings(const std::string& path) {
    std::array<StoredMapping, TMappingService::kSlots> mappings;
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot) {
        StoredMapping& m = mappings[slot - 1];
        m.host = ReadStoredText(path, kMappingSection, SlotFieldKey("OutcommingIp", slot));
        m.destinationPort = ReadStoredText(path, kMappingSection, SlotFieldKey("OutcommingPort", slot));
        m.listenPort = ReadStoredText(path, kMappingSection, SlotFieldKey("IncommingPort", slot));
        m.switchedOn = WasSwitchedOn(path, slot);
    }
    return mappings;
}

QString CheckMapping(int slot, const StoredMapping& texts, MappingTarget& target) {
    const auto notice = [slot](const char* text) { return QString::fromLatin1(text).arg(slot); };
    if (texts.host.isEmpty())
        return notice("No outcomming ip adress/hostname in mapping #%1.");
    if (texts.destinationPort.isEmpty())
        return notice("No outcomming port number in mapping #%1.");
    if (texts.listenPort.isEmpty())
        return notice("No incomming port number in mapping #%1.");
    const int listenPort = StrToInt(texts.listenPort);
    const int destinationPort = StrToInt(texts.destinationPort);
    if (!IsValidPort(destinationPort))
        return notice("Invalid outcomming port number in mapping #%1.");
    if (!IsValidPort(listenPort))
        return notice("Invalid incomming port number in mapping #%1.");
    target = {listenPort, texts.host.toLatin1().toStdString(), destinationPort};
    return {};
}

} // namespace qv
