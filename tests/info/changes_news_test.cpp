// The changes/news viewer: the documents beside the executable, and the latest ones fetched from
// server 1 or server 2 of a local HTTP server.
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "info/changes_news_window.h"
#include "info/news_servers.h"
#include "local_http_server.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

namespace {

// The program with the viewer on screen, its two servers pointed at the given bases.
struct Viewer : RosterFixture {
    explicit Viewer(const QString& servers) {
        qputenv(qv::kNewsServersVariable, servers.toLocal8Bit());
        platform.OnShowModal([](QWidget* window) { window->show(); });
        Start();
        qunsetenv(qv::kNewsServersVariable);
        roster->Mapping().findChild<QAction*>(QStringLiteral("ChangesNews1"))->trigger();
    }
    template <class T = QPushButton> T* Get(const char* name) const {
        return roster->ChangesNews().findChild<T*>(QString::fromLatin1(name));
    }
    QString Pane(const char* name) const { return Get<QTextBrowser>(name)->toPlainText(); }
    QStringList Files() const {
        return QDir(QString::fromStdString(dir.Path().string())).entryList(QDir::AllEntries | QDir::Hidden);
    }
};

} // namespace

class ChangesNewsTest : public QObject {
    Q_OBJECT

private slots:
    void localDocuments_data() {
        QTest::addColumn<QByteArray>("changes"); // "-": no file
        QTest::addColumn<QByteArray>("news");
        QTest::addColumn<QString>("shownNews");
        QTest::newRow("neither") << QByteArray("-") << QByteArray("-") << QString();
        QTest::newRow("only News.txt, Latin-1") << QByteArray("-") << QByteArray("Caf\xe9") << "Caf\u00e9";
        QTest::newRow("both, UTF-8") << QByteArray("1.3: lock") << QByteArray("Caf\xc3\xa9") << "Caf\u00e9";
    }
    void localDocuments() {
        QFETCH(QByteArray, changes);
        QFETCH(QByteArray, news);
        QFETCH(QString, shownNews);
        // Read again at every showing.
        Viewer f{QString()};
        f.roster->ChangesNews().close();
        for (const auto& [name, bytes] : {std::pair{"Changes.txt", changes}, std::pair{"News.txt", news}})
            if (bytes != "-")
                WriteAll(f.dir.File(name), bytes.toStdString());
        f.roster->Mapping().findChild<QAction*>(QStringLiteral("ChangesNews1"))->trigger();
        QCOMPARE(f.Pane("Changes"), changes == "-" ? QString() : QString::fromLatin1(changes));
        QCOMPARE(f.Pane("News"), shownNews);
        QVERIFY(f.platform.Boxes().isEmpty());
    }

    // "Go" fetches from the server named beside "Server :", which only "Changes" sets; nothing is
    // written to disk.
    void latestFromTheSelectedServer_data() {
        QTest::addColumn<int>("tab");    // 0: Latest-Changes, 1: Latest-News
        QTest::addColumn<int>("chosen"); // index picked in the list; -1: none
        QTest::addColumn<bool>("pressChanges");
        QTest::addColumn<QString>("server");
        QTest::newRow("changes, as started") << 0 << -1 << false << "one";
        QTest::newRow("changes, Server 2 and Changes") << 0 << 1 << true << "two";
        QTest::newRow("news, Server 2 and Changes") << 1 << 1 << true << "two";
        QTest::newRow("news, Server 2 without Changes") << 1 << 1 << false << "one";
        QTest::newRow("news, back to Server 1") << 1 << 0 << true << "one";
    }
    void latestFromTheSelectedServer() {
        QFETCH(int, tab);
        QFETCH(int, chosen);
        QFETCH(bool, pressChanges);
        QFETCH(QString, server);
        const struct {
            const char *pane, *go, *label, *combo, *changes, *document;
        } t = tab == 0
                  ? decltype(t){"LatestChanges", "Button2", "Label6", "ComboBox1", "Button4", "Changes.txt"}
                  : decltype(t){"LatestNews", "Button1", "Label5", "ComboBox2", "Button3", "News.txt"};
        LocalHttpServer http;
        for (const char* base : {"one", "two"})
            for (const char* document : {"Changes.txt", "News.txt"})
                http.documents[QStringLiteral("/%1/%2").arg(base, document)] =
                    QByteArray(document) + " from " + base;
        // Server 1's news moved: the redirect is followed.
        http.redirects[QStringLiteral("/one/News.txt")] = "/one/moved/News.txt";
        http.documents[QStringLiteral("/one/moved/News.txt")] = "News.txt from one";
        Viewer f(http.Base() + QStringLiteral("one ") + http.Base() + QStringLiteral("two"));
        const QStringList filesBefore = f.Files();
        QVERIFY(!f.Get(t.changes)->isEnabled());
        if (chosen >= 0)
            f.Get<QComboBox>(t.combo)->setCurrentIndex(chosen);
        QCOMPARE(f.Get(t.changes)->isEnabled(), chosen >= 0);
        if (pressChanges)
            QTest::mouseClick(f.Get(t.changes), Qt::LeftButton);
        QCOMPARE(f.Get<QLabel>(t.label)->text(),
                 QStringLiteral("Server %1").arg(pressChanges ? chosen + 1 : 1));

        QTest::mouseClick(f.Get(t.go), Qt::LeftButton);
        QVERIFY(!f.Get(t.go)->isEnabled());
        QTRY_COMPARE(f.Pane(t.pane), QString::fromLatin1(t.document) + QStringLiteral(" from ") + server);
        QCOMPARE(http.requests.first(), QStringLiteral("/%1/%2").arg(server, t.document));
        QVERIFY(f.platform.Boxes().isEmpty());
        QCOMPARE(f.Files(), filesBefore);
    }

    // "Go" rests ten seconds after a press whatever the fetch does; an unreachable server shows in
    // the pane only.
    void goRestsTenSeconds() {
        LocalHttpServer http, gone;
        http.documents[QStringLiteral("/Changes.txt")] = "latest changes";
        const QString goneBase = gone.Base();
        gone.close();
        Viewer f(http.Base() + QLatin1Char(' ') + goneBase);
        f.Get<QComboBox>("ComboBox2")->setCurrentIndex(1);
        QTest::mouseClick(f.Get("Button3"), Qt::LeftButton);
        QElapsedTimer pressed;
        pressed.start();
        for (const char* go : {"Button2", "Button1"})
            QTest::mouseClick(f.Get(go), Qt::LeftButton);
        QTRY_COMPARE(f.Pane("LatestChanges"), QStringLiteral("latest changes"));
        QTRY_VERIFY(f.Pane("LatestNews").startsWith(QStringLiteral("The page could not be loaded")));
        QTest::mouseClick(f.Get("Button2"), Qt::LeftButton);
        QCOMPARE(http.requests.size(), 1);

        QTRY_VERIFY_WITH_TIMEOUT(f.Get("Button2")->isEnabled() && f.Get("Button1")->isEnabled(), 12000);
        QVERIFY2(pressed.elapsed() >= 9400, qPrintable(QString::number(pressed.elapsed())));
        QTest::mouseClick(f.Get("Button2"), Qt::LeftButton);
        QTRY_COMPARE(http.requests.size(), 2);
        QVERIFY(f.platform.Boxes().isEmpty());
    }
};

QV_TEST_MAIN(ChangesNewsTest)
#include "changes_news_test.moc"
