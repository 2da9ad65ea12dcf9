#pragma once

#include <array>

#include "service/mapping_rules.h"
#include "shell/secondary_window.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qv {

class TRulesBook;

// "Mapping Rules": where a mapping listens, who may connect, how many at once, how fast, where to go
// when the destination is down, and the PROXY protocol. What is typed is checked at once; "Apply" puts
// the chosen mapping's rules in force. Each mapping keeps what was typed for it until the window closes.
class TMappingRulesForm : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TMappingRulesForm(TRoster& roster);

    // Shows the window with mapping `slot` chosen (0: the one chosen last).
    void ShowMapping(int slot);
    void ApplyClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    int Slot() const;
    void FillListenChoices(const MappingRules& rules);
    // The fields from a mapping's rules, and back.
    void ShowRules(const MappingRules& rules);
    MappingRules Typed() const;
    // Checks what is typed: the message, and "Apply" only when there is something right to apply.
    void Check();
    void Say(const QString& text, bool fault);

    TRulesBook& book_;
    std::array<MappingRules, TMappingService::kSlots> drafts_{};
    int shown_ = 0; // the mapping whose rules the fields hold
    bool filling_ = false;
    QComboBox* mapping_;
    QComboBox* listenOn_;
    QPlainTextEdit* allow_;
    QPlainTextEdit* deny_;
    QLineEdit* maxConnections_;
    QLineEdit* bandwidthUp_;
    QLineEdit* bandwidthDown_;
    QLineEdit* fallback1_;
    QLineEdit* fallback2_;
    QComboBox* proxyProtocol_;
    QComboBox* protocol_;
    QLineEdit* udpIdle_;
    QLineEdit* udpPerSource_;
    QLabel* message_;
    QPushButton* apply_;
};

} // namespace qv
