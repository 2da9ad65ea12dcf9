// The windows as a screen: roster, captions, controls, menu, hints, status bar and small actions.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

#include "shell/main_window.h"
#include "shell/tray_window.h"
#include "support/qt_test_main.h"
#include "support/roster_fixture.h"

using namespace qvtest;

class MainWindowTest : public QObject {
    Q_OBJECT

    RosterFixture* f = nullptr;

private slots:
    void init() {
        f = new RosterFixture;
        f->StoreCurrentMarker();
        f->Start();
    }
    void cleanup() {
        delete f;
        f = nullptr;
    }

    void windowsHaveTheirCaptionsAndSizes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QSize>("size");
        QTest::newRow("About") << "TAbout"
                               << "Quorvane - Internet Port Mapping - About" << QSize(308, 415);
        QTest::newRow("Remote") << "TQuorvaneRemote"
                                << "Quorvane - Internet Port Mapping - Remote Settings & Remote Connections"
                                << QSize();
        QTest::newRow("Advanced") << "TQuorvaneMappingPlus"
                                  << "Quorvane - Internet Port Mapping - Advanced Options" << QSize(696, 480);
        QTest::newRow("Update") << "TQuorvaneUpdate"
                                << "Quorvane - Internet Port Mapping - Update" << QSize();
        QTest::newRow("Unlock") << "TQuorvaneMappingUnlock"
                                << "Quorvane - Internet Port Mapping  - Unlock Password" << QSize(380, 200);
        QTest::newRow("Lock") << "TQuorvaneMappingLock"
                              << "Quorvane - Internet Port Mapping  - Lock Password" << QSize(380, 220);
        QTest::newRow("ChangesNews") << "TQuorvaneChangesNews"
                                     << "Quorvane - Internet Port Mapping - Changes/News" << QSize(713, 520);
        QTest::newRow("Settings") << "TQuorvaneSettings"
                                  << "Quorvane - Internet Port Mapping - Settings" << QSize(697, 491);
        QTest::newRow("Tray") << "TQuorvaneTray"
                              << "Quorvane - Internet Port Mapping" << QSize();
        QTest::newRow("Main") << "TQuorvaneMapping"
                              << "Quorvane - Internet Port Mapping" << QSize();
    }
    void windowsHaveTheirCaptionsAndSizes() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QSize, size);
        int found = 0;
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() != name)
                continue;
            ++found;
            QCOMPARE(top->windowTitle(), caption);
            if (size.isValid()) {
                QCOMPARE(top->minimumSize(), size);
                QCOMPARE(top->maximumSize(), size);
            }
            QVERIFY(!top->windowIcon().isNull());
        }
        QCOMPARE(found, 1);
    }

    void onlyTheMainWindowIsOnScreen() {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isWindow() && !qobject_cast<QMenu*>(top))
                QCOMPARE(top->isVisible(), top->objectName() == QStringLiteral("TQuorvaneMapping"));
    }

    void trayMenuStartsInItsInitialState() {
        qv::TQuorvaneTray& tray = f->roster->Tray();
        QStringList names;
        for (QAction* a : tray.PopupMenu1()->actions())
            names << a->objectName();
        QCOMPARE(names, (QStringList{"About3", "Lock1", "N1", "Show", "Minimize", "Restart", "Exit", "N2",
                                     "Unlock1", "Connections3"}));
        QVERIFY(tray.About3()->isEnabled() && tray.Lock1()->isEnabled() && tray.Lock1()->isVisible());
        QVERIFY(!tray.Show()->isEnabled());
        QVERIFY(tray.Minimize()->isEnabled());
        QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Minimize());
        QVERIFY(tray.Restart()->isEnabled() && tray.Exit()->isEnabled());
        QVERIFY(!tray.Unlock1()->isEnabled() && !tray.Unlock1()->isVisible());
        QCOMPARE(tray.Show()->statusTip(), QStringLiteral("Show Application"));
    }

    void buttonsStartInTheirStates_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Button6") << "Button6"
                                 << "Advanced Options" << true;
        QTest::newRow("LoadIni") << "LoadIni"
                                 << "Load Configuration" << false;
        QTest::newRow("SaveIni") << "SaveIni"
                                 << "Save Changes" << false;
        QTest::newRow("RemoteButton") << "RemoteButton"
                                      << "Remote" << true;
        QTest::newRow("Button4") << "Button4"
                                 << "Lock" << true;
        QTest::newRow("Button5") << "Button5"
                                 << "Unlock" << false;
        QTest::newRow("Button1") << "Button1"
                                 << "Disabled All" << false;
        QTest::newRow("Button3") << "Button3"
                                 << "Firewall Settings" << false;
        QTest::newRow("ClearLogs") << "ClearLogs"
                                   << "Clear Logs Windows" << false;
        QTest::newRow("DLogs") << "DLogs"
                               << "Disable Logging" << true;
        QTest::newRow("Button2") << "Button2"
                                 << "Disconnect" << false;
        QTest::newRow("MappingEnable4") << "MappingEnable4"
                                        << "Enable" << false;
        QTest::newRow("MappingDisable") << "MappingDisable"
                                        << "Disable" << false;
    }
    void buttonsStartInTheirStates() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        auto* button = f->Find<QPushButton>(name.toLatin1().constData());
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->isEnabled(), enabled);
        QVERIFY(button->isVisible());
    }

    void hiddenMembersAndCounts() {
        auto* version = f->Find<QLabel>("Version");
        QCOMPARE(version->text(), QStringLiteral("1.3 Build 47 07 11 2002"));
        QVERIFY(!version->isVisible());
        QVERIFY(!f->Find("Buffer1")->isVisible());
        QVERIFY(!f->Find("Buffer1")->isEnabled());
        QVERIFY(!f->Find("ELogs")->isVisible());
        for (int n = 1; n <= 6; ++n) {
            auto* count = f->roster->Mapping().findChild<QLabel*>(QStringLiteral("NCMapping%1").arg(n));
            QCOMPARE(count->text(), QStringLiteral("0"));
            QVERIFY(!count->isVisible());
        }
        QCOMPARE(f->roster->Mapping().StatusPanel(0)->text(), QStringLiteral("No information"));
        QCOMPARE(f->roster->Mapping().StatusPanel(1)->text(), QStringLiteral("0"));
        QCOMPARE(f->roster->Mapping().StatusPanel(2)->text(), QStringLiteral("User(s) connected."));
        QCOMPARE(f->roster->Mapping().StatusPanel(0)->width(), 325);
    }

    void menuItemsHaveShortcutsImagesAndHints_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("shortcut");
        QTest::addColumn<bool>("image");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("SaveIni2") << "SaveIni2"
                                  << "Save Changes"
                                  << "Ctrl+S" << true << false;
        QTest::newRow("LoadIni2") << "LoadIni2"
                                  << "Load Configuration"
                                  << "Ctrl+O" << true << false;
        QTest::newRow("SaveAs") << "SaveConfigurationAs1"
                                << "Save Configuration As"
                                << "Ctrl+T" << true << true;
        QTest::newRow("LoadFrom") << "LoadConfigurationFrom1"
                                  << "Load Configuration From"
                                  << "Ctrl+G" << true << true;
        QTest::newRow("Older") << "Loadaolderconfiguration1"
                               << "Load A Older Configuration"
                               << "Ctrl+H" << true << true;
        QTest::newRow("Lock1") << "Lock1"
                               << "Lock"
                               << "Ctrl+L" << true << true;
        QTest::newRow("Minimize2") << "Minimize2"
                                   << "Minimize"
                                   << "" << false << true;
        QTest::newRow("Exit1") << "Exit1"
                               << "Exit"
                               << "" << true << true;
        QTest::newRow("Advanced") << "AdvancedOptions1"
                                  << "Advanced Options"
                                  << "Ctrl+P" << false << true;
        QTest::newRow("Language1") << "Language1"
                                   << "Language"
                                   << "Ctrl+U" << false << true;
        QTest::newRow("Remote1") << "Remote1"
                                 << "Remote"
                                 << "Ctrl+B" << false << true;
        QTest::newRow("Settings1") << "Settings1"
                                   << "Settings"
                                   << "Ctrl+E" << false << true;
        QTest::newRow("About2") << "About2"
                                << "About"
                                << "Ctrl+A" << true << true;
        QTest::newRow("ChangesNews1") << "ChangesNews1"
                                      << "Changes/News"
                                      << "Ctrl+N" << true << true;
        QTest::newRow("Checkfor1") << "Checkfor1"
                                   << "Upgrades"
                                   << "" << true << true;
        QTest::newRow("Help1") << "Help1"
                               << "Help"
                               << "" << true << false;
    }
    void menuItemsHaveShortcutsImagesAndHints() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, shortcut);
        QFETCH(bool, image);
        QFETCH(bool, enabled);
        auto* action = f->roster->Mapping().findChild<QAction*>(name);
        QVERIFY(action);
        QCOMPARE(action->text(), caption);
        QCOMPARE(action->shortcut().toString(), shortcut);
        QCOMPARE(!action->icon().isNull(), image);
        QCOMPARE(action->isEnabled(), enabled);
    }

    // With a port field focused, an editing key goes to the field even where a menu item has it; the
    // menu's other shortcuts, and all of them away from a field, open their windows.
    void shortcutsAndTheFocusedEdit_data() {
        QTest::addColumn<bool>("inField");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("opened"); // the window shown, none when empty
        QTest::addColumn<QString>("text");   // the field's text or its selection afterwards
        QTest::newRow("select all") << true << QKeySequence(Qt::CTRL | Qt::Key_A) << ""
                                    << "8080";
        // The offscreen platform of the tests binds no key to it; the desktops do, to Ctrl+K.
        const QKeySequence deleteToEnd(Qt::CTRL | Qt::Key_K);
        QTest::newRow("delete to the end")
            << true << deleteToEnd << ""
            << (QKeySequence::keyBindings(QKeySequence::DeleteEndOfLine).contains(deleteToEnd) ? "80"
                                                                                               : "8080");
        QTest::newRow("connections") << true << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K)
                                     << "ConnectionsForm"
                                     << "8080";
        QTest::newRow("rules") << true << QKeySequence(Qt::CTRL | Qt::Key_R) << "MappingRulesForm"
                               << "8080";
        QTest::newRow("about away from a field") << false << QKeySequence(Qt::CTRL | Qt::Key_A) << "TAbout"
                                                 << "8080";
    }
    void shortcutsAndTheFocusedEdit() {
        QFETCH(bool, inField);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, opened);
        QFETCH(QString, text);
        QWidget& main = f->roster->Mapping();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        auto* port = f->Find<QLineEdit>("IncommingPort");
        port->setText(QStringLiteral("8080"));
        port->setCursorPosition(2);
        QWidget* target = inField ? static_cast<QWidget*>(port) : f->Find("Button6");
        target->setFocus();
        QTest::keySequence(target, keys);
        QStringList shown;
        for (QWidget* window : f->platform.ModalShown())
            shown << window->objectName();
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window != &main && window->isVisible())
                shown << window->objectName();
        QCOMPARE(shown, opened.isEmpty() ? QStringList() : QStringList{opened});
        QCOMPARE(port->hasSelectedText() ? port->selectedText() : port->text(), text);
    }

    void statusPanelShowsTheLongHintUnderTheMouse() {
        QWidget* field = f->Find("OutcommingPort5");
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(field, &enter);
        QCOMPARE(f->roster->Mapping().StatusPanel(0)->text(),
                 QStringLiteral("Enter the outcomming port number 1 to 65535 (TCP)"));
        QCOMPARE(field->toolTip(), QStringLiteral("OutcommingPort"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(field, &leave);
        QCOMPARE(f->roster->Mapping().StatusPanel(1)->text(), QStringLiteral("0"));
    }

    void portFieldsTakeDigitsOnly() {
        auto* port = f->Find<QLineEdit>("IncommingPort2");
        QTest::keyClicks(port, "8a0-8 0x");
        QCOMPARE(port->text(), QStringLiteral("8080"));
        QTest::keyClick(port, Qt::Key_Backspace);
        QCOMPARE(port->text(), QStringLiteral("808"));
        QTest::keyClicks(port, "123");
        QCOMPARE(port->text(), QStringLiteral("80812")); // at most five characters
        auto* host = f->Find<QLineEdit>("OutcommingIp2");
        QTest::keyClicks(host, "a-b.c 1");
        QCOMPARE(host->text(), QStringLiteral("a-b.c 1"));
    }

    void changeRuleEnablesSaveAndEnableButNeverDisables() {
        auto* enable = f->Find<QPushButton>("MappingEnable2");
        QTest::keyClicks(f->Find<QLineEdit>("IncommingPort2"), "8080");
        QVERIFY(f->Find<QPushButton>("SaveIni")->isEnabled());
        QVERIFY(f->Find<QPushButton>("LoadIni")->isEnabled());
        QVERIFY(f->roster->Mapping().SaveIni2()->isEnabled());
        QVERIFY(!enable->isEnabled());
        QTest::keyClicks(f->Find<QLineEdit>("OutcommingPort2"), "80");
        QTest::keyClicks(f->Find<QLineEdit>("OutcommingIp2"), "h");
        QVERIFY(enable->isEnabled());
        f->Find<QLineEdit>("OutcommingIp2")->clear();
        QVERIFY(enable->isEnabled());
        QVERIFY(!f->Find<QPushButton>("MappingEnable3")->isEnabled());
    }

    void nonLatin1TextIsRefused() {
        auto* host = f->Find<QLineEdit>("OutcommingIp");
        for (const QString& typed :
             {QStringLiteral("h"), QStringLiteral("\u00e9"), QStringLiteral("\u4e2d")}) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, typed);
            QApplication::sendEvent(host, &press);
        }
        QCOMPARE(host->text(), QStringLiteral("h\u00e9"));
        host->insert(QStringLiteral("x\u4e2d")); // as a paste does
        QCOMPARE(host->text(), QStringLiteral("h\u00e9"));
    }

    void aboutDisablesTheTrayItemUntilItCloses() {
        qv::TQuorvaneTray& tray = f->roster->Tray();
        bool wasDisabled = false;
        f->platform.OnShowModal([&](QWidget* window) {
            wasDisabled = !tray.About3()->isEnabled();
            window->show();
            window->hide();
        });
        f->roster->Mapping().findChild<QAction*>(QStringLiteral("About2"))->trigger();
        QCOMPARE(f->platform.ModalShown().size(), 1);
        QCOMPARE(f->platform.ModalShown().first()->objectName(), QStringLiteral("TAbout"));
        QVERIFY(wasDisabled);
        QVERIFY(tray.About3()->isEnabled());
    }

    void commandsOpenTheirWindowsModally_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("window");
        QTest::newRow("Button6") << "Button6"
                                 << "TQuorvaneMappingPlus";
        QTest::newRow("AdvancedOptions1") << "AdvancedOptions1"
                                          << "TQuorvaneMappingPlus";
        QTest::newRow("RemoteButton") << "RemoteButton"
                                      << "TQuorvaneRemote";
        QTest::newRow("Remote1") << "Remote1"
                                 << "TQuorvaneRemote";
        QTest::newRow("Settings1") << "Settings1"
                                   << "TQuorvaneSettings";
        QTest::newRow("ChangesNews1") << "ChangesNews1"
                                      << "TQuorvaneChangesNews";
        QTest::newRow("Button4") << "Button4"
                                 << "TQuorvaneMappingLock";
        QTest::newRow("Lock1") << "Lock1"
                               << "TQuorvaneMappingLock";
    }
    // Each opens its window, and Escape in it does what its "Close" does.
    void commandsOpenTheirWindowsModally() {
        QFETCH(QString, command);
        QFETCH(QString, window);
        bool closedByEscape = false;
        if (window == QStringLiteral("TQuorvaneRemote"))
            f->platform.ExpectBox(qv::BoxKind::Notice); // its beta notice, on every show
        f->platform.OnShowModal([&](QWidget* shown) {
            shown->show();
            QTest::keyClick(shown, Qt::Key_Escape);
            closedByEscape = !shown->isVisible();
        });
        QObject* target = f->roster->Mapping().findChild<QObject*>(command);
        if (auto* button = qobject_cast<QPushButton*>(target))
            button->click();
        else
            qobject_cast<QAction*>(target)->trigger();
        QCOMPARE(f->platform.ModalShown().size(), 1);
        QCOMPARE(f->platform.ModalShown().first()->objectName(), window);
        QVERIFY(closedByEscape);
    }

    void upgradesOpensTheVendorPage() {
        f->roster->Mapping().findChild<QAction*>(QStringLiteral("Checkfor1"))->trigger();
        QCOMPARE(f->platform.OpenedUrls().size(), 1);
        QVERIFY(f->platform.OpenedUrls().first().startsWith(QStringLiteral("https://")));
        QVERIFY(f->platform.OpenedUrls().first().contains(QStringLiteral(".example")));
    }

    void minimizeHidesIntoTheTrayAndShowBringsItBack() {
        qv::TQuorvaneMapping& main = f->roster->Mapping();
        qv::TQuorvaneTray& tray = f->roster->Tray();
        main.Minimize2()->trigger();
        QVERIFY(!main.isVisible());
        QVERIFY(!main.Minimize2()->isEnabled() && !tray.Minimize()->isEnabled());
        QVERIFY(tray.Show()->isEnabled());
        QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Show());
        tray.Show()->trigger();
        QVERIFY(main.isVisible());
        QVERIFY(main.windowState() & Qt::WindowMaximized);
        QVERIFY(main.Minimize2()->isEnabled() && tray.Minimize()->isEnabled() && !tray.Show()->isEnabled());
        QCOMPARE(tray.PopupMenu1()->defaultAction(), tray.Minimize());
        QVERIFY(f->platform.TaskbarVisible());
    }

    void logListHidesAndShows() {
        auto* list = f->Find<QListWidget>("ListCient");
        auto* elogs = f->Find<QPushButton>("ELogs");
        QFrame* bevel = f->Find<QFrame>("Bevel3");
        QCOMPARE(bevel->height(), 121);
        const int top = elogs->y();
        f->Find<QPushButton>("DLogs")->click();
        QVERIFY(!list->isVisible() && !list->isEnabled());
        QVERIFY(elogs->isVisible() && elogs->isEnabled());
        QCOMPARE(bevel->height(), 23);
        QCOMPARE(elogs->y(), top - 48);
        elogs->click();
        QVERIFY(list->isVisible() && list->isEnabled());
        QVERIFY(!elogs->isVisible());
        QCOMPARE(bevel->height(), 121);
        QCOMPARE(elogs->y(), top - 48);
    }

    // The content scrolls on a screen smaller than the layout, so every control can be reached, and
    // only then.
    void contentScrollsOnlyWhenTheWindowIsSmallerThanTheLayout_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("1920 by 1080") << QSize(1920, 1080) << false;
        QTest::newRow("1024 by 600") << QSize(1024, 600) << true;
    }
    void contentScrollsOnlyWhenTheWindowIsSmallerThanTheLayout() {
        QFETCH(QSize, size);
        QFETCH(bool, scrolls);
        qv::TQuorvaneMapping& main = f->roster->Mapping();
        main.setWindowState(Qt::WindowNoState);
        main.resize(size);
        QTRY_VERIFY(main.isVisible());
        QApplication::processEvents();
        auto* scroll = qobject_cast<QScrollArea*>(main.centralWidget());
        QVERIFY(scroll);
        QCOMPARE(scroll->horizontalScrollBar()->isVisible() || scroll->verticalScrollBar()->isVisible(),
                 scrolls);
        for (const char* name : {"MappingEnable6", "DLogs"}) {
            auto* control = main.findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(control, name);
            scroll->ensureWidgetVisible(control, 0, 0);
            const QRect shown(control->mapTo(scroll->viewport(), QPoint()), control->size());
            QVERIFY2(scroll->viewport()->rect().contains(shown), name);
        }
    }

    // Sibling controls never overlap, at the design size or maximized.
    void nothingOverlaps_data() {
        QTest::addColumn<bool>("maximized");
        QTest::newRow("917 by 478") << false;
        QTest::newRow("maximized") << true;
    }
    void nothingOverlaps() {
        QFETCH(bool, maximized);
        qv::TQuorvaneMapping& main = f->roster->Mapping();
        main.setWindowState(maximized ? Qt::WindowMaximized : Qt::WindowNoState);
        main.resize(917, 478);
        QTRY_VERIFY(main.isVisible());
        QApplication::processEvents();
        // Named controls only (frames drawn around others excepted), compared with their siblings.
        QList<QWidget*> controls;
        for (QWidget* w : main.findChildren<QWidget*>())
            if (w->isVisible() && !w->objectName().isEmpty() &&
                !w->objectName().startsWith(QStringLiteral("Bevel")) &&
                !w->objectName().startsWith(QStringLiteral("qt_")))
                controls << w;
        QVERIFY(controls.size() > 40);
        for (QWidget* a : controls)
            for (QWidget* b : controls)
                if (a < b && a->parentWidget() == b->parentWidget())
                    QVERIFY2(!a->geometry().intersects(b->geometry()),
                             qPrintable(a->objectName() + QStringLiteral(" overlaps ") + b->objectName()));
    }
};

QV_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
