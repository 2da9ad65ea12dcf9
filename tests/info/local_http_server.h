#pragma once

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <QTcpServer>

namespace qvtest {

// A small HTTP/1.1 server on 127.0.0.1 and a free port, served by the test's own event loop:
// documents by path, redirects by path, 404 for everything else; one request per connection.
class LocalHttpServer : public QTcpServer {
public:
    LocalHttpServer();

    QString Base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()); }
    void Put(const QString& path, const QByteArray& body) { documents_[path] = body; }
    void Redirect(const QString& path, const QString& to) { redirects_[path] = to; }
    // The paths asked for, in order.
    const QStringList& Requests() const { return requests_; }

private:
    void Serve(QTcpSocket* socket);

    QMap<QString, QByteArray> documents_;
    QMap<QString, QString> redirects_;
    QStringList requests_;
};

} // namespace qvtest
