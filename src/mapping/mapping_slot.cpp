#include "mapping/mapping_slot.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <stdexcept>
#include <string>

#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/latin1_validator.h"
#include "platform/port_key_filter.h"
#include "service/mapping_service.h"
#include "service/stored_mappings.h"
#include "shell/file_controls.h"
#include "shell/roster.h"

namespace qv {

QLineEdit* TMappingSlot::Field(std::string_view base) const {
    if (base == "OutcommingIp")
        return outcommingIp_;
    if (base == "OutcommingPort")
        return outcommingPort_;
    if (base == "IncommingPort")
        return incommingPort_;
    throw std::logic_error("no slot field " + std::string(base));
}

QString TMappingSlot::ControlName(const char* base, int number) {
    return SlotFieldKey(base, number);
}

TMappingSlot::TMappingSlot(int number, TRoster& roster, QWidget* parent, QGridLayout* grid)
    : QObject(parent), number_(number), roster_(roster) {
    setObjectName(QStringLiteral("Slot%1").arg(number));
    auto* heading = new QLabel(QStringLiteral("Mapping #%1").arg(number), parent);
    heading->setObjectName(QStringLiteral("Label%1").arg(number + 5));
    const QByteArray headingHint = QStringLiteral("PortMapping#%1|Port Mapping #%1").arg(number).toLatin1();
    SetHint(heading, headingHint.constData());
    heading->setAlignment(Qt::AlignCenter);

    incommingPort_ = NewEdit(parent, ControlName("IncommingPort", number), "",
                             "IncommingPort|Enter the incomming port number 1 to 65535 (TCP)", 5);
    outcommingPort_ = NewEdit(parent, ControlName("OutcommingPort", number), "",
                              "OutcommingPort|Enter the outcomming port number 1 to 65535 (TCP)", 5);
    outcommingIp_ = NewEdit(parent, ControlName("OutcommingIp", number), "",
                            "OutcommingIp|Enter the outcomming ip adress exemple : 255.255.255.0");
    auto* keyFilter = new PortKeyFilter(this);
    incommingPort_->installEventFilter(keyFilter);
    outcommingPort_->installEventFilter(keyFilter);

    mappingEnable_ =
        NewButton(parent, ControlName("MappingEnable", number), "Enable", "Enable|Enable Mapping");
    mappingDisable_ =
        NewButton(parent, ControlName("MappingDisable", number), "Disable", "Disable|Disable Mapping");
    mappingEnable_->setEnabled(false);
    mappingDisable_->setEnabled(false);
    ncMapping_ = new QLabel(QStringLiteral("0"), parent);
    ncMapping_->setObjectName(QStringLiteral("NCMapping%1").arg(number));
    ncMapping_->setAlignment(Qt::AlignCenter);
    ncMapping_->hide();

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    buttons->addWidget(mappingEnable_);
    buttons->addWidget(mappingDisable_);
    grid->addWidget(heading, 0, number);
    grid->addWidget(incommingPort_, 1, number);
    grid->addWidget(outcommingPort_, 2, number);
    grid->addWidget(outcommingIp_, 3, number);
    grid->addLayout(buttons, 4, number);
    grid->addWidget(ncMapping_, 5, number);

    for (QLineEdit* field : {incommingPort_, outcommingPort_, outcommingIp_})
        connect(field, &QLineEdit::textChanged, this, &TMappingSlot::Change);
    OnSignal(mappingEnable_, &QPushButton::clicked, this, roster.platform(),
             [this] { MappingEnableClick(); });
    OnSignal(mappingDisable_, &QPushButton::clicked, this, roster.platform(),
             [this] { MappingDisableClick(); });

    TMappingService& service = roster.Service();
    connect(&service, &TMappingService::Connected, this, [this](int slot) {
        if (slot == number_)
            IdMappedPortTCPConnect();
    });
    connect(&service, &TMappingService::Disconnected, this, [this](int slot) {
        if (slot == number_)
            IdMappedPortTCPDisconnect();
    });
}

TMappingService& TMappingSlot::Service() const {
    return roster_.Service();
}

TRelayListener& TMappingSlot::Listener() const {
    return Service().Listener(number_);
}

// Any change, typed or loaded, is an unsaved change; a slot with all three fields filled may be
// switched on. Emptying a field later leaves "Enable" as it is: the switch-on checks again.
void TMappingSlot::Change() {
    roster_.FileControls().Changed(TFileControls::kMain);
    if (!incommingPort_->text().isEmpty() && !outcommingPort_->text().isEmpty() &&
        !outcommingIp_->text().isEmpty())
        mappingEnable_->setEnabled(true);
}

} // namespace qv
