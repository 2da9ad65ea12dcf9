#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <deque>
#include <string>
#include <string_view>

#include "core/logfile/log_file.h"
#include "service/mapping_service.h"

namespace qv {

class Platform;
class TMappingService;

// The connection list of the main window with its buttons, and the save switch that has the
// mapping service send every event to the log file as well.
class TConnectionLog : public QWidget {
    Q_OBJECT
public:
    TConnectionLog(Platform& platform, TMappingService& service, QWidget* parent);

    // Appends an entry at the end of the list, whether the list is shown or hidden. A list that holds
    // kMaxEntries drops its oldest entry first: a mapper left running for weeks must not grow without
    // bound (the log file keeps every line).
    void AddLogEntry(const QString& text);
    // Removes the first entry from the top that equals `text`, ignoring letter case, without a search.
    void RemoveLogEntry(const QString& text);
    static constexpr int kMaxEntries = 10000;
    // One dated line (or time-only line) in the log file while saving is switched on. A failing
    // file raises, as any input/output error does; the caller decides what that means.
    void AppendLogLine(std::string_view fileText, LogLineForm form = LogLineForm::Full);

    // Writes or deletes CLLogsSave in the configuration, as the switch stands now.
    void PersistSaveSwitch(const std::string& configPath);

    void ClearLogsClick();
    void DLogsClick();
    void ELogsClick();

    QListWidget* ListCient() const { return listCient_; }
    QPushButton* ClearLogs() const { return clearLogs_; }
    QPushButton* ELogs() const { return eLogs_; }
    QCheckBox* CheckBox1() const { return checkBox1_; }
    QFrame* Bevel3() const { return bevel3_; }

private:
    TMappingService& service_;
    QLabel* connection_;
    QListWidget* listCient_;
    QPushButton* clearLogs_;
    QPushButton* dLogs_;
    QPushButton* eLogs_;
    QPushButton* button2_;
    QFrame* bevel3_;
    QCheckBox* checkBox1_;
    // Every entry by its case-folded text, top first; the list widget itself owns them.
    QHash<QString, std::deque<QListWidgetItem*>> rows_;
};

} // namespace qv
