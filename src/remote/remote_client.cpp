// The remote window's client: one exchange with another instance's server, and its timers.
#include <QLabel>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/error_report.h"
#include "platform/platform.h"
#include "platform/str_to_int.h"
#include "remote/remote_window.h"
#include "service/mapping_service.h"
#include "service/stored_text.h"
#include "shell/roster.h"

namespace qv {

namespace {
constexpr const char* kClientFields[] = {"RemoteIp", "RemotePort", "RemoteLogin", "RemotePassword"};
constexpr struct {
    int number;
    int interval;
} kTimers[] = {{1, 1000}, {10, 800}, {6, 2000}, {9, 6000}, {8, 5000}};

} // namespace

void TQuorvaneRemote::BuildTimers() {
    for (const auto& [number, interval] : kTimers)
        new UiTimer(QStringLiteral("Timer%1").arg(number), interval, this);
    Platform& platform = roster_.platform();
    clientSocket1_ = new ConnectingEndpoint(platform, 6586, this);
    clientSocket1_->setObjectName(QStringLiteral("ClientSocket1"));
    OnSignal(Timer(1), &UiTimer::Tick, this, platform, [this] { Timer1Timer(); });
    OnSignal(Timer(10), &UiTimer::Tick, this, platform, [this] { Timer10Timer(); });
    OnSignal(Timer(6), &UiTimer::Tick, this, platform, [this] {
        Label(10)->hide();
        Timer(6)->SetEnabled(false);
    });
    OnSignal(Timer(9), &UiTimer::Tick, this, platform, [this] {
        DeleteExchange();
        remoteGet_->setEnabled(false);
        Timer(9)->SetEnabled(false);
    });
    OnSignal(Timer(8), &UiTimer::Tick, this, platform, [this] { Timer(9)->SetEnabled(false); });

    ConnectingEndpoint::Events events;
    events.connecting = [this](EventConnection&) { ClientSocket1Connecting(); };
    events.connect = [this](EventConnection&) { ClientSocket1Connect(); };
    clientSocket1_->SetEvents(std::move(events));
    EventConnection::Handlers handlers;
    handlers.read = [this](EventConnection&) { ClientSocket1Read(); };
    handlers.disconnect = [this](EventConnection&) { ClientSocket1Disconnect(); };
    handlers.error = [this](EventConnection&, SocketErrorKind kind, int& code) {
        ClientSocket1Error(kind, code);
    };
    clientSocket1_->SetHandlers(std::move(handlers));
}

UiTimer* TQuorvaneRemote::Timer(int number) const {
    auto* timer = findChild<UiTimer*>(QStringLiteral("Timer%1").arg(number), Qt::FindDirectChildrenOnly);
    if (!timer)
        throw std::logic_error("no remote window timer " + std::to_string(number));
    return timer;
}

QString TQuorvaneRemote::Host() const {
    return Field("RemoteIp")->text();
}

void TQuorvaneRemote::SetClientFieldsEnabled(bool enabled) {
    for (const char* name : kClientFields)
        Field(name)->setEnabled(enabled);
}

void TQuorvaneRemote::HideProgress() {
    progressBar1_->hide();
    progressBar1_->setValue(0);
}

void TQuorvaneRemote::RemoteConnectClick() {
    Platform& platform = roster_.platform();
    const char* const messages[] = {"You must enter a remote ip/hostname.",
                                    "You must enter a remote port number.", "You must enter a remote login.",
                                    "You must enter a remote password."};
    for (int i = 0; i < 4; ++i) {
        if (Field(kClientFields[i])->text().isEmpty()) {
            platform.Beep();
            platform.Notice(QString::fromLatin1(messages[i]));
            return;
        }
    }
    const int port = StrToInt(Field("RemotePort")->text());
    // Port 0 cannot be connected to; five digits go past 65535.
    if (port < 1 || port > 65535) {
        platform.Notice(QStringLiteral("Invalid remote port number."));
        return;
    }
    clientSocket1_->SetHost(Latin1Bytes(Host()));
    clientSocket1_->SetPort(port);
    clientSocket1_->Activate();
    Label(10)->setText(QStringLiteral("Connecting..."));
    Label(14)->setText(QStringLiteral("9"));
    for (int number : {13, 14, 10})
        Label(number)->show();
    Timer(1)->SetEnabled(true);
    remoteConnect_->setEnabled(false);
    remoteDisconnect_->setEnabled(true);
    Timer(6)->SetEnabled(false);
    SetClientFieldsEnabled(false);
}

void TQuorvaneRemote::ClientSocket1Connecting() {
    progressBar1_->show();
    progressBar1_->setValue(2);
    DeleteExchange();
    buffer1_.Reset(Latin1Bytes(Host()));
    Timer(9)->SetEnabled(false);
    roster_.AddLogEntry(QStringLiteral("Remote Ip/Host : ") + Host());
    Field("RemoteIp")->setEnabled(false);
    Field("RemotePort")->setEnabled(false);
    roster_.AppendLogLine(EventText(QStringLiteral("Remote Ip/Host : ") + Host()));
}

void TQuorvaneRemote::ClientSocket1Connect() {
    Label(10)->setText(QStringLiteral("Connected!"));
    Timer(10)->SetEnabled(true);
    const QString version = roster_.VersionText();
    clientSocket1_->SendText(CredentialLines(Latin1Bytes(version), Latin1Bytes(Field("RemoteLogin")->text()),
                                             Latin1Bytes(Field("RemotePassword")->text())));
    roster_.RemoveLogEntry(QStringLiteral("Remote Ip/Host : ") + Host());
    roster_.AddLogEntry(QStringLiteral("Connection Remote Ip/Host : ") + Host());
    Field("RemoteIp")->setEnabled(false);
    Field("RemotePort")->setEnabled(false);
    roster_.AppendLogLine(EventText(QStringLiteral("Connection Remote Ip/Host : ") + Host()));
}

void TQuorvaneRemote::ClientSocket1Read() {
    buffer1_.Append(clientSocket1_->ReceiveText());
}

// 800 ms after connecting: whatever has arrived is the server's reply.
void TQuorvaneRemote::Timer10Timer() {
    Platform& platform = roster_.platform();
    Timer(10)->SetEnabled(false);
    SaveExchangeFile(ExchangePath(), buffer1_);
    const LoginCheck check = CheckLogin(ExchangePath(), Latin1Bytes(Field("RemoteLogin")->text()),
                                        Latin1Bytes(Field("RemotePassword")->text()));
    Label(11)->setText(Latin1Text(check.greeting));
    if (check.verdict == LoginVerdict::NoGreeting) {
        HideProgress();
        clientSocket1_->Close();
        return;
    }
    progressBar1_->setValue(progressBar1_->value() + 30);
    if (check.verdict != LoginVerdict::Accepted) {
        platform.Beep();
        DeleteExchange();
        HideProgress();
        clientSocket1_->Close();
        platform.Notice(QString::fromLatin1(
            check.verdict == LoginVerdict::InvalidLogin ? kInvalidRemoteLogin : kInvalidRemotePassword));
        return;
    }
    progressBar1_->setValue(progressBar1_->value() + 68);
    Label(11)->show();
    remoteGet_->setEnabled(true);
}

void TQuorvaneRemote::Timer1Timer() {
    QLabel* countdown = Label(14);
    if (countdown->text() == QLatin1String("0"))
        CountdownEnd();
    else
        countdown->setText(QString::number(countdown->text().toInt() - 1));
    if (countdown->text() == QLatin1String("0"))
        CountdownEnd();
}

// An established connection ends here; an attempt still in progress goes on.
void TQuorvaneRemote::CountdownEnd() {
    remoteConnect_->setEnabled(true);
    remoteDisconnect_->setEnabled(false);
    Label(11)->hide();
    Timer(1)->SetEnabled(false);
    Timer(6)->SetEnabled(true);
    Label(10)->setText(QStringLiteral("Disconnected"));
    Field("RemoteIp")->setEnabled(true);
    Field("RemotePort")->setEnabled(true);
    clientSocket1_->Deactivate();
}

// The status once a connection or an attempt has ended.
void TQuorvaneRemote::ShowDisconnected() {
    remoteConnect_->setEnabled(true);
    remoteDisconnect_->setEnabled(false);
    Label(11)->hide();
    Timer(6)->SetEnabled(true);
    Timer(1)->SetEnabled(false);
    Label(10)->setText(QStringLiteral("Disconnected"));
    Label(13)->hide();
    Label(14)->hide();
    Timer(10)->SetEnabled(false);
    HideProgress();
}

void TQuorvaneRemote::RemoveAttemptEntries(const QString& host) {
    roster_.RemoveLogEntry(QStringLiteral("Remote Ip/Host : ") + host);
    roster_.RemoveLogEntry(QStringLiteral("Connection Remote Ip/Host : ") + host);
}

void TQuorvaneRemote::ClientSocket1Disconnect() {
    const QString address = Latin1Text(clientSocket1_->PeerAddress());
    // A server that closes within the 800 ms has sent all it will send: the check runs now, not never.
    // Should it fail, the connection has ended all the same: the window says so, then the failure is
    // reported.
    std::exception_ptr checkFailure;
    if (Timer(10)->Enabled()) {
        try {
            Timer10Timer();
        } catch (...) {
            checkFailure = std::current_exception();
        }
    }
    buffer1_.Clear();
    ShowDisconnected();
    Timer(9)->SetEnabled(true);
    RemoveAttemptEntries(Host());
    roster_.AddLogEntry(QStringLiteral("Disconnected Remote Ip : ") + address);
    SetClientFieldsEnabled(true);
    roster_.AppendLogLine(EventText(QStringLiteral("Disconnected Remote Ip : ") + address));
    if (checkFailure)
        std::rethrow_exception(checkFailure);
}

void TQuorvaneRemote::RemoteDisconnectClick() {
    buffer1_.Clear();
    remoteDisconnect_->setEnabled(false);
    Label(11)->hide();
    Timer(1)->SetEnabled(false);
    Label(10)->setText(QStringLiteral("Disconnecting...."));
    Label(13)->hide();
    Label(14)->hide();
    Timer(10)->SetEnabled(false);
    SetClientFieldsEnabled(true);
    clientSocket1_->Deactivate();
    remoteGet_->setEnabled(false);
    DeleteExchange();
}

void TQuorvaneRemote::ClientSocket1Error(SocketErrorKind kind, int& code) {
    Platform& platform = roster_.platform();
    const QString address = Latin1Text(clientSocket1_->PeerAddress());
    const QString host = Host();
    const QString text = QString::fromLatin1(DisconnectedErrorText(kind)) + QString::number(code) +
                         QStringLiteral(" Remote Ip :") + address + QLatin1Char(' ') + host +
                         QStringLiteral(" Port : ") + Field("RemotePort")->text();
    buffer1_.Clear();
    ShowDisconnected();
    DeleteExchange();
    remoteGet_->setEnabled(false);
    RemoveAttemptEntries(host);
    roster_.AddLogEntry(text);
    platform.Beep();
    platform.Notice(text + QStringLiteral("\r\n") + Label(12)->text());
    SetClientFieldsEnabled(true);
    clientSocket1_->Close();
    if (roster_.LogSaveSwitch()->isChecked()) {
        roster_.AppendLogLine(
            EventText(QStringLiteral("Disconnected Error #%1 Remote Ip : ").arg(code) + address));
        code = 0;
    }
}

} // namespace qv
