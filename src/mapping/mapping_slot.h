#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>
#include <array>
#include <span>
#include <string_view>

class QGridLayout;

namespace qv {

class TRoster;
class TRelayListener;
class TMappingService;

// One of the six mappings of the grid: its three fields, its Enable/Disable buttons and its user
// count, a view of the mapping service's mapping of the same number.
class TMappingSlot : public QObject {
    Q_OBJECT
public:
    // Creates the slot's controls in column `number` of the grid (row 0 is the heading).
    TMappingSlot(int number, TRoster& roster, QWidget* parent, QGridLayout* grid);

    int Number() const { return number_; }
    QLineEdit* IncommingPort() const { return incommingPort_; }
    QLineEdit* OutcommingPort() const { return outcommingPort_; }
    QLineEdit* OutcommingIp() const { return outcommingIp_; }
    QPushButton* MappingEnable() const { return mappingEnable_; }
    QPushButton* MappingDisable() const { return mappingDisable_; }
    QLabel* NCMapping() const { return ncMapping_; }
    // On exactly while its "Disable" button is enabled.
    bool IsOn() const { return mappingDisable_->isEnabled(); }

    // The three stored fields by base name, in the order start-up, load and save take the eighteen.
    static constexpr std::array<const char*, 3> kFieldOrder = {"OutcommingIp", "OutcommingPort",
                                                               "IncommingPort"};
    QLineEdit* Field(std::string_view base) const;

    // Control name of slot N: slot 1 carries no digit ("IncommingPort"), the others end in theirs.
    static QString ControlName(const char* base, int number);

    // The relay listener IdMappedPortTCP<N> that serves this slot.
    TRelayListener& Listener() const;

    // "Enable": checks the fields, starts the listener and lists and logs the switch-on.
    void MappingEnableClick();
    // "Disable": stops the listener and lists and logs the switch-off.
    void MappingDisableClick();
    // Switch-off without a log-file line, of several slots at once ("Disabled All", and before a
    // configuration replaces the fields, where "Enable" is left as it is): each lists its switch-off,
    // then their listeners stop together, applying the events of their closing links while they wait.
    static void SwitchOffTogether(std::span<TMappingSlot* const> group, bool enableButton);

    // The service's connection events of this mapping, on the user-interface thread.
    void IdMappedPortTCPConnect();
    void IdMappedPortTCPDisconnect();

signals:
    // Switched on or off by its buttons ("Disabled All" follows).
    void Switched();
    // Its users went up or down by one (the status bar's total follows).
    void CountChanged(int delta);

private:
    void Change();
    QString PortText() const { return incommingPort_->text(); }
    QString EnabledEntry() const;
    QString DisabledEntry() const;
    void SetFieldsEnabled(bool enabled);
    void SwitchOff(bool enableButton);
    TMappingService& Service() const;

    int number_;
    TRoster& roster_;
    QLineEdit* incommingPort_;
    QLineEdit* outcommingPort_;
    QLineEdit* outcommingIp_;
    QPushButton* mappingEnable_;
    QPushButton* mappingDisable_;
    QLabel* ncMapping_;
};

} // namespace qv
