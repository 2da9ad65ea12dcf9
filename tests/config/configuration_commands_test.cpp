// Save, load and import of whole configurations through the windows, with the real file.
#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <map>

#include "config/configuration_commands.h"
#include "core/profile/config_names.h"
#include "core/profile/profile_file.h"
#include "core/profile/scramble.h"
#include "shell/main_window.h"
#include "support/echo_server.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"
#include "support/tcp_probe.h"

using namespace qvtest;
using namespace std::chrono_literals;

namespace {

const QString kOldNotice = QStringLiteral(
    "It is a old file (The new file is encrypted for more security). Error loading the configuration "
    "file.\r\n"
    "This file version is not 2.0, or the file is empty.\r\n"
    "If it is a old configuration click (File - Load a older configuration) to open that file.\r\n"
    "When you have openned your old file save and overwrite on that file.");

struct FieldRef {
    const char* window;
    QString name;
    const char* section;
};

// The 31 fields of a configuration.
QList<FieldRef> AllFields() {
    QList<FieldRef> fields;
    for (const char* base : {"IncommingPort", "OutcommingPort", "OutcommingIp"})
        for (int n = 1; n <= 6; ++n)
            fields.append(
                {"TQuorvaneMapping",
                 n == 1 ? QString::fromLatin1(base) : QString::fromLatin1(base) + QString::number(n),
                 qv::kMappingSection});
    for (const char* name : {"TimerStart", "IncommingPAd", "OutcommingPAd", "OutcommingIpAd", "TimerStop"})
        fields.append({"TQuorvaneMappingPlus", QString::fromLatin1(name), qv::kMappingSection});
    for (const char* name : {"RemoteIp", "RemotePort", "RemoteLogin", "RemotePassword", "ServerName",
                             "ServerPort", "ServerLogin", "ServerPassword"})
        fields.append({"TQuorvaneRemote", QString::fromLatin1(name), qv::kRemoteSection});
    return fields;
}

QWidget* Window(const char* name) {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QLatin1String(name))
            return top;
    return nullptr;
}
QLineEdit* Edit(const FieldRef& f) {
    return Window(f.window)->findChild<QLineEdit*>(f.name);
}
QPushButton* ButtonOf(const char* window, const char* name) {
    return Window(window)->findChild<QPushButton*>(QString::fromLatin1(name));
}
QAction* Item(const char* name) {
    return Window("TQuorvaneMapping")->findChild<QAction*>(QString::fromLatin1(name));
}

// A distinct value per field that fits the field: bytes a line-based file could damage included.
QString OddValue(int index, const QLineEdit* edit) {
    if (edit->maxLength() <= 5)
        return index % 3 == 0 ? QString() : QString::number(10000 + index * 37).left(5);
    const QString odd[] = {
        QStringLiteral(" lead and trail "),       QStringLiteral("\"quoted\""), QStringLiteral("a=b;c"),
        QString::fromLatin1("\xe9\xff\x80 high"), QStringLiteral("'single'"),   QString()};
    return odd[index % 6] + QString::number(index);
}

// Every Load and Save control of the three windows, as on or off.
struct ControlStates {
    bool mainLoad, mainSave, mainLoad2, mainSave2, remoteLoad, remoteSave, advancedLoad, advancedSave;
    bool operator==(const ControlStates&) const = default;
};
ControlStates States() {
    return {ButtonOf("TQuorvaneMapping", "LoadIni")->isEnabled(),
            ButtonOf("TQuorvaneMapping", "SaveIni")->isEnabled(),
            Item("LoadIni2")->isEnabled(),
            Item("SaveIni2")->isEnabled(),
            ButtonOf("TQuorvaneRemote", "LoadIni")->isEnabled(),
            ButtonOf("TQuorvaneRemote", "SaveIni")->isEnabled(),
            ButtonOf("TQuorvaneMappingPlus", "LoadIni")->isEnabled(),
            ButtonOf("TQuorvaneMappingPlus", "SaveIni")->isEnabled()};
}
const ControlStates kAllOff{false, false, false, false, false, false, false, false};

bool FileItemsEnabled() {
    return Item("SaveConfigurationAs1")->isEnabled() && Item("LoadConfigurationFrom1")->isEnabled() &&
           Item("Loadaolderconfiguration1")->isEnabled();
}

struct Program : RosterFixture {
    explicit Program(bool withMarker = true) {
        if (withMarker)
            StoreCurrentMarker();
    }
};

} // namespace

class ConfigurationCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void allFieldsSurviveSaveAndLoad() {
        Program p;
        p.Start();
        const QList<FieldRef> fields = AllFields();
        QCOMPARE(fields.size(), 31);
        QStringList saved;
        for (int i = 0; i < fields.size(); ++i) {
            QLineEdit* edit = Edit(fields[i]);
            QVERIFY2(edit, qPrintable(fields[i].name));
            edit->setText(OddValue(i, edit));
            saved << edit->text();
        }
        QVERIFY(States().mainSave);
        Item("SaveIni2")->trigger();
        QCOMPARE(States(), kAllOff);

        for (const FieldRef& f : fields)
            Edit(f)->setText(QStringLiteral("1"));
        p.platform.Answer(qv::Answer::Yes);
        ButtonOf("TQuorvaneMapping", "LoadIni")->click();
        QCOMPARE(p.platform.BoxTexts().last(),
                 QStringLiteral("Are you sure remplace your current settings with the old configuration?"));
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(Edit(fields[i])->text(), saved[i]);
        // Right after the load only "Load Configuration" of the menu is on; the timer then takes it too.
        QVERIFY(Item("LoadIni2")->isEnabled() && !States().mainSave);
        QTRY_COMPARE(States(), kAllOff);

        // The program that starts next reads the same texts.
        p.Stop();
        p.Start();
        for (int i = 0; i < 18; ++i)
            QCOMPARE(Edit(fields[i])->text(), saved[i]);
        for (int i = 18; i < fields.size(); ++i)
            QCOMPARE(Edit(fields[i])->text(), saved[i]);
    }

    void loadRefusesMissingAndOldFiles_data() {
        QTest::addColumn<int>("state"); // 0 missing, 1 old, 2 empty
        QTest::addColumn<QString>("notice");
        QTest::newRow("missing") << 0 << "The file DataQRVN.qrvd in your application directory do not exist.";
        QTest::newRow("old") << 1 << kOldNotice;
        QTest::newRow("empty") << 2 << kOldNotice;
    }
    void loadRefusesMissingAndOldFiles() {
        QFETCH(int, state);
        QFETCH(QString, notice);
        Program p;
        p.Start();
        p.Find<QLineEdit>("OutcommingIp")->setText(QStringLiteral("kept"));
        if (state == 0)
            std::filesystem::remove(p.ConfigPath());
        else
            WriteAll(p.ConfigPath(), state == 1 ? "[QuorvaneDataMapping]\r\nOutcommingIp=plain\r\n" : "");
        const int beeps = p.platform.Beeps();
        p.platform.ExpectBox(qv::BoxKind::Notice);
        Item("LoadIni2")->trigger();
        QCOMPARE(p.platform.BoxTexts(), QStringList{notice});
        QCOMPARE(p.platform.Beeps(), beeps + 1);
        QCOMPARE(p.Find<QLineEdit>("OutcommingIp")->text(), QStringLiteral("kept"));
        QVERIFY(States().mainLoad);
    }

    void loadAnsweredNoChangesNothing() {
        Program p;
        p.Start();
        p.Find<QLineEdit>("OutcommingIp")->setText(QStringLiteral("typed"));
        p.platform.Answer(qv::Answer::No);
        ButtonOf("TQuorvaneMapping", "LoadIni")->click();
        QCOMPARE(p.Find<QLineEdit>("OutcommingIp")->text(), QStringLiteral("typed"));
        QVERIFY(States().mainLoad && Item("LoadIni2")->isEnabled() && States().mainSave);
    }

    void loadStopsEverySlotAndListsTheirOldPorts() {
        LocalServer echo(ServerMode::Echo);
        Program p;
        const int port1 = FreePort(), port2 = FreePort();
        p.Store(qv::kMappingSection, "IncommingPort3", "3333", qv::kMappingDataShiftKey);
        p.Store(qv::kMappingSection, "OutcommingPort3", "80", qv::kMappingDataShiftKey);
        p.Store(qv::kMappingSection, "OutcommingIp3", "host3", qv::kMappingDataShiftKey);
        p.Store(qv::kMappingSection, "IncommingPort4", "4444", qv::kMappingDataShiftKey);
        p.Start();
        const auto fill = [&](const char* in, const char* out, const char* ip, int port) {
            p.Find<QLineEdit>(in)->setText(QString::number(port));
            p.Find<QLineEdit>(out)->setText(QString::number(echo.Port()));
            p.Find<QLineEdit>(ip)->setText(QStringLiteral("127.0.0.1"));
        };
        fill("IncommingPort", "OutcommingPort", "OutcommingIp", port1);
        fill("IncommingPort2", "OutcommingPort2", "OutcommingIp2", port2);
        p.Find<QPushButton>("MappingEnable")->click();
        p.Find<QPushButton>("MappingEnable2")->click();
        Fd client(ConnectLoopback(port1));
        QTRY_COMPARE(p.roster->Mapping().StatusPanel(1)->text(), QStringLiteral("1"));

        p.platform.Answer(qv::Answer::Yes);
        ButtonOf("TQuorvaneMapping", "LoadIni")->click();
        // The slots swap their entries in order, then stop together; slot 1's open connection ends
        // during that one stop.
        QCOMPARE(p.List(), (QStringList{QStringLiteral("Disabled Mapping #1 on port : %1").arg(port1),
                                        QStringLiteral("Disabled Mapping #2 on port : %1").arg(port2),
                                        QStringLiteral("Disabled Mapping #3 on port : 3333"),
                                        QStringLiteral("Disabled Mapping #4 on port : 4444"),
                                        QStringLiteral("Disabled Mapping #5 on port : "),
                                        QStringLiteral("Disabled Mapping #6 on port : "),
                                        QStringLiteral("Disconnected on Mapping #1")}));
        QCOMPARE(p.roster->Mapping().StatusPanel(1)->text(), QStringLiteral("0"));
        QCOMPARE(ConnectLoopback(port1, 1s), -1);
        QCOMPARE(ConnectLoopback(port2, 1s), -1);
        // Slot 3 was stored whole, slot 4 was not; slots 1 and 2 had nothing stored.
        QVERIFY(p.Find<QPushButton>("MappingEnable3")->isEnabled());
        for (const char* name : {"MappingEnable", "MappingEnable2", "MappingEnable4"})
            QVERIFY2(!p.Find<QPushButton>(name)->isEnabled(), name);
        for (const char* name : {"MappingDisable", "MappingDisable2"})
            QVERIFY(!p.Find<QPushButton>(name)->isEnabled());
        QVERIFY(p.Find<QLineEdit>("IncommingPort")->isEnabled());
        QVERIFY(p.Find<QLineEdit>("IncommingPort")->text().isEmpty());
        QVERIFY(!p.Find<QPushButton>("Button1")->isEnabled());
    }

    void saveAsOntoAnExistingFile_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("written");
        QTest::newRow("Yes") << int(qv::Answer::Yes) << true;
        QTest::newRow("No") << int(qv::Answer::No) << false;
        QTest::newRow("Cancel") << int(qv::Answer::Cancel) << false;
    }
    void saveAsOntoAnExistingFile() {
        QFETCH(int, answer);
        QFETCH(bool, written);
        Program p;
        p.Start();
        const std::string other = p.dir.File("other.qrvd");
        WriteAll(other, "[Unrelated]\r\nKeep=this\r\n");
        p.Find<QLineEdit>("OutcommingIp6")->setText(QStringLiteral("six"));
        p.platform.SetFileNames({QString::fromStdString(other)});
        p.platform.Answer(qv::Answer(answer));
        Item("SaveConfigurationAs1")->trigger();
        QCOMPARE(p.platform.Boxes().size(), 1);
        QCOMPARE(p.platform.Boxes().first().kind, qv::BoxKind::Confirmation);
        QCOMPARE(p.platform.Boxes().first().text,
                 QStringLiteral("The file is alrealy exist.\r\nAre you sure want to overwrite this file %1?")
                     .arg(QString::fromStdString(other)));
        QCOMPARE(qv::ReadString(other, "Unrelated", "Keep"), std::string("this"));
        const std::string stored = qv::UnscrambleText(
            qv::ReadString(other, qv::kMappingSection, "OutcommingIp6"), qv::kMappingDataShiftKey);
        QCOMPARE(stored, written ? std::string("six") : std::string());
        QVERIFY(FileItemsEnabled());
        // The file beside the executable was not written, yet the changes count as saved.
        QCOMPARE(States().mainSave, !written);
        QVERIFY(qv::ReadString(p.ConfigPath(), qv::kMappingSection, "OutcommingIp6").empty());
    }

    void saveAsAddsTheExtensionAndGivesTheItemsBackAfterAFailure() {
        Program p;
        p.Start();
        p.Find<QLineEdit>("OutcommingIp")->setText(QStringLiteral("x"));
        p.platform.SetFileNames({QString::fromStdString(p.dir.File("typed"))});
        Item("SaveConfigurationAs1")->trigger();
        QVERIFY(std::filesystem::exists(p.dir.File("typed.qrvd")));
        QVERIFY(p.platform.Boxes().isEmpty());

        const std::string unwritable = p.dir.File("no/such/folder/conf.qrvd");
        p.platform.SetFileNames({QString::fromStdString(unwritable)});
        p.platform.ExpectBox(qv::BoxKind::Error);
        p.Find<QLineEdit>("OutcommingIp")->setText(QStringLiteral("y"));
        Item("SaveConfigurationAs1")->trigger();
        QCOMPARE(
            p.platform.BoxTexts(),
            QStringList{QStringLiteral("Unable to write to %1").arg(QString::fromStdString(unwritable))});
        QVERIFY(FileItemsEnabled());
        QVERIFY(States().mainSave);
    }

    void failedSaveKeepsTheChangesUnsaved() {
        Program p(false);
        std::filesystem::create_directory(p.ConfigPath()); // a folder where the file should be
        p.platform.ExpectBox(qv::BoxKind::Notice);         // start-up: not a current file
        p.Start();
        p.Find<QLineEdit>("OutcommingIp2")->setText(QStringLiteral("unsaved"));
        const ControlStates before = States();
        p.platform.ExpectBox(qv::BoxKind::Error);
        ButtonOf("TQuorvaneMapping", "SaveIni")->click();
        QCOMPARE(p.platform.BoxTexts().last(),
                 QStringLiteral("Unable to write to %1").arg(QString::fromStdString(p.ConfigPath())));
        QCOMPARE(States(), before);
        QVERIFY(before.mainSave);
    }

    void loadFromAChosenFile() {
        Program p;
        p.Start();
        const std::string chosen = p.dir.File("chosen.qrvd");
        {
            p.Find<QLineEdit>("ServerName")->setText(QStringLiteral("chosen server"));
            p.platform.SetFileNames({QString::fromStdString(chosen)});
            Item("SaveConfigurationAs1")->trigger();
        }
        p.Find<QLineEdit>("ServerName")->setText(QStringLiteral("changed"));

        // A typed name of a file that does not exist reads as an old file.
        p.platform.SetFileNames({QString::fromStdString(p.dir.File("absent.qrvd"))});
        p.platform.ExpectBox(qv::BoxKind::Notice);
        Item("LoadConfigurationFrom1")->trigger();
        QCOMPARE(p.platform.BoxTexts().last(), kOldNotice);
        QVERIFY(FileItemsEnabled());

        p.platform.SetFileNames({QString::fromStdString(chosen)});
        p.platform.Answer(qv::Answer::Yes);
        Item("LoadConfigurationFrom1")->trigger();
        QCOMPARE(p.platform.BoxTexts().last(),
                 QStringLiteral("Are you sure remplace your current settings with the configuration?"));
        QCOMPARE(p.Find<QLineEdit>("ServerName")->text(), QStringLiteral("chosen server"));
        const ControlStates allOn{true, true, true, true, true, true, true, true};
        QCOMPARE(States(), allOn);
        QVERIFY(FileItemsEnabled());
        QTest::qWait(50); // Timer3 is not started by this load
        QCOMPARE(States(), allOn);
    }

    void importOfACurrentFileIsRefused() {
        Program p;
        p.Start();
        p.platform.SetFileNames({QString::fromStdString(p.ConfigPath())});
        p.platform.ExpectBox(qv::BoxKind::Notice);
        Item("Loadaolderconfiguration1")->trigger();
        QCOMPARE(
            p.platform.BoxTexts(),
            QStringList{QStringLiteral("It is not a old file. Error loading configuration file.\r\n"
                                       "File version 2.0.\r\nThis option support only the version 1.0.")});
        QVERIFY(FileItemsEnabled());
    }

    void importOfAnOldFileThenSaveAndLoad() {
        Program p;
        p.Start();
        const std::string old = p.dir.File("old.qrvd");
        WriteAll(
            old,
            "[QuorvaneDataMapping]\r\nIncommingPort=80\r\nOutcommingPort=8080\r\nOutcommingIp=10.0.0.2\r\n"
            "TimerStop=3000\r\n[QuorvaneDataRemoteMapping]\r\nServerLogin=admin\r\n");
        p.Find<QLineEdit>("ServerName")->setText(QStringLiteral("to be emptied"));
        p.platform.SetFileNames({QString::fromStdString(old)});
        p.platform.Answer(qv::Answer::Yes);
        Item("Loadaolderconfiguration1")->trigger();
        QCOMPARE(p.Find<QLineEdit>("IncommingPort")->text(), QStringLiteral("80"));
        QCOMPARE(p.Find<QLineEdit>("OutcommingPort")->text(), QStringLiteral("8080"));
        QCOMPARE(p.Find<QLineEdit>("OutcommingIp")->text(), QStringLiteral("10.0.0.2"));
        QCOMPARE(p.Find<QLineEdit>("TimerStop")->text(), QStringLiteral("3000"));
        QCOMPARE(p.Find<QLineEdit>("ServerLogin")->text(), QStringLiteral("admin"));
        QVERIFY(p.Find<QLineEdit>("ServerName")->text().isEmpty());
        QVERIFY(p.Find<QLineEdit>("TimerStart")->text().isEmpty());
        QVERIFY(p.Find<QPushButton>("MappingEnable")->isEnabled());
        QVERIFY(FileItemsEnabled());
        for (const char* window : {"TQuorvaneRemote", "TQuorvaneMappingPlus"}) {
            QVERIFY(ButtonOf(window, "LoadIni")->isEnabled());
            QVERIFY(ButtonOf(window, "SaveIni")->isHidden());
        }
        QVERIFY(States().mainSave && Item("SaveIni2")->isEnabled());

        Item("SaveIni2")->trigger();
        QCOMPARE(qv::ReadString(p.ConfigPath(), qv::kMappingSection, "OutcommingIp"),
                 qv::ScrambleText("10.0.0.2", qv::kMappingDataShiftKey));
        for (const char* window : {"TQuorvaneRemote", "TQuorvaneMappingPlus"})
            QVERIFY(!ButtonOf(window, "SaveIni")->isHidden());
        p.Find<QLineEdit>("OutcommingIp")->setText(QStringLiteral("other"));
        p.platform.Answer(qv::Answer::Yes);
        Item("LoadIni2")->trigger();
        QCOMPARE(p.Find<QLineEdit>("OutcommingIp")->text(), QStringLiteral("10.0.0.2"));
        QCOMPARE(p.Find<QLineEdit>("ServerLogin")->text(), QStringLiteral("admin"));
    }

    // Another program writes the file as a plain profile writer would, and reads ours the same way.
    void filesOfAnIndependentWriterAndReader() {
        const auto shift = [](const std::string& text) {
            std::string out;
            for (unsigned char c : text)
                out += static_cast<char>((c + 118) % 256);
            return out;
        };
        Program p(false);
        WriteAll(p.ConfigPath(),
                 "[QuorvaneDataMapping]\r\nVQRVNV=" + shift("2.0") + "\r\nIncommingPort5=" + shift("2121") +
                     "\r\nOutcommingPort5=" + shift("21") + "\r\nOutcommingIp5=" + shift("ftp.example.net") +
                     "\r\nTimerStop=" + shift("4500") +
                     "\r\n\r\n[QuorvaneDataRemoteMapping]\r\nServerName=" + shift("Relay box") + "\r\n");
        p.Start();
        QCOMPARE(p.Find<QLineEdit>("IncommingPort5")->text(), QStringLiteral("2121"));
        QCOMPARE(p.Find<QLineEdit>("OutcommingIp5")->text(), QStringLiteral("ftp.example.net"));
        QCOMPARE(p.Find<QLineEdit>("TimerStop")->text(), QStringLiteral("4500"));
        QCOMPARE(p.Find<QLineEdit>("ServerName")->text(), QStringLiteral("Relay box"));
        QVERIFY(p.Find<QPushButton>("MappingEnable5")->isEnabled());

        p.Find<QLineEdit>("OutcommingIp2")->setText(QStringLiteral("10.0.0.7"));
        Item("SaveIni2")->trigger();
        // The plain reader: CR LF lines, [section], key=value split at the first "=".
        std::map<std::string, std::string> values;
        std::string section;
        const std::string text = ReadAll(p.ConfigPath());
        for (size_t start = 0, end; start < text.size(); start = end + 2) {
            end = text.find("\r\n", start);
            QVERIFY(end != std::string::npos);
            const std::string line = text.substr(start, end - start);
            if (!line.empty() && line.front() == '[')
                section = line.substr(1, line.size() - 2);
            else if (const size_t eq = line.find('='); eq != std::string::npos)
                values.emplace(section + "/" + line.substr(0, eq), line.substr(eq + 1));
        }
        QCOMPARE(values["QuorvaneDataMapping/VQRVNV"], shift("2.0"));
        QCOMPARE(values["QuorvaneDataMapping/OutcommingIp2"], shift("10.0.0.7"));
        QCOMPARE(values["QuorvaneDataMapping/IncommingPort5"], shift("2121"));
        QCOMPARE(values["QuorvaneDataMapping/TimerStop"], shift("4500"));
        QCOMPARE(values["QuorvaneDataRemoteMapping/ServerName"], shift("Relay box"));
        QCOMPARE(values["QuorvaneDataMapping/IncommingPort"], std::string());
    }

    void defaultExtension_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("used");
        QTest::newRow("bare") << "/x/name"
                              << "/x/name.qrvd";
        QTest::newRow("with extension") << "/x/name.qrvd"
                                        << "/x/name.qrvd";
        QTest::newRow("other extension") << "/x/name.ini"
                                         << "/x/name.ini";
        QTest::newRow("dotted folder") << "/x.d/name"
                                       << "/x.d/name.qrvd";
    }
    void defaultExtension() {
        QFETCH(QString, typed);
        QFETCH(QString, used);
        QCOMPARE(qv::TConfigurationCommands::WithDefaultExtension(typed), used);
    }
};

QV_TEST_MAIN(ConfigurationCommandsTest)
#include "configuration_commands_test.moc"
