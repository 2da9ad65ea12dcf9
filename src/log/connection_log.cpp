#include "log/connection_log.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "core/profile/scramble.h"
#include "core/profile/settings_switch.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "service/mapping_service.h"

namespace qv {

namespace {
// The small buttons sit in a column of fixed geometry, as the list's hide/show moves them.
constexpr int kColumnWidth = 150;
constexpr int kButtonHeight = 28;
constexpr int kBevelTall = 121;
constexpr int kBevelShort = 23;
// "Enable Logging" starts where "Disable Logging" is and moves up once the list is hidden.
constexpr int kELogsTop = 48;
constexpr int kELogsRaisedTop = 0;

} // namespace

TConnectionLog::TConnectionLog(Platform& platform, TMappingService& service, QWidget* parent)
    : QWidget(parent), service_(service) {
    setObjectName(QStringLiteral("ConnectionLog"));
    connection_ = new QLabel(QStringLiteral("Connections List (Logs) :"), this);
    connection_->setObjectName(QStringLiteral("Connection"));
    listCient_ = new QListWidget(this);
    listCient_->setObjectName(QStringLiteral("ListCient"));
    // Entries are single lines: the view need not measure each one.
    listCient_->setUniformItemSizes(true);
    SetHint(listCient_, "Connection|Remote Connection List");
    checkBox1_ =
        new QCheckBox(QStringLiteral("Save Connections List (Logs File) In The File CLogs.txt."), this);
    checkBox1_->setObjectName(QStringLiteral("CheckBox1"));
    SetHint(checkBox1_, "Save Connections List (Logs File) In CLogs.txt");
    connect(checkBox1_, &QCheckBox::toggled, this, [this](bool on) { service_.SetLogSaving(on); });

    auto* column = new QWidget(this);
    column->setFixedWidth(kColumnWidth);
    column->setMinimumHeight(kBevelTall + kButtonHeight);
    bevel3_ = new QFrame(column);
    bevel3_->setObjectName(QStringLiteral("Bevel3"));
    bevel3_->setFrameShape(QFrame::StyledPanel);
    bevel3_->setGeometry(0, 0, kColumnWidth, kBevelTall);
    clearLogs_ = NewButton(column, "ClearLogs", "Clear Logs Windows");
    clearLogs_->setEnabled(false);
    dLogs_ = NewButton(column, "DLogs", "Disable Logging", "Disable Logging|Disable Logging Screen");
    button2_ = NewButton(column, "Button2", "Disconnect", "Disconnect|Disconnect User Selected");
    button2_->setEnabled(false);
    eLogs_ = NewButton(column, "ELogs", "Enable Logging", "Enable Logging|Enable Logging Screen");
    eLogs_->hide();
    const int inner = kColumnWidth - 16;
    clearLogs_->setGeometry(8, 6, inner, kButtonHeight);
    dLogs_->setGeometry(8, 6 + 38, inner, kButtonHeight);
    button2_->setGeometry(8, 6 + 76, inner, kButtonHeight);
    eLogs_->setGeometry(8, kELogsTop, inner, kButtonHeight);

    auto* listSide = new QVBoxLayout;
    listSide->addWidget(connection_);
    listSide->addWidget(listCient_, 1);
    listSide->addWidget(checkBox1_);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(listSide, 1);
    layout->addWidget(column, 0, Qt::AlignTop);

    OnSignal(clearLogs_, &QPushButton::clicked, this, platform, [this] { ClearLogsClick(); });
    OnSignal(dLogs_, &QPushButton::clicked, this, platform, [this] { DLogsClick(); });
    OnSignal(eLogs_, &QPushButton::clicked, this, platform, [this] { ELogsClick(); });
}

void TConnectionLog::AddLogEntry(const QString& text) {
    if (listCient_->count() >= kMaxEntries) {
        // The oldest entry is also the first of its text.
        QListWidgetItem* oldest = listCient_->item(0);
        auto found = rows_.find(oldest->text().toCaseFolded());
        if (found != rows_.end() && !found->empty() && found->front() == oldest) {
            found->pop_front();
            if (found->empty())
                rows_.erase(found);
        }
        delete oldest;
    }
    auto* item = new QListWidgetItem(text);
    listCient_->addItem(item);
    rows_[text.toCaseFolded()].push_back(item);
    clearLogs_->setEnabled(true);
}

void TConnectionLog::RemoveLogEntry(const QString& text) {
    auto found = rows_.find(text.toCaseFolded());
    if (found == rows_.end())
        return;
    QListWidgetItem* first = found->front();
    found->pop_front();
    if (found->empty())
        rows_.erase(found);
    delete first;
}

void TConnectionLog::AppendLogLine(std::string_view fileText, LogLineForm form) {
    service_.WriteLogLine(fileText, form);
}

void TConnectionLog::PersistSaveSwitch(const std::string& configPath) {
    SetSwitch(configPath, "CLLogsSave", "Save", kCLLogsSaveShiftKey, checkBox1_->isChecked());
}

void TConnectionLog::ClearLogsClick() {
    clearLogs_->setEnabled(false);
    rows_.clear();
    listCient_->clear();
}

void TConnectionLog::DLogsClick() {
    for (QWidget* w : std::initializer_list<QWidget*>{listCient_, connection_, dLogs_}) {
        w->setEnabled(false);
        w->hide();
    }
    clearLogs_->hide();
    button2_->hide();
    eLogs_->move(eLogs_->x(), kELogsRaisedTop);
    eLogs_->setEnabled(true);
    eLogs_->show();
    bevel3_->setFixedHeight(kBevelShort);
}

void TConnectionLog::ELogsClick() {
    for (QWidget* w : std::initializer_list<QWidget*>{listCient_, connection_, dLogs_}) {
        w->setEnabled(true);
        w->show();
    }
    clearLogs_->show();
    button2_->show();
    eLogs_->hide();
    eLogs_->setEnabled(false);
    bevel3_->setFixedHeight(kBevelTall);
}

} // namespace qv
