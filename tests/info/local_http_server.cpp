#include "local_http_server.h"

#include <QTcpSocket>

namespace qvtest {

LocalHttpServer::LocalHttpServer() {
    if (!listen(QHostAddress::LocalHost, 0))
        qFatal("no local port for the HTTP server");
    connect(this, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

void LocalHttpServer::Serve(QTcpSocket* socket) {
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    const QString path = QString::fromLatin1(request.split(' ').value(1));
    requests_.append(path);
    QByteArray head, body;
    if (documents_.contains(path)) {
        body = documents_.value(path);
        head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n";
    } else if (redirects_.contains(path)) {
        head = "HTTP/1.1 302 Found\r\nLocation: " + redirects_.value(path).toLatin1() + "\r\n";
    } else {
        body = "not here";
        head = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n";
    }
    socket->write(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" +
                  body);
    socket->disconnectFromHost();
}

} // namespace qvtest
