// The changes/news viewer: local documents beside the executable, and the latest ones fetched from
// server 1 or server 2 of a local HTTP server.
#include <QComboBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "info/changes_news_window.h"
#include "info/news_servers.h"
#include "local_http_server.h"
#include "platform/ui_timer.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

namespace {

// The controls of one "Latest-..." tab.
struct LatestTab {
    const char* pane;
    const char* go;
    const char* server;
    const char* combo;
    const char* changes;
    const char* timer;
    const char* document;
};
const LatestTab kTabs[2] = {{"LatestChanges", "Button2", "Label6", "ComboBox1", "Button4", "Timer1", "Changes.txt"},
                            {"LatestNews", "Button1", "Label5", "ComboBox2", "Button3", "Timer2", "News.txt"}};

// The program with the viewer on screen, its two servers pointed at the given bases.
struct Viewer : RosterFixture {
    explicit Viewer(const QString& servers) {
        qputenv(qv::kNewsServersVariable, servers.toLocal8Bit());
        platform.OnShowModal([](QWidget* window) { window->show(); });
        Start();
        qunsetenv(qv::kNewsServersVariable);
    }
    qv::TQuorvaneChangesNews& Open() {
        roster->Mapping().findChild<QAction*>(QStringLiteral("ChangesNews1"))->trigger();
        return roster->ChangesNews();
    }
    template <class T> T* Control(const char* name) const {
        return roster->ChangesNews().findChild<T*>(QString::fromLatin1(name));
    }
    // Every file under the executable's folder.
    QStringList Files() const {
        QStringList files;
        QDirIterator it(QString::fromStdString(dir.Path().string()), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        return files;
    }
};

QString PortNobodyListensOn() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort());
}

} // namespace

class ChangesNewsTest : public QObject {
    Q_OBJECT

private slots:
    void localDocuments_data() {
        QTest::addColumn<QByteArray>("changes"); // "-": no file
        QTest::addColumn<QByteArray>("news");
        QTest::addColumn<QString>("shownNews");
        QTest::newRow("neither") << QByteArray("-") << QByteArray("-") << QString();
        QTest::newRow("only News.txt, Latin-1") << QByteArray("-") << QByteArray("Caf\xe9 open") << "Caf\u00e9 open";
        QTest::newRow("both, UTF-8") << QByteArray("1.3: tray lock") << QByteArray("Caf\xc3\xa9") << "Caf\u00e9";
    }
    void localDocuments() {
        QFETCH(QByteArray, changes);
        QFETCH(QByteArray, news);
        QFETCH(QString, shownNews);
        Viewer f(QString{});
        for (const auto& [name, bytes] : {std::pair{"Changes.txt", changes}, std::pair{"News.txt", news}})
            if (bytes != "-")
                WriteAll(f.dir.File(name), bytes.toStdString());
        f.Open();
        QCOMPARE(f.Control<QTextBrowser>("Changes")->toPlainText(),
                 changes == "-" ? QString() : QString::fromLatin1(changes));
        QCOMPARE(f.Control<QTextBrowser>("News")->toPlainText(), shownNews);
        QVERIFY(f.platform.Boxes().isEmpty());
    }

    // "Go" fetches from the server named beside "Server :", which only "Changes" sets.
    void latestFromTheSelectedServer_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("chosen"); // index picked in the list; -1: none
        QTest::addColumn<bool>("pressChanges");
        QTest::addColumn<QString>("server");
        QTest::newRow("changes, as started") << 0 << -1 << false << "one";
        QTest::newRow("changes, Server 2 and Changes") << 0 << 1 << true << "two";
        QTest::newRow("news, Server 2 and Changes") << 1 << 1 << true << "two";
        QTest::newRow("news, Server 2 without Changes") << 1 << 1 << false << "one";
        QTest::newRow("news, Server 1 and Changes") << 1 << 0 << true << "one";
    }
    void latestFromTheSelectedServer() {
        QFETCH(int, tab);
        QFETCH(int, chosen);
        QFETCH(bool, pressChanges);
        QFETCH(QString, server);
        LocalHttpServer http;
        for (const char* base : {"one", "two"})
            for (const char* document : {"Changes.txt", "News.txt"})
                http.Put(QStringLiteral("/%1/%2").arg(base, document), QByteArray(document) + " from " + base);
        // Server 1's document moved: redirects are followed.
        http.Redirect(QStringLiteral("/one/News.txt"), QStringLiteral("/one/moved/News.txt"));
        http.Put(QStringLiteral("/one/moved/News.txt"), "News.txt from one");
        Viewer f(http.Base() + QStringLiteral("one ") + http.Base() + QStringLiteral("two"));
        f.Open();
        const QStringList filesBefore = f.Files();
        const LatestTab& t = kTabs[tab];
        auto* changes = f.Control<QPushButton>(t.changes);
        QVERIFY(!changes->isEnabled());
        if (chosen >= 0) {
            f.Control<QComboBox>(t.combo)->setCurrentIndex(chosen);
            QVERIFY(changes->isEnabled());
        }
        if (pressChanges) {
            QTest::mouseClick(changes, Qt::LeftButton);
            QVERIFY(!changes->isEnabled());
        }
        QCOMPARE(f.Control<QLabel>(t.server)->text(), QStringLiteral("Server %1").arg(pressChanges ? chosen + 1 : 1));

        auto* go = f.Control<QPushButton>(t.go);
        QTest::mouseClick(go, Qt::LeftButton);
        QVERIFY(!go->isEnabled() && f.Control<qv::UiTimer>(t.timer)->Enabled());
        const QString expected = QString::fromLatin1(t.document) + QStringLiteral(" from ") + server;
        QTRY_COMPARE(f.Control<QTextBrowser>(t.pane)->toPlainText(), expected);
        QCOMPARE(http.Requests().first(), QStringLiteral("/%1/%2").arg(server, t.document));
        QVERIFY(f.platform.Boxes().isEmpty());
        QCOMPARE(f.Files(), filesBefore);
    }

    // "Go" rests ten seconds after a press whatever the fetch does; an unreachable server shows
    // in the pane only.
    void goRestsTenSeconds() {
        LocalHttpServer http;
        http.Put(QStringLiteral("/Changes.txt"), "latest changes");
        Viewer f(http.Base() + QLatin1Char(' ') + PortNobodyListensOn());
        f.Open();
        auto* news = f.Control<QComboBox>("ComboBox2");
        news->setCurrentIndex(1);
        QTest::mouseClick(f.Control<QPushButton>("Button3"), Qt::LeftButton);
        QElapsedTimer pressed;
        pressed.start();
        auto* goChanges = f.Control<QPushButton>("Button2");
        auto* goNews = f.Control<QPushButton>("Button1");
        QTest::mouseClick(goChanges, Qt::LeftButton);
        QTest::mouseClick(goNews, Qt::LeftButton);
        QTRY_COMPARE(f.Control<QTextBrowser>("LatestChanges")->toPlainText(), QStringLiteral("latest changes"));
        QTRY_VERIFY(f.Control<QTextBrowser>("LatestNews")->toPlainText().startsWith(
            QStringLiteral("The page could not be loaded")));
        QTest::mouseClick(goChanges, Qt::LeftButton);
        QCOMPARE(http.Requests().size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(goChanges->isEnabled() && goNews->isEnabled(), 12000);
        QVERIFY2(pressed.elapsed() >= 9400, qPrintable(QString::number(pressed.elapsed())));
        QTest::mouseClick(goChanges, Qt::LeftButton);
        QTRY_COMPARE(http.Requests().size(), 2);
        QVERIFY(f.platform.Boxes().isEmpty());
    }
};

QV_TEST_MAIN(ChangesNewsTest)
#include "changes_news_test.moc"
