#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPushButton>

class QGridLayout;

namespace qv {

class TQuorvaneMapping;

// One of the six mappings of the grid: its three fields, its Enable/Disable buttons and its user
// count. The slot's state is what its controls show; there is no second copy of it.
class TMappingSlot : public QObject {
    Q_OBJECT
public:
    // Creates the slot's controls in column `number` of the grid (row 0 is the heading).
    TMappingSlot(int number, TQuorvaneMapping& window, QWidget* parent, QGridLayout* grid);

    int Number() const { return number_; }
    QLineEdit* IncommingPort() const { return incommingPort_; }
    QLineEdit* OutcommingPort() const { return outcommingPort_; }
    QLineEdit* OutcommingIp() const { return outcommingIp_; }
    QPushButton* MappingEnable() const { return mappingEnable_; }
    QPushButton* MappingDisable() const { return mappingDisable_; }
    QLabel* NCMapping() const { return ncMapping_; }
    // On exactly while its "Disable" button is enabled.
    bool IsOn() const { return mappingDisable_->isEnabled(); }

    // Control name of slot N: slot 1 carries no digit ("IncommingPort"), the others end in theirs.
    static QString ControlName(const char* base, int number);

private:
    void Change();

    int number_;
    TQuorvaneMapping& window_;
    QLineEdit* incommingPort_;
    QLineEdit* outcommingPort_;
    QLineEdit* outcommingIp_;
    QPushButton* mappingEnable_;
    QPushButton* mappingDisable_;
    QLabel* ncMapping_;
};

} // namespace qv
