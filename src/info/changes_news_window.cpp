#include "info/changes_news_window.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "info/browser_pane.h"
#include "info/latest_tab.h"
#include "info/news_servers.h"
#include "platform/error_report.h"
#include "shell/roster.h"

namespace qv {

namespace {
constexpr LatestTabControls kLatestTabs[2] = {
    {"TabSheet3", "Latest-Changes", "Changes.txt", "LatestChanges", "Latest-Changes", "Button2",
     "Download Latest-Changes", "Label1", "Label6", "Selected Server", "ComboBox1", "Change Server",
     "Button4", "Change Server", "Timer1"},
    {"TabSheet4", "Latest-News", "News.txt", "LatestNews", "Latest-News", "Button1", "Download Latest-News",
     "Label2", "Label5", nullptr, "ComboBox2", nullptr, "Button3", nullptr, "Timer2"},
};

// A tab holding one local document's pane.
TBrowserPane* AddLocalTab(QTabWidget* tabs, const char* tab, const char* caption,
                          QNetworkAccessManager* network) {
    auto* page = new QWidget(tabs);
    page->setObjectName(QString::fromLatin1(tab));
    auto* pane = new TBrowserPane(caption, caption, network, page);
    (new QVBoxLayout(page))->addWidget(pane);
    tabs->addTab(page, QString::fromLatin1(caption));
    return pane;
}
} // namespace

TQuorvaneChangesNews::TQuorvaneChangesNews(TRoster& roster)
    : SecondaryWindow(roster, "TQuorvaneChangesNews", "Quorvane - Internet Port Mapping - Changes/News",
                      QSize(713, 520)),
      network_(new QNetworkAccessManager(this)) {
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("ChangesNews"));
    changes_ = AddLocalTab(tabs, "TabSheet1", "Changes", network_);
    news_ = AddLocalTab(tabs, "TabSheet2", "News", network_);
    const std::array<QUrl, 2> servers = NewsServers();
    for (const LatestTabControls& controls : kLatestTabs)
        tabs->addTab(new TLatestTab(controls, servers, network_, roster.platform(), tabs),
                     QString::fromLatin1(controls.caption));
    setCentralWidget(tabs);
    BuildStandardMenu(true);
    BuildHintStatusBar();
}

void TQuorvaneChangesNews::showEvent(QShowEvent* event) {
    SecondaryWindow::showEvent(event);
    if (!event->spontaneous())
        Guarded(roster_.platform(), [this] { FormShow(); });
}

void TQuorvaneChangesNews::FormShow() {
    const std::pair<TBrowserPane*, const char*> documents[] = {{changes_, "Changes.txt"},
                                                               {news_, "News.txt"}};
    for (const auto& [pane, name] : documents) {
        const QString path = QFile::decodeName(roster_.DataFile(name).c_str());
        if (QFile::exists(path))
            pane->Navigate(QUrl::fromLocalFile(path));
        else
            pane->clear();
    }
}

} // namespace qv
