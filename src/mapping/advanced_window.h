#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <string>

#include "shell/secondary_window.h"

namespace qv {

class ProfileBatch;

// "Advanced Options": the settings of the advanced timed mapping (listener 7), arming and
// disarming it, and the save and load of its five keys. Its state is what its controls show.
class TQuorvaneMappingPlus : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneMappingPlus(TRoster& roster);

    // The five settings in the order they are read and written: each is the objectName of its
    // field and its key in the mapping section.
    static constexpr std::array<const char*, 5> kSettingKeys = {"TimerStart", "IncommingPAd", "OutcommingPAd",
                                                                "OutcommingIpAd", "TimerStop"};
    QLineEdit* Setting(int index) const { return fields_.at(index); }
    QLineEdit* TimerStart() const { return fields_[0]; }
    QLineEdit* IncommingPAd() const { return fields_[1]; }
    QLineEdit* OutcommingPAd() const { return fields_[2]; }
    QLineEdit* OutcommingIpAd() const { return fields_[3]; }
    QLineEdit* TimerStop() const { return fields_[4]; }

    QPushButton* TimerEnable() const { return timerEnable_; }
    QPushButton* TimerDisable() const { return timerDisable_; }
    QPushButton* LoadIni() const { return loadIni_; }
    QPushButton* SaveIni() const { return saveIni_; }
    QPushButton* Button1() const { return button1_; }
    QLabel* NCMappingTimer() const { return ncMappingTimer_; }
    QLabel* Label12() const { return label12_; }
    QFrame* Bevel2() const { return bevel2_; }

    // Armed exactly while "Disable" is enabled.
    bool Armed() const { return timerDisable_->isEnabled(); }

    // Puts stored texts (single bytes each) into the five fields in key order; the change rules
    // run for every text that differs.
    void FillSettings(const std::array<std::string, 5>& values);
    // Reads the five keys of a configuration file, unscrambled, into the fields (absent: empty).
    void ReadSettings(const std::string& path);
    // Adds the five fields, scrambled, to a batch of changes.
    void WriteSettings(ProfileBatch& batch) const;

    // The timed mapping's connection events, on the user-interface thread.
    void IdMappedPortTCP7Connect();
    void IdMappedPortTCP7Disconnect();

    void TimerEnableClick();
    void TimerDisableClick();
    void SaveIniClick();
    void LoadIniClick();
    void Button1Click() { close(); }

private:
    void BuildControls();
    void FormCreate();
    void Change(int index);
    void ShowCount(bool shown);
    QString PortText() const { return IncommingPAd()->text(); }

    std::array<QLineEdit*, 5> fields_{};
    QPushButton* timerEnable_ = nullptr;
    QPushButton* timerDisable_ = nullptr;
    QPushButton* loadIni_ = nullptr;
    QPushButton* saveIni_ = nullptr;
    QPushButton* button1_ = nullptr;
    QLabel* ncMappingTimer_ = nullptr;
    QLabel* label12_ = nullptr;
    QFrame* bevel2_ = nullptr;
};

} // namespace qv
