// Captions from the chosen language file, the shipped translations, and the language plug-in.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <sys/stat.h>

#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "lock/lock_window.h"
#include "prefs/caption_table.h"
#include "prefs/language_choice.h"
#include "shell/main_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

namespace {

void WaitForStartUp(const qv::TRoster& roster) {
    QTRY_VERIFY(!roster.Mapping().Timer(8)->Enabled());
}

// "Class|Name|Text": the control or item Name of the window Class reads Text; no name means the
// window's caption, and the class "App" the application title.
QString CaptionOf(const RosterFixture& f, const QString& window, const QString& name) {
    if (window == QLatin1String("App"))
        return f.platform.AppTitle();
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() != window)
            continue;
        if (name.isEmpty())
            return top->windowTitle();
        if (auto* item = top->findChild<QAction*>(name))
            return item->text();
        if (auto* button = top->findChild<QAbstractButton*>(name))
            return button->text();
        if (auto* label = top->findChild<QLabel*>(name))
            return label->text();
    }
    return QStringLiteral("<none>");
}

// The lock window's own menu arrives with the lock; until then give it the About item the
// captions name.
void EnsureLockAboutItem(qv::TRoster& roster) {
    if (!roster.Lock().findChild<QAction*>(QStringLiteral("About2")))
        roster.Lock().menuBar()->addAction(QStringLiteral("About"))->setObjectName(QStringLiteral("About2"));
}

void CopyInto(const RosterFixture& f, const char* from, const char* name) {
    std::filesystem::copy_file(from, f.dir.File(name));
}

} // namespace

class CaptionsTest : public QObject {
    Q_OBJECT

private slots:
    void captionsFromTheChosenFile_data() {
        QTest::addColumn<bool>("config");
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<QByteArray>("file"); // written raw under the chosen name; "-": no file
        QTest::addColumn<QStringList>("expected");
        const QString mainTitle = QStringLiteral("TQuorvaneMapping||Quorvane - Internet Port Mapping");
        const QString lockTitle =
            QStringLiteral("TQuorvaneMappingLock||Quorvane - Internet Port Mapping  - Lock Password");
        const QString panel = QStringLiteral("TQuorvaneMapping|Panel2|User(s) connected.");
        QTest::newRow("DefaultTitle alone")
            << true << QByteArray("Mapper.lng")
            << QByteArray("[QuorvaneLanguageDataTitle]\r\nDefaultTitle=Mapper\r\n")
            << QStringList{
                   "TQuorvaneMapping||Mapper",
                   "App||Mapper",
                   "TAbout||Mapper - About",
                   "TQuorvaneSettings||Mapper - Settings",
                   "TQuorvaneMappingLock||Mapper - Lock Password",
                   "TQuorvaneMapping|Label12|User(s) Connected :",
                   "TQuorvaneMapping|Label5|Note : You need a restart to take the change in Incomming Port.",
                   "TQuorvaneMapping|MappingEnable|Enable",
                   "TQuorvaneTray|Exit|Exit"};
        QTest::newRow("MappingAbout7 and MappingAbout8")
            << true << QByteArray("Two.lng")
            << QByteArray(
                   "[QuorvaneLanguageDataMenus]\r\nMappingAbout8=B\r\nMappingAbout7=A\r\nMappingAbout2=C\r\n")
            << QStringList{"TQuorvaneMappingLock|About2|B", "TQuorvaneTray|About3|C",
                           "TQuorvaneMapping|About2|About"};
        QTest::newRow("status panel, built-in texts")
            << true << QByteArray("Panel.lng")
            << QByteArray("[QuorvaneLanguageDataText]\r\nConnectionsList=Liste\r\n")
            << QStringList{"TQuorvaneMapping|Panel2|User(s) connected.  Language File :  Panel.lng.",
                           "TQuorvaneMapping|Connection|Liste :"};
        QTest::newRow("status panel, translated")
            << true << QByteArray("Panel.lng")
            << QByteArray("[QuorvaneLanguageDataText]\r\nUsersConnected2=Gens\r\nLanguageFile=Fichier :\r\n")
            << QStringList{"TQuorvaneMapping|Panel2|Gens. Fichier : Panel.lng."};
        QTest::newRow("language file missing") << true << QByteArray("Nowhere.lng") << QByteArray("-")
                                               << QStringList{mainTitle, lockTitle, panel};
        QTest::newRow("no language chosen")
            << true << QByteArray() << QByteArray("-") << QStringList{mainTitle, panel};
        QTest::newRow("no configuration file")
            << false << QByteArray("-") << QByteArray("-") << QStringList{mainTitle, panel};
        QTest::newRow("a name with a folder")
            << true << QByteArray("sub/Mapper.lng")
            << QByteArray("[QuorvaneLanguageDataTitle]\r\nDefaultTitle=Mapper\r\n")
            << QStringList{mainTitle, lockTitle};
    }
    void captionsFromTheChosenFile() {
        QFETCH(bool, config);
        QFETCH(QByteArray, chosen);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        RosterFixture f;
        if (config) {
            f.StoreCurrentMarker();
            f.Store(qv::kMappingSection, "QRVNLanguage", chosen.toStdString(), qv::kQRVNLanguageShiftKey);
        }
        if (file != "-") {
            std::filesystem::create_directories(
                std::filesystem::path(f.dir.File(chosen.toStdString())).parent_path());
            WriteAll(f.dir.File(chosen.toStdString()), file.toStdString());
        }
        qv::TRoster& roster = f.Start();
        EnsureLockAboutItem(roster);
        WaitForStartUp(roster);
        for (const QString& check : expected) {
            const QStringList parts = check.split(QLatin1Char('|'));
            QCOMPARE(CaptionOf(f, parts[0], parts[1]), parts[2]);
        }
        QVERIFY(f.platform.Boxes().isEmpty());
    }

    // Every key of the four sections, in single-byte text.
    void shippedLanguageFilesCoverEveryKey() {
        for (const char* language : {"French.lng", "German.lng"}) {
            const std::string path = std::string(QV_LANGUAGE_DIR) + language;
            for (const qv::CaptionRow& row : qv::CaptionTable())
                QVERIFY2(!qv::ReadString(path, row.section, row.key).empty(),
                         qPrintable(QStringLiteral("%1 lacks %2").arg(language, row.key)));
            const QByteArray bytes = QByteArray::fromStdString(ReadAll(path));
            QVERIFY(QString::fromLatin1(bytes).toLatin1() == bytes && !bytes.contains("\xc3"));
        }
    }

    void languagePluginFailures_data() {
        QTest::addColumn<QString>("library"); // none, garbage, cut, a pipe or a library without the entry
        QTest::addColumn<int>("answer");      // to the download question; -1 when none is asked
        QTest::addColumn<QStringList>("boxes");
        const QString missing = QStringLiteral(
            "Cannot find the plug-ins Language.dll in your Quorvane - Internet Port Mapping directory.");
        const QString download = QStringLiteral("Do you want download the plug-ins from Quorvane Web Site?");
        QTest::newRow("absent, download") << "none" << int(qv::Answer::Yes) << QStringList{missing, download};
        QTest::newRow("absent, no download")
            << "none" << int(qv::Answer::No) << QStringList{missing, download};
        const QString damaged = QStringLiteral("The plug-ins Language.dll in your Quorvane - Internet Port "
                                               "Mapping directory is damaged or is not a library.");
        QTest::newRow("not a library") << "garbage" << -1 << QStringList{damaged};
        // The loader must never map the missing end of a cut file, nor wait on a pipe for a writer.
        QTest::newRow("cut short") << "truncated" << -1 << QStringList{damaged};
        QTest::newRow("a pipe") << "fifo" << -1 << QStringList{damaged};
        QTest::newRow("without the entry") << "noentry" << -1
                                           << QStringList{"The plug-ins Language.dll in your Quorvane - "
                                                          "Internet Port Mapping directory has no entry "
                                                          "Creer_Form."};
    }
    void languagePluginFailures() {
        QFETCH(QString, library);
        QFETCH(int, answer);
        QFETCH(QStringList, boxes);
        RosterFixture f;
        f.StoreCurrentMarker();
        if (library == QLatin1String("garbage"))
            WriteAll(f.dir.File("Language.dll"), "MZ this is no shared object");
        else if (library == QLatin1String("noentry"))
            CopyInto(f, QV_NO_ENTRY_LIBRARY, "Language.dll");
        else if (library == QLatin1String("truncated")) // headers whole, code and data cut off
            WriteAll(f.dir.File("Language.dll"), ReadAll(QV_LANGUAGE_PLUGIN).substr(0, 3 * 4096));
        else if (library == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(f.dir.File("Language.dll").c_str(), 0644), 0);
        qv::TRoster& roster = f.Start();
        WaitForStartUp(roster);
        f.platform.ExpectBox(qv::BoxKind::Error);
        if (answer >= 0)
            f.platform.Answer(qv::Answer(answer));
        QAction* language1 = roster.Mapping().findChild<QAction*>(QStringLiteral("Language1"));
        language1->trigger();

        QCOMPARE(f.platform.Boxes().size(), boxes.size());
        for (int i = 0; i < boxes.size(); ++i)
            QCOMPARE(f.platform.Boxes()[i].text.section(QLatin1Char('\n'), 0, 0), boxes[i]);
        QCOMPARE(f.platform.Boxes()[0].title, QStringLiteral("Quorvane Plug-ins Error"));
        QCOMPARE(f.platform.OpenedUrls().size(), answer == int(qv::Answer::Yes) ? 1 : 0);
        if (!f.platform.OpenedUrls().isEmpty())
            QVERIFY(f.platform.OpenedUrls()[0].endsWith(QLatin1String(".example/download/Language.zip")));
        QCOMPARE(f.platform.LibraryCalls().size(), library == QLatin1String("none") ? 0 : 1);
        QVERIFY(language1->isEnabled());
    }

    void languagePluginChoiceShowsAtTheNextStart() {
        RosterFixture f;
        f.StoreCurrentMarker();
        CopyInto(f, QV_LANGUAGE_PLUGIN, "Language.dll");
        for (const char* language : {"French.lng", "German.lng"})
            CopyInto(f, (std::string(QV_LANGUAGE_DIR) + language).c_str(), language);
        qv::TRoster& roster = f.Start();
        WaitForStartUp(roster);

        // The plug-in's dialog blocks inside the call: answer it from the event loop.
        QStringList offered;
        QTimer chooser;
        chooser.setInterval(10);
        connect(&chooser, &QTimer::timeout, this, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog || dialog->objectName() != QLatin1String("LanguageChooser"))
                return;
            chooser.stop();
            auto* list = dialog->findChild<QListWidget*>(QStringLiteral("Languages"));
            for (int row = 0; row < list->count(); ++row)
                offered << list->item(row)->text();
            list->setCurrentItem(list->findItems(QStringLiteral("French"), Qt::MatchExactly).value(0));
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        chooser.start();
        roster.Mapping().findChild<QAction*>(QStringLiteral("Language1"))->trigger();

        QCOMPARE(offered, (QStringList{"English (built-in)", "French", "German"}));
        QCOMPARE(f.platform.LibraryCalls(), QStringList{QString::fromStdString(f.dir.File("Language.dll")) +
                                                        QStringLiteral(":Creer_Form")});
        QCOMPARE(qv::ReadString(f.ConfigPath(), qv::kMappingSection, "QRVNLanguage"),
                 qv::ScrambleText("French.lng", qv::kQRVNLanguageShiftKey));
        QCOMPARE(roster.Mapping().windowTitle(), QStringLiteral("Quorvane - Internet Port Mapping"));

        f.Stop();
        qv::TRoster& again = f.Start();
        WaitForStartUp(again);
        QCOMPARE(again.Mapping().windowTitle(), QStringLiteral("Quorvane - Redirection de ports Internet"));
        QCOMPARE(CaptionOf(f, "TQuorvaneMapping", "Label1"), QStringLiteral("Port entrant :"));
        QCOMPARE(CaptionOf(f, "TQuorvaneMapping", "Panel2"),
                 QStringLiteral("Utilisateur(s) connect\u00e9(s). Fichier de langue : French.lng."));
    }
};

QV_TEST_MAIN(CaptionsTest)
#include "captions_test.moc"
