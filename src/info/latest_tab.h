#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QWidget>
#include <array>

class QNetworkAccessManager;

namespace qv {

class Platform;
class TBrowserPane;
class UiTimer;

// The names, captions and hints of one "Latest-..." tab's controls (null: no hint).
struct LatestTabControls {
    const char* tab;
    const char* caption;
    const char* document; // the file's name on the servers
    const char* pane;
    const char* paneHint;
    const char* go;
    const char* goHint;
    const char* serverCaption;
    const char* server;
    const char* serverHint;
    const char* combo;
    const char* comboHint;
    const char* changes;
    const char* changesHint;
    const char* timer;
};

// One of the two tabs that fetch the vendor's latest document from server 1 or server 2. The
// server chosen in the list takes effect through "Changes"; "Go" rests for ten seconds after
// each press, whatever the fetch does.
class TLatestTab : public QWidget {
public:
    TLatestTab(const LatestTabControls& controls, const std::array<QUrl, 2>& servers,
               QNetworkAccessManager* network, Platform& platform, QWidget* parent);

    void ComboBoxChange();
    void ChangesClick();
    void GoClick();
    void TimerTick();

private:
    std::array<QUrl, 2> documents_;
    TBrowserPane* pane_;
    QPushButton* go_;
    QLabel* server_;
    QComboBox* combo_;
    QPushButton* changes_;
    UiTimer* timer_;
};

} // namespace qv
