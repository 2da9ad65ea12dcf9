#pragma once

#include <QMap>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

namespace qvtest {

// An HTTP/1.1 server on 127.0.0.1 and a free port, run by the test's own event loop: documents and
// redirects by path, 404 for anything else, one request per connection.
class LocalHttpServer : public QTcpServer {
public:
    LocalHttpServer() {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()); }
    QMap<QString, QByteArray> documents;
    QMap<QString, QByteArray> redirects;
    QStringList requests; // the paths asked for, in order

private:
    void Serve(QTcpSocket* socket) {
        const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n"))
            return;
        const QString path = QString::fromLatin1(request.split(' ').value(1));
        requests.append(path);
        const QByteArray body = documents.value(path);
        const QByteArray head = documents.contains(path)   ? "200 OK"
                                : redirects.contains(path) ? "302 Found\r\nLocation: " + redirects.value(path)
                                                           : "404 Not Found";
        socket->write("HTTP/1.1 " + head + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

} // namespace qvtest
