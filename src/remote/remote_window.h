#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <array>
#include <string>
#include <string_view>

#include "platform/ui_timer.h"
#include "remote/connecting_endpoint.h"
#include "remote/remote_protocol.h"
#include "shell/secondary_window.h"

namespace qv {

// The remote administration window: the remote client, which reads another instance's configuration
// into this one, and the settings and switch of this instance's own server. The configuration file
// keeps both groups' texts in section QuorvaneDataRemoteMapping.
class TQuorvaneRemote : public SecondaryWindow {
    Q_OBJECT
public:
    explicit TQuorvaneRemote(TRoster& roster);
    ~TQuorvaneRemote() override;

    // The eight stored fields, in the order they are saved and loaded.
    static constexpr std::array<const char*, 8> kFieldNames = {
        "RemoteIp",   "RemotePort", "RemoteLogin", "RemotePassword",
        "ServerName", "ServerPort", "ServerLogin", "ServerPassword"};
    using Fields = std::array<QLineEdit*, kFieldNames.size()>;
    QLineEdit* Field(std::string_view name) const { return fields_[FieldIndex(name)]; }
    static std::size_t FieldIndex(std::string_view name);
    QPushButton* LoadIni() const { return loadIni_; }
    QPushButton* SaveIni() const { return saveIni_; }
    QPushButton* RemoteConnect() const { return remoteConnect_; }
    QPushButton* RemoteDisconnect() const { return remoteDisconnect_; }
    QPushButton* RemoteGet() const { return remoteGet_; }
    QCheckBox* RemoteActive() const { return remoteActive_; }
    QLabel* Label(int number) const;
    QProgressBar* ProgressBar1() const { return progressBar1_; }
    UiTimer* Timer(int number) const;
    ConnectingEndpoint& ClientSocket1() const { return *clientSocket1_; }
    // "DataQRVNServ.qrvd" beside the executable.
    std::string ExchangePath() const;
    // What has arrived in the exchange under way, if any.
    const ReceiveBuffer& ClientBuffer() const { return buffer1_; }

    void LoadIniClick();
    void SaveIniClick();
    void RemoteConnectClick();
    void RemoteDisconnectClick();
    void RemoteGetClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    QWidget* BuildClientGroup(QWidget* page);
    QWidget* BuildServerGroup(QWidget* page);
    void BuildTimers();
    void FormCreate();
    void FormShow();
    void ReadFields();
    void Change();

    // The client exchange (remote_client.cpp).
    void ClientSocket1Connecting();
    void ClientSocket1Connect();
    void ClientSocket1Read();
    void ClientSocket1Disconnect();
    void ClientSocket1Error(SocketErrorKind kind, int& code);
    void Timer1Timer();
    void Timer10Timer();
    void CountdownEnd();
    void ApplyConfiguration();
    void SetClientFieldsEnabled(bool enabled);
    void HideProgress();
    void ShowDisconnected();
    void RemoveAttemptEntries(const QString& host);
    QString Host() const;
    // Deletes the exchange file; one that stays is reported in a box.
    void DeleteExchange();

    Fields fields_{};
    QPushButton* loadIni_ = nullptr;
    QPushButton* saveIni_ = nullptr;
    QPushButton* button1_ = nullptr;
    QPushButton* remoteConnect_ = nullptr;
    QPushButton* remoteDisconnect_ = nullptr;
    QPushButton* remoteGet_ = nullptr;
    QCheckBox* remoteActive_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    QAction* exit1_ = nullptr;
    ConnectingEndpoint* clientSocket1_ = nullptr;
    // The receive buffer of the exchange: every chunk since the attempt began.
    ReceiveBuffer buffer1_;
    bool exchangeFaultPending_ = false;
};

} // namespace qv
