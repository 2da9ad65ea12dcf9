#include "info/latest_tab.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "info/browser_pane.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "platform/ui_timer.h"

namespace qv {

namespace {
constexpr int kGoRestMs = 10000;
const QString kServerNames[2] = {QStringLiteral("Server 1"), QStringLiteral("Server 2")};

// The server a text names, exactly as the list spells it; -1 for any other text.
int ServerIndex(const QString& text) {
    for (int i = 0; i < 2; ++i)
        if (text == kServerNames[i])
            return i;
    return -1;
}

} // namespace

TLatestTab::TLatestTab(const LatestTabControls& controls, const std::array<QUrl, 2>& servers,
                       QNetworkAccessManager* network, Platform& platform, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QString::fromLatin1(controls.tab));
    const QUrl document(QString::fromLatin1(controls.document));
    documents_ = {servers[0].resolved(document), servers[1].resolved(document)};
    pane_ = new TBrowserPane(controls.pane, controls.paneHint, network, this);
    go_ = NewButton(this, QString::fromLatin1(controls.go), "Go", controls.goHint);
    server_ = NewLabel(this, QString::fromLatin1(controls.server), "Server 1", controls.serverHint);
    combo_ = new QComboBox(this);
    if (controls.comboHint)
        SetHint(combo_, controls.comboHint);
    combo_->setObjectName(QString::fromLatin1(controls.combo));
    combo_->addItems({kServerNames[0], kServerNames[1]});
    combo_->setCurrentIndex(-1);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    changes_ = NewButton(this, QString::fromLatin1(controls.changes), "Changes", controls.changesHint);
    changes_->setEnabled(false);
    timer_ = new UiTimer(QString::fromLatin1(controls.timer), kGoRestMs, this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(NewLabel(this, QString::fromLatin1(controls.serverCaption), "Server :"));
    bar->addWidget(server_);
    bar->addWidget(combo_);
    bar->addWidget(changes_);
    bar->addStretch();
    bar->addWidget(go_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(pane_, 1);

    OnSignal(combo_, &QComboBox::currentTextChanged, this, platform, [this] { ComboBoxChange(); });
    OnSignal(changes_, &QPushButton::clicked, this, platform, [this] { ChangesClick(); });
    OnSignal(go_, &QPushButton::clicked, this, platform, [this] { GoClick(); });
    OnSignal(timer_, &UiTimer::Tick, this, platform, [this] { TimerTick(); });
}

void TLatestTab::ComboBoxChange() {
    if (ServerIndex(combo_->currentText()) >= 0)
        changes_->setEnabled(true);
}

void TLatestTab::ChangesClick() {
    server_->setText(combo_->currentText());
    changes_->setEnabled(false);
}

void TLatestTab::GoClick() {
    const int server = ServerIndex(server_->text());
    if (server < 0)
        return;
    pane_->Navigate(documents_[server]);
    timer_->SetEnabled(true);
    go_->setEnabled(false);
}

void TLatestTab::TimerTick() {
    go_->setEnabled(true);
    timer_->SetEnabled(false);
}

} // namespace qv
