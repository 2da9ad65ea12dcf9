#pragma once

#include <QTimer>
#include <chrono>
#include <cstdint>

#include "shell/secondary_window.h"

class QLayout;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace qv {

class TLinksModel;
class TMappingSummary;

// "Connections": every live link of the mapping service with its addresses, state, bytes, rates and
// age, the last links that ended and why, and a line per switched-on mapping. It only reads what the
// service reports, a few times a second while it is shown.
class TConnectionsForm : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TConnectionsForm(TRoster& roster);

    // Takes a fresh snapshot now (the timer does it twice a second while the window is shown).
    void Refresh();
    // "Close Connection": the selected live links end as a stop would end them.
    void CloseConnectionClick();
    // "Export...": live and ended links to a comma-separated file the user chooses.
    void ExportConnectionsClick();

    static constexpr std::chrono::milliseconds kRefresh{500};

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTableView* NewTable(const char* name, TLinksModel* model, QSortFilterProxyModel*& proxy);
    void UpdateButtons();
    void FitColumns(const QLayout& layout);

    TLinksModel* live_;
    TLinksModel* ended_;
    QSortFilterProxyModel* liveProxy_ = nullptr;
    QSortFilterProxyModel* endedProxy_ = nullptr;
    QTableView* liveView_;
    QTableView* endedView_;
    QLineEdit* filter_;
    QPushButton* closeConnection_;
    QPushButton* exportConnections_;
    TMappingSummary* summary_;
    QTimer refresh_;
    std::uint64_t endedSeen_ = 0;
    std::chrono::steady_clock::time_point lastSecond_{};
};

} // namespace qv
