#include "shell/single_instance.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <cstdio>

#include "platform/platform.h"

namespace qv {

namespace {
const QByteArray kShowRequest = "show\n";
const QByteArray kShownReply = "shown\n";
constexpr int kAnswerWaitMs = 3000;
constexpr int kRestartWaitMs = 10000;
constexpr int kRetryMs = 100;

bool AskToShow(const std::string& socketPath) {
    QLocalSocket socket;
    socket.connectToServer(QFile::decodeName(socketPath.c_str()));
    if (!socket.waitForConnected(kAnswerWaitMs) ||
        !PeerIsThisUser(static_cast<int>(socket.socketDescriptor())))
        return false;
    socket.write(kShowRequest);
    if (!socket.waitForBytesWritten(kAnswerWaitMs))
        return false;
    while (socket.bytesAvailable() < kShownReply.size())
        if (!socket.waitForReadyRead(kAnswerWaitMs))
            return false;
    return socket.readLine() == kShownReply;
}
} // namespace

TSingleInstance::TSingleInstance(const std::string& configPath)
    : lock_(configPath, "window"), configPath_(configPath), socketPath_(InstanceSocketPath(configPath)) {}

TSingleInstance::~TSingleInstance() = default;

TSingleInstance::Outcome TSingleInstance::Claim(Platform& platform, bool restarted) {
    InstanceLock::State state = lock_.Take();
    for (int waited = 0; restarted && state == InstanceLock::State::HeldByOther && waited < kRestartWaitMs;
         waited += kRetryMs) {
        QThread::msleep(kRetryMs);
        state = lock_.Take();
    }
    const QString config = QFile::decodeName(configPath_.c_str());
    if (state == InstanceLock::State::Refused) {
        platform.Notice(QStringLiteral("Quorvane cannot take the lock %1 of the configuration %2: %3.")
                            .arg(QFile::decodeName(lock_.Path().c_str()), config,
                                 QString::fromLocal8Bit(lock_.Problem().c_str())));
        return Outcome::Refused;
    }
    if (state != InstanceLock::State::HeldByOther)
        return Outcome::Run;
    const InstanceLock::Holder& holder = lock_.HeldBy();
    if (holder.kind == "headless") {
        platform.Notice(QStringLiteral("Quorvane is already running without windows (process %1) with the "
                                       "configuration %2. Stop it before opening the window.")
                            .arg(holder.pid)
                            .arg(config));
        return Outcome::Refused;
    }
    if (const std::string problem = InstanceSocketFolderProblem(socketPath_); !problem.empty()) {
        std::fprintf(stderr, "quorvane: %s is already running (pid %ld) and cannot be asked: %s\n",
                     configPath_.c_str(), holder.pid, problem.c_str());
        return Outcome::Refused;
    }
    if (AskToShow(socketPath_))
        return Outcome::Raised;
    std::fprintf(stderr, "quorvane: %s is already running (pid %ld) and does not answer\n",
                 configPath_.c_str(), holder.pid);
    return Outcome::Refused;
}

void TSingleInstance::Answer(std::function<void()> show) {
    show_ = std::move(show);
    // The lock still keeps a second instance out; only the showing of this window is lost.
    if (const std::string problem = InstanceSocketFolderProblem(socketPath_); !problem.empty()) {
        std::fprintf(stderr, "quorvane: later starts will not be answered: %s\n", problem.c_str());
        return;
    }
    server_ = new QLocalServer(this);
    // Only this user's starts may ask.
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = QFile::decodeName(socketPath_.c_str());
    // A socket left by an instance that was killed answers nobody: this instance holds the lock now.
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        std::fprintf(stderr, "quorvane: cannot answer later starts on %s: %s\n", socketPath_.c_str(),
                     server_->errorString().toLocal8Bit().constData());
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, &TSingleInstance::Serve);
}

void TSingleInstance::Serve() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!PeerIsThisUser(static_cast<int>(socket->socketDescriptor()))) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (!socket->canReadLine()) {
                // A caller that sends no line soon is not a start of this program.
                if (socket->bytesAvailable() > kShowRequest.size())
                    socket->abort();
                return;
            }
            if (socket->readLine() == kShowRequest) {
                socket->write(kShownReply);
                // Answered first: showing may open a box, whose loop the caller must not wait for.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (show_)
                            show_();
                    },
                    Qt::QueuedConnection);
            }
            socket->disconnectFromServer();
        });
    }
}

void TSingleInstance::StopAnswering() {
    show_ = nullptr;
    if (server_)
        server_->close();
}

void TSingleInstance::Release() {
    if (server_)
        server_->close();
    lock_.Release();
}

} // namespace qv
