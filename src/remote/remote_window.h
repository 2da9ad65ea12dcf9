#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <string_view>

#include "shell/secondary_window.h"

namespace qv {

// The remote administration window: the settings of the remote client and of this instance's own
// server, which the configuration file keeps in section QuorvaneDataRemoteMapping.
class TQuorvaneRemote : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneRemote(TRoster& roster);

    // The eight stored fields, in the order they are saved and loaded.
    static constexpr std::array<const char*, 8> kFieldNames = {
        "RemoteIp",   "RemotePort", "RemoteLogin", "RemotePassword",
        "ServerName", "ServerPort", "ServerLogin", "ServerPassword"};
    QLineEdit* Field(std::string_view name) const { return fields_[FieldIndex(name)]; }
    QPushButton* LoadIni() const { return loadIni_; }
    QPushButton* SaveIni() const { return saveIni_; }

    void LoadIniClick();
    void SaveIniClick();

private:
    void BuildControls();
    void FormCreate();
    void ReadFields();
    void Change();
    static std::size_t FieldIndex(std::string_view name);

    std::array<QLineEdit*, kFieldNames.size()> fields_{};
    QPushButton* loadIni_ = nullptr;
    QPushButton* saveIni_ = nullptr;
    QPushButton* button1_ = nullptr;
};

} // namespace qv
