#include "rules/rules_window.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QNetworkInterface>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "core/relay/relay_socket.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "service/rules_book.h"
#include "shell/file_controls.h"
#include "shell/roster.h"

namespace qv {

namespace {
using Kind = RelayListenOn::Kind;

QPlainTextEdit* NewList(QWidget* parent, const char* name, const char* placeholder) {
    auto* list = new QPlainTextEdit(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setPlaceholderText(QString::fromLatin1(placeholder));
    list->setTabChangesFocus(true);
    return list;
}

QComboBox* NewChoice(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
    auto* choice = new QComboBox(parent);
    choice->setObjectName(QString::fromLatin1(name));
    for (const char* item : items)
        choice->addItem(QString::fromLatin1(item));
    return choice;
}

// This machine's addresses that a socket can be bound to by number, with their interface's name.
QList<std::pair<QString, QString>> LocalAddresses() {
    QList<std::pair<QString, QString>> addresses;
    for (const QNetworkInterface& face : QNetworkInterface::allInterfaces()) {
        if (!(face.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& entry : face.addressEntries()) {
            const QHostAddress ip = entry.ip();
            // A link-local IPv6 address needs its interface named to be bound: it is left out.
            if (ip.isLinkLocal() && ip.protocol() == QAbstractSocket::IPv6Protocol)
                continue;
            addresses.append({ip.toString(), face.humanReadableName()});
        }
    }
    return addresses;
}

// Each mapping by its name, its port and its destination as they are now.
void NameMappings(QComboBox* picker, const TRoster& roster) {
    for (int slot = 1; slot <= picker->count(); ++slot)
        picker->setItemText(slot - 1, roster.MappingCaption(slot));
}
} // namespace

TMappingRulesForm::TMappingRulesForm(TRoster& roster)
    : SecondaryWindow(roster, "MappingRulesForm", "Quorvane - Internet Port Mapping - Mapping Rules",
                      QSize(560, 600)),
      book_(roster.RulesBook()) {
    BuildStandardMenu(false);
    auto* page = new QWidget(this);
    setCentralWidget(page);
    mapping_ = NewChoice(page, "RulesMapping", {});
    for (int slot = 1; slot <= TMappingService::kSlots; ++slot)
        mapping_->addItem(QStringLiteral("Mapping #%1").arg(slot));
    listenOn_ = NewChoice(page, "RulesListenOn", {});
    allow_ = NewList(page, "RulesAllow",
                     "Everyone. Or one address or network a line: 192.168.1.0/24, 2001:db8::/32");
    deny_ = NewList(page, "RulesDeny", "No one. A match here is always refused.");
    maxConnections_ = NewEdit(page, QStringLiteral("RulesMaxConnections"), "", nullptr, 9);
    maxConnections_->setPlaceholderText(QStringLiteral("No limit"));
    bandwidthUp_ = NewEdit(page, QStringLiteral("RulesBandwidthUp"), "", nullptr, 10);
    bandwidthDown_ = NewEdit(page, QStringLiteral("RulesBandwidthDown"), "", nullptr, 10);
    for (QLineEdit* edit : {bandwidthUp_, bandwidthDown_})
        edit->setPlaceholderText(QStringLiteral("No limit (KiB/s, shared by the links)"));
    fallback1_ = NewEdit(page, QStringLiteral("RulesFallback1"), "", nullptr, 300);
    fallback2_ = NewEdit(page, QStringLiteral("RulesFallback2"), "", nullptr, 300);
    for (QLineEdit* edit : {fallback1_, fallback2_})
        edit->setPlaceholderText(QStringLiteral("host:port, tried when the destination cannot be reached"));
    proxyProtocol_ = NewChoice(page, "RulesProxyProtocol", {"Off", "Version 1 (text)", "Version 2 (binary)"});
    proxyProtocol_->setToolTip(QStringLiteral("For TCP connections only: UDP sessions send no header"));
    protocol_ = NewChoice(page, "RulesProtocol", {"TCP", "UDP", "TCP and UDP"});
    udpIdle_ = NewEdit(page, QStringLiteral("RulesUdpIdle"), "", nullptr, 5);
    udpIdle_->setPlaceholderText(QString::number(kUdpIdleDefault.count()));
    udpPerSource_ = NewEdit(page, QStringLiteral("RulesUdpPerSource"), "", nullptr, 5);
    udpPerSource_->setPlaceholderText(QString::number(RelayRules{}.udpPerSource));
    message_ = new QLabel(page);
    message_->setObjectName(QStringLiteral("RulesMessage"));
    message_->setWordWrap(true);
    // Room for two lines at all times, so the buttons stay where they are as messages come and go.
    message_->setMinimumHeight(2 * message_->fontMetrics().lineSpacing());
    apply_ = NewButton(page, QStringLiteral("RulesApply"), "Apply",
                       "Apply|Put the rules in force for this mapping");
    QPushButton* close = NewButton(page, QStringLiteral("RulesClose"), "Close", "Close|Close this windows");

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Mapping:"), mapping_);
    form->addRow(QStringLiteral("Listen on:"), listenOn_);
    form->addRow(QStringLiteral("Protocol:"), protocol_);
    form->addRow(QStringLiteral("UDP session ends after (seconds idle):"), udpIdle_);
    form->addRow(QStringLiteral("UDP sessions of one client address at most:"), udpPerSource_);
    form->addRow(QStringLiteral("Allow:"), allow_);
    form->addRow(QStringLiteral("Deny:"), deny_);
    form->addRow(QStringLiteral("At most (connections at once):"), maxConnections_);
    form->addRow(QStringLiteral("Bandwidth up (KiB/s):"), bandwidthUp_);
    form->addRow(QStringLiteral("Bandwidth down (KiB/s):"), bandwidthDown_);
    form->addRow(QStringLiteral("Fallback 1:"), fallback1_);
    form->addRow(QStringLiteral("Fallback 2:"), fallback2_);
    form->addRow(QStringLiteral("PROXY protocol (TCP only):"), proxyProtocol_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(apply_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addWidget(message_);
    layout->addLayout(buttons);
    BuildHintStatusBar();

    Platform& platform = roster.platform();
    OnSignal(mapping_, &QComboBox::currentIndexChanged, this, platform, [this] {
        drafts_[shown_ - 1] = Typed();
        shown_ = Slot();
        ShowRules(drafts_[shown_ - 1]);
    });
    for (QComboBox* choice : {listenOn_, proxyProtocol_, protocol_})
        OnSignal(choice, &QComboBox::currentIndexChanged, this, platform, [this] { Check(); });
    for (QPlainTextEdit* list : {allow_, deny_})
        OnSignal(list, &QPlainTextEdit::textChanged, this, platform, [this] { Check(); });
    for (QLineEdit* edit :
         {maxConnections_, bandwidthUp_, bandwidthDown_, fallback1_, fallback2_, udpIdle_, udpPerSource_})
        OnSignal(edit, &QLineEdit::textChanged, this, platform, [this] { Check(); });
    OnSignal(apply_, &QPushButton::clicked, this, platform, [this] { ApplyClick(); });
    OnSignal(close, &QPushButton::clicked, this, platform, [this] { hide(); });
    drafts_ = book_.All();
    shown_ = 1;
    ShowRules(drafts_[0]);
}

int TMappingRulesForm::Slot() const {
    return mapping_->currentIndex() + 1;
}

void TMappingRulesForm::showEvent(QShowEvent* event) {
    // What was typed and not applied is forgotten with the window.
    drafts_ = book_.All();
    NameMappings(mapping_, roster_);
    shown_ = Slot();
    ShowRules(drafts_[shown_ - 1]);
    SecondaryWindow::showEvent(event);
}

void TMappingRulesForm::ShowMapping(int slot) {
    NameMappings(mapping_, roster_);
    if (slot > 0)
        mapping_->setCurrentIndex(slot - 1);
    show();
    raise();
    activateWindow();
}

void TMappingRulesForm::FillListenChoices(const MappingRules& rules) {
    listenOn_->clear();
    listenOn_->addItem(QStringLiteral("All IPv4 addresses"), QString());
    listenOn_->addItem(QStringLiteral("All addresses, IPv4 and IPv6"), QString());
    listenOn_->addItem(QStringLiteral("This machine only (127.0.0.1 and ::1)"), QString());
    bool present = false;
    for (const auto& [address, face] : LocalAddresses()) {
        listenOn_->addItem(QStringLiteral("%1 (%2)").arg(address, face), address);
        present = present || address == rules.listenAddress;
    }
    // An address the machine no longer has stays choosable, so opening the window changes nothing.
    if (rules.listenOn == static_cast<int>(Kind::OneAddress) && !present)
        listenOn_->addItem(QStringLiteral("%1 (not on this machine now)").arg(rules.listenAddress),
                           rules.listenAddress);
}

void TMappingRulesForm::ShowRules(const MappingRules& rules) {
    filling_ = true;
    FillListenChoices(rules);
    const int one = listenOn_->findData(rules.listenAddress);
    listenOn_->setCurrentIndex(rules.listenOn == static_cast<int>(Kind::OneAddress) ? one : rules.listenOn);
    allow_->setPlainText(rules.allow);
    deny_->setPlainText(rules.deny);
    maxConnections_->setText(rules.maxConnections);
    bandwidthUp_->setText(rules.bandwidthUp);
    bandwidthDown_->setText(rules.bandwidthDown);
    fallback1_->setText(rules.fallback1);
    fallback2_->setText(rules.fallback2);
    proxyProtocol_->setCurrentIndex(rules.proxyProtocol);
    protocol_->setCurrentIndex(rules.protocol);
    udpIdle_->setText(rules.udpIdle);
    udpPerSource_->setText(rules.udpPerSource);
    filling_ = false;
    Check();
}

MappingRules TMappingRulesForm::Typed() const {
    MappingRules rules;
    const QString address = listenOn_->currentData().toString();
    rules.listenOn =
        address.isEmpty() ? std::max(0, listenOn_->currentIndex()) : static_cast<int>(Kind::OneAddress);
    rules.listenAddress = address;
    rules.allow = allow_->toPlainText();
    rules.deny = deny_->toPlainText();
    rules.maxConnections = maxConnections_->text();
    rules.bandwidthUp = bandwidthUp_->text();
    rules.bandwidthDown = bandwidthDown_->text();
    rules.fallback1 = fallback1_->text();
    rules.fallback2 = fallback2_->text();
    rules.proxyProtocol = proxyProtocol_->currentIndex();
    rules.protocol = protocol_->currentIndex();
    rules.udpIdle = udpIdle_->text();
    rules.udpPerSource = udpPerSource_->text();
    return rules;
}

void TMappingRulesForm::Say(const QString& text, bool fault) {
    message_->setText(text);
    message_->setStyleSheet(fault ? QStringLiteral("color: #b00000") : QString());
}

void TMappingRulesForm::Check() {
    if (filling_)
        return;
    const MappingRules typed = Typed();
    udpIdle_->setEnabled(typed.protocol != 0);
    udpPerSource_->setEnabled(typed.protocol != 0);
    proxyProtocol_->setEnabled(typed.protocol != 1);
    RelayRules relay;
    const QString error = CheckMappingRules(typed, relay);
    Say(error, true);
    apply_->setEnabled(error.isEmpty() && !(typed == book_.Rules(Slot())));
}

void TMappingRulesForm::ApplyClick() {
    const int slot = Slot();
    const TRulesBook::Outcome outcome = book_.Apply(slot, Typed());
    if (!outcome.error.isEmpty()) {
        Say(outcome.error, true);
        return;
    }
    drafts_[slot - 1] = book_.Rules(slot);
    roster_.FileControls().Changed(TFileControls::kMain);
    apply_->setEnabled(false);
    Say(outcome.listenWaits
            ? QStringLiteral("Applied to Mapping #%1. It still listens as before: the new listen address "
                             "and protocol take effect at its next \"Enable\".")
                  .arg(slot)
            : QStringLiteral("Applied to Mapping #%1.").arg(slot),
        false);
}

} // namespace qv
