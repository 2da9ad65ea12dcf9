#include "info/browser_pane.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStringDecoder>

#include "platform/hint.h"

namespace qv {

namespace {
constexpr int kMaxRedirects = 5;

// UTF-8 when the bytes are valid UTF-8, otherwise one character per byte.
QString DocumentText(const QByteArray& bytes) {
    // Stateless: a sequence cut off at the end counts as an error rather than waiting for more.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString TooLarge() {
    return QStringLiteral("The document is too large to be shown (more than %1 bytes).")
        .arg(TBrowserPane::kMaxDocumentBytes);
}
} // namespace

TBrowserPane::TBrowserPane(const char* name, const char* hint, QNetworkAccessManager* network,
                           QWidget* parent)
    : QTextBrowser(parent), network_(network) {
    setObjectName(QString::fromLatin1(name));
    SetHint(this, hint);
    setOpenLinks(false);
}

void TBrowserPane::Navigate(const QUrl& address) {
    CancelFetch();
    if (address.isLocalFile())
        ShowLocalFile(address.toLocalFile());
    else if (address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https"))
        Fetch(address);
    else
        setPlainText(QStringLiteral("The address %1 cannot be shown.").arg(address.toString()));
}

void TBrowserPane::ShowLocalFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setPlainText(QStringLiteral("The file %1 cannot be read: %2").arg(path, file.errorString()));
        return;
    }
    const QByteArray bytes = file.read(kMaxDocumentBytes + 1);
    setPlainText(bytes.size() > kMaxDocumentBytes ? TooLarge() : DocumentText(bytes));
}

void TBrowserPane::Fetch(const QUrl& address) {
    QNetworkRequest request(address);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setTransferTimeout(kTransferTimeoutMs);
    QNetworkReply* reply = network_->get(request);
    reply_ = reply;
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
        if (received > kMaxDocumentBytes || total > kMaxDocumentBytes) {
            reply->setProperty("tooLarge", true);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { Fetched(reply); });
}

void TBrowserPane::Fetched(QNetworkReply* reply) {
    reply->deleteLater();
    if (reply != reply_)
        return;
    reply_ = nullptr;
    if (reply->property("tooLarge").toBool())
        setPlainText(TooLarge());
    else if (reply->error() != QNetworkReply::NoError)
        setPlainText(QStringLiteral("The page could not be loaded: %1").arg(reply->errorString()));
    else
        setPlainText(DocumentText(reply->readAll()));
}

void TBrowserPane::CancelFetch() {
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

} // namespace qv
