#include "shell/stored_fields.h"

#include <algorithm>

#include "core/profile/config_names.h"
#include "mapping/advanced_window.h"
#include "mapping/mapping_slot.h"
#include "remote/remote_window.h"
#include "shell/main_window.h"
#include "shell/roster.h"

namespace qv {

TStoredFields::TStoredFields(const TRoster& roster) {
    for (const char* name : TQuorvaneRemote::kFieldNames)
        fields_.push_back({kRemote, kRemoteSection, QString::fromLatin1(name), roster.Remote().Field(name)});
    const TQuorvaneMappingPlus& advanced = roster.MappingPlus();
    for (std::size_t i = 0; i < advanced.kSettingKeys.size(); ++i)
        fields_.push_back({kAdvanced, kMappingSection, QString::fromLatin1(advanced.kSettingKeys[i]),
                           advanced.Setting(static_cast<int>(i))});
    for (const char* base : TMappingSlot::kFieldOrder)
        for (int slot = 1; slot <= 6; ++slot)
            fields_.push_back({kMain, kMappingSection, TMappingSlot::ControlName(base, slot),
                               roster.Mapping().Slot(slot).Field(base)});
}

std::vector<TStoredFields::Field> TStoredFields::InFileOrder(bool oldFile) const {
    if (!oldFile)
        return fields_;
    std::vector<Field> fields;
    for (Group group : {kMain, kAdvanced, kRemote})
        std::copy_if(fields_.begin(), fields_.end(), std::back_inserter(fields),
                     [group](const Field& field) { return field.group == group; });
    return fields;
}

QLineEdit* TStoredFields::Find(const std::string& key, int groups) const {
    const QString name = QString::fromLatin1(key.c_str());
    const auto found = std::find_if(fields_.begin(), fields_.end(), [&](const Field& field) {
        return (field.group & groups) != 0 && field.key == name;
    });
    return found == fields_.end() ? nullptr : found->edit;
}

} // namespace qv
