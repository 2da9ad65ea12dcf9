#pragma once

#include <QObject>
#include <string>

#include "remote/listening_endpoint.h"
#include "remote/remote_protocol.h"

class QPlainTextEdit;

namespace qv {

class TRoster;
class UiTimer;

// The remote server of the main window: ServerSocket1 answers every accepted connection with the
// greeting and this instance's configuration; Timer4 closes all connections 9.5 s after an acceptance.
class TRemoteServer : public QObject {
    Q_OBJECT
public:
    // What a client sends is kept up to this many characters, the newest ones.
    static constexpr int kBuffer1Limit = static_cast<int>(kReceiveLimit);

    TRemoteServer(TRoster& roster, QObject* parent, QPlainTextEdit* buffer1, UiTimer* timer4);

    ListeningEndpoint& ServerSocket1() { return *serverSocket1_; }
    // "Active Remote Server" ticked or unticked, by the user or the program.
    void RemoteActiveClick();
    // The forced close; Timer4 has already been disabled.
    void Timer4Timer();
    // The main window's end: every connection closes, nothing is listed.
    void Stop();

private:
    void ServerSocket1ClientConnect(EventConnection& connection);
    void ServerSocket1Accept(EventConnection& connection);
    void ServerSocket1ClientRead(EventConnection& connection);
    void ServerSocket1ClientDisconnect(EventConnection& connection);
    void ServerSocket1ClientError(EventConnection& connection, SocketErrorKind kind, int& code);
    void SwitchOn();
    void SwitchOff();
    void EmptyBuffer1();
    // Listed and logged.
    void ListEntry(const QString& text);
    void RemoveConnectionEntries(const QString& address);
    std::string ControlText(const std::string& control) const;

    TRoster& roster_;
    QPlainTextEdit* buffer1_;
    UiTimer* timer4_;
    ListeningEndpoint* serverSocket1_;
};

} // namespace qv
