#pragma once

#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace qv {

// A text pane that shows the document at an address: a local file, or an HTTP(S) address fetched
// in the background. Documents are shown as plain text and only held in memory, never stored.
// A document that cannot be had shows why in the pane itself; no box is raised.
class TBrowserPane : public QTextBrowser {
public:
    // Larger documents are refused rather than read whole into memory.
    static constexpr qint64 kMaxDocumentBytes = 1024 * 1024;
    // A fetch with no data moving for this long is given up.
    static constexpr int kTransferTimeoutMs = 15000;

    TBrowserPane(const char* name, const char* hint, QNetworkAccessManager* network, QWidget* parent);

    // Shows the document at the address once it is there; a newer navigation replaces a fetch
    // still under way.
    void Navigate(const QUrl& address);

private:
    void ShowLocalFile(const QString& path);
    void Fetch(const QUrl& address);
    void Fetched(QNetworkReply* reply);
    void CancelFetch();

    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
};

} // namespace qv
