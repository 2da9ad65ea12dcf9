#include "remote/remote_server.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/platform.h"
#include "platform/str_to_int.h"
#include "platform/ui_timer.h"
#include "remote/remote_protocol.h"
#include "remote/remote_window.h"
#include "service/mapping_rules.h"
#include "service/mapping_service.h"
#include "service/rules_book.h"
#include "service/stored_text.h"
#include "shell/roster.h"
#include "shell/stored_fields.h"

namespace qv {

namespace {
constexpr int kDefaultPort = 6586;

QString Text(const std::string& bytes) {
    return Latin1Text(bytes);
}
} // namespace

TRemoteServer::TRemoteServer(TRoster& roster, QObject* parent, QPlainTextEdit* buffer1, UiTimer* timer4)
    : QObject(parent), roster_(roster), buffer1_(buffer1), timer4_(timer4),
      serverSocket1_(new ListeningEndpoint(roster.platform(), kDefaultPort, this)) {
    serverSocket1_->setObjectName(QStringLiteral("ServerSocket1"));
    ListeningEndpoint::Handlers handlers;
    handlers.clientConnect = [this](EventConnection& c) { ServerSocket1ClientConnect(c); };
    handlers.accept = [this](EventConnection& c) { ServerSocket1Accept(c); };
    handlers.clientRead = [this](EventConnection& c) { ServerSocket1ClientRead(c); };
    handlers.clientDisconnect = [this](EventConnection& c) { ServerSocket1ClientDisconnect(c); };
    handlers.clientError = [this](EventConnection& c, SocketErrorKind kind, int& code) {
        ServerSocket1ClientError(c, kind, code);
    };
    // Listed only: the log file may be what failed.
    handlers.errorsHeldBack = [this](int count) {
        roster_.AddLogEntry(
            QStringLiteral("Server : %1 more socket errors while an error box was open").arg(count));
    };
    serverSocket1_->SetHandlers(std::move(handlers));
}

void TRemoteServer::RemoteActiveClick() {
    if (roster_.Remote().RemoteActive()->isChecked())
        SwitchOn();
    else
        SwitchOff();
}

void TRemoteServer::SwitchOn() {
    TQuorvaneRemote& remote = roster_.Remote();
    Platform& platform = roster_.platform();
    const struct {
        const char* field;
        const char* message;
    } required[] = {{"ServerName", "You must enter a server name."},
                    {"ServerPort", "You must enter a server port number."},
                    {"ServerLogin", "You must enter a server login."},
                    {"ServerPassword", "You must enter a server password."}};
    for (const auto& [field, message] : required) {
        if (remote.Field(field)->text().isEmpty()) {
            remote.RemoteActive()->setChecked(false);
            platform.Beep();
            platform.Notice(QString::fromLatin1(message));
            return;
        }
    }
    const int port = StrToInt(remote.Field("ServerPort")->text());
    // Port 0 would listen on a port of the system's choosing; five digits go past 65535.
    if (port < 1 || port > 65535) {
        platform.Notice(QStringLiteral("Invalid server port number."));
        return;
    }
    serverSocket1_->SetPort(port);
    serverSocket1_->Activate();
    roster_.RemoveLogEntry(QStringLiteral("Remote Server Is Now Desactived"));
    roster_.AddLogEntry(QStringLiteral("Remote Server Is Now Actived"));
    for (const char* field : {"ServerPort", "ServerLogin", "ServerPassword"})
        remote.Field(field)->setEnabled(false);
    roster_.AppendLogLine(" Remote Server Is Now Actived");
}

void TRemoteServer::SwitchOff() {
    serverSocket1_->Deactivate();
    roster_.RemoveLogEntry(QStringLiteral("Remote Server Is Now Actived"));
    roster_.AddLogEntry(QStringLiteral("Remote Server Is Now Desactived"));
    for (const char* field : {"ServerPort", "ServerLogin", "ServerPassword"})
        roster_.Remote().Field(field)->setEnabled(true);
    roster_.AppendLogLine(" Remote Server Is Now Desactived");
}

void TRemoteServer::Timer4Timer() {
    serverSocket1_->Deactivate();
    serverSocket1_->Activate();
}

void TRemoteServer::Stop() {
    serverSocket1_->Deactivate();
}

void TRemoteServer::EmptyBuffer1() {
    buffer1_->clear();
}

void TRemoteServer::ListEntry(const QString& text) {
    roster_.AddLogEntry(text);
    roster_.AppendLogLine(EventText(text));
}

void TRemoteServer::RemoveConnectionEntries(const QString& address) {
    roster_.RemoveLogEntry(QStringLiteral("Server : Remote Ip : ") + address);
    roster_.RemoveLogEntry(QStringLiteral("Server : Connection Remote Ip : ") + address);
}

void TRemoteServer::ServerSocket1ClientConnect(EventConnection& connection) {
    EmptyBuffer1();
    ListEntry(QStringLiteral("Server : Remote Ip : ") + Text(connection.PeerAddress()));
}

void TRemoteServer::ServerSocket1Accept(EventConnection& connection) {
    const QString address = Text(connection.PeerAddress());
    connection.SendText(GreetingLines(Latin1Bytes(roster_.Remote().Field("ServerName")->text()),
                                      Latin1Bytes(roster_.VersionText())));
    roster_.RemoveLogEntry(QStringLiteral("Server : Remote Ip : ") + address);
    ListEntry(QStringLiteral("Server : Connection Remote Ip : ") + address);
    connection.SendText(
        ConfigurationLines([this](const std::string& control) { return ControlText(control); },
                           StoredRuleEntries(roster_.RulesBook().All())));
    timer4_->SetEnabled(true);
}

void TRemoteServer::ServerSocket1ClientRead(EventConnection& connection) {
    // Nothing reads what a client sends: only its newest part is kept, so no client can grow it. Each
    // chunk is a paragraph of its own, added at the end, so a read costs what it brings, not what is kept.
    QPlainTextEdit* buffer1 = buffer1_;
    buffer1->appendPlainText(Text(connection.ReceiveText()));
    const int excess = buffer1->document()->characterCount() - 1 - kBuffer1Limit;
    if (excess > 0) {
        QTextCursor cursor(buffer1->document());
        cursor.setPosition(excess, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
}

void TRemoteServer::ServerSocket1ClientDisconnect(EventConnection& connection) {
    const QString address = Text(connection.PeerAddress());
    EmptyBuffer1();
    roster_.AddLogEntry(QStringLiteral("Server : Disconnected Remote Ip : ") + address);
    RemoveConnectionEntries(address);
    timer4_->SetEnabled(false);
    roster_.AppendLogLine(EventText(QStringLiteral("Server : Disconnected Remote Ip : ") + address));
}

void TRemoteServer::ServerSocket1ClientError(EventConnection& connection, SocketErrorKind kind, int& code) {
    const QString address = Text(connection.PeerAddress());
    const QString text = QString::fromLatin1(DisconnectedErrorText(kind)) + QString::number(code) +
                         QStringLiteral(" Remote Ip : ") + address;
    EmptyBuffer1();
    timer4_->SetEnabled(false);
    RemoveConnectionEntries(address);
    roster_.AddLogEntry(text);
    if (roster_.LogSaveSwitch()->isChecked()) {
        roster_.AppendLogLine(EventText(text));
        code = 0;
    }
}

std::string TRemoteServer::ControlText(const std::string& control) const {
    const QLineEdit* edit = roster_.StoredFields().Find(
        control, TStoredFields::kMain | TStoredFields::kAdvanced | TStoredFields::kRemote);
    return edit ? Latin1Bytes(edit->text()) : std::string();
}

} // namespace qv
