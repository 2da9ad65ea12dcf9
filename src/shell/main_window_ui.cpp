// Construction of the main window's controls, menu, status bar and timers.
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QVBoxLayout>

#include "config/configuration_commands.h"
#include "info/changes_news_window.h"
#include "lock/lock_window.h"
#include "lock/unlock_window.h"
#include "log/connection_log.h"
#include "mapping/advanced_window.h"
#include "mapping/mapping_slot.h"
#include "platform/app_title.h"
#include "platform/controls.h"
#include "platform/error_report.h"
#include "platform/hint.h"
#include "prefs/settings_window.h"
#include "remote/remote_window.h"
#include "service/mapping_service.h"
#include "shell/image_list.h"
#include "shell/main_window.h"
#include "shell/roster.h"
#include "shell/visibility.h"

namespace qv {

namespace {

struct MenuItem {
    const char* name;
    const char* caption;
    QKeyCombination shortcut;
    int image;
    const char* hint;
};

QAction* AddItem(QMenu* menu, const MenuItem& item) {
    QAction* action = menu->addAction(QString::fromLatin1(item.caption));
    action->setObjectName(QString::fromLatin1(item.name));
    if (item.shortcut.key() != Qt::Key_unknown)
        action->setShortcut(QKeySequence(item.shortcut));
    if (item.image >= 0)
        action->setIcon(ImageListIcon(item.image));
    if (item.hint)
        SetHint(action, item.hint);
    return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption, const char* hint) {
    QMenu* menu = bar->addMenu(QString::fromLatin1(caption));
    menu->setObjectName(QString::fromLatin1(name));
    menu->menuAction()->setObjectName(QString::fromLatin1(name));
    SetHint(menu->menuAction(), hint);
    return menu;
}

QAction* AddSeparator(QMenu* menu, const char* name) {
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QString::fromLatin1(name));
    return separator;
}

constexpr QKeyCombination kNone = QKeyCombination(Qt::Key_unknown);
// `more`: Ctrl+Shift where plain Ctrl on that letter is a text field's editing key (Ctrl+K deletes to the
// end of the line).
constexpr QKeyCombination Ctrl(Qt::Key key, Qt::KeyboardModifier more = Qt::NoModifier) {
    return QKeyCombination(Qt::ControlModifier | more, key);
}

} // namespace

void TQuorvaneMapping::BuildControls() {
    // On a screen smaller than the layout (a small laptop at 125 %), the window's content scrolls
    // instead of leaving mapping #6 and the log buttons out of reach; on a larger one it fills the
    // window and no scroll bar shows.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* central = new QWidget(scroll);
    central->setObjectName(QStringLiteral("Central"));
    scroll->setWidget(central);
    setCentralWidget(scroll);

    // The mapping grid inside its frame.
    auto* bevel1 = new QFrame(central);
    bevel1->setObjectName(QStringLiteral("Bevel1"));
    bevel1->setFrameShape(QFrame::StyledPanel);
    auto* gridBox = new QVBoxLayout(bevel1);
    QLabel* heading = NewLabel(bevel1, "Label4", "Mapping Options");
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    gridBox->addWidget(heading);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(4);
    grid->addWidget(NewLabel(bevel1, "Label1", "Incomming Port :"), 1, 0);
    grid->addWidget(NewLabel(bevel1, "Label2", "Outcomming Port :"), 2, 0);
    grid->addWidget(NewLabel(bevel1, "Label3", "Outcomming Ip Adress :"), 3, 0);
    grid->addWidget(NewLabel(bevel1, "Label12", "User(s) Connected :"), 5, 0);
    for (int number = 1; number <= 6; ++number) {
        TMappingSlot* slot = slots_[number - 1] = new TMappingSlot(number, roster_, bevel1, grid);
        connect(slot, &TMappingSlot::Switched, this, &TQuorvaneMapping::UpdateDisabledAll);
        connect(slot, &TMappingSlot::CountChanged, this, &TQuorvaneMapping::AddToTotal);
        grid->setColumnStretch(number, 1);
    }
    gridBox->addLayout(grid);

    QLabel* note =
        NewLabel(central, "Label5", "Note : You need a restart to take the change in Incomming Port .");
    note->setStyleSheet(QStringLiteral("color: red;"));

    button6_ = NewButton(central, "Button6", "Advanced Options", "AvdancedOptions|Advanced Options");
    loadIni_ = NewButton(central, "LoadIni", "Load Configuration",
                         "Load Configurations|Load Configurations from DataQRVN.qrvd");
    saveIni_ = NewButton(central, "SaveIni", "Save Changes",
                         "Save Configurations|Save Configurations on DataQRVN.qrvd");
    remoteButton_ =
        NewButton(central, "RemoteButton", "Remote", "Remote|Remote Settings & Remote Connections");
    button4_ = NewButton(central, "Button4", "Lock", "Lock|Lock all options with password. ");
    button5_ = NewButton(central, "Button5", "Unlock", "Unlock|Unlock all options with password. ");
    button1_ = NewButton(central, "Button1", "Disabled All", nullptr);
    QPushButton* button3 = NewButton(central, "Button3", "Firewall Settings", nullptr);
    for (QPushButton* button : {loadIni_, saveIni_, button5_, button1_, button3})
        button->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button :
         {button6_, loadIni_, saveIni_, remoteButton_, button4_, button5_, button1_, button3})
        buttons->addWidget(button);
    buttons->addStretch();

    log_ = new TConnectionLog(platform_, *service_, central);

    // Hidden members read by the remote administration.
    version_ = NewLabel(central, "Version", kVersionText);
    version_->hide();
    auto* buffer1 = buffer1_ = new QPlainTextEdit(central);
    buffer1->setObjectName(QStringLiteral("Buffer1"));
    buffer1->setGeometry(0, 0, 1, 1);
    buffer1->setEnabled(false);
    buffer1->hide();

    auto* layout = new QVBoxLayout(central);
    layout->addWidget(bevel1);
    layout->addWidget(note);
    layout->addLayout(buttons);
    layout->addWidget(log_, 1);

    OnSignal(button6_, &QPushButton::clicked, this, platform_, [this] { ShowModal(&roster_.MappingPlus()); });
    OnSignal(remoteButton_, &QPushButton::clicked, this, platform_, [this] { ShowModal(&roster_.Remote()); });
    OnSignal(button4_, &QPushButton::clicked, this, platform_, [this] { ShowModal(&roster_.Lock()); });
    OnSignal(button5_, &QPushButton::clicked, this, platform_, [this] { ShowModal(&roster_.Unlock()); });
    OnSignal(button1_, &QPushButton::clicked, this, platform_, [this] { Button1Click(); });
    OnSignal(loadIni_, &QPushButton::clicked, this, platform_, [this] { commands_->LoadConfiguration(); });
    OnSignal(saveIni_, &QPushButton::clicked, this, platform_, [this] { commands_->SaveChanges(); });
}

void TQuorvaneMapping::KeepLayoutWhereTheScreenHoldsIt() {
    // The window may not shrink below its layout, as far as the screen has room for it: only on a
    // smaller screen does the content scroll.
    auto* scroll = static_cast<QScrollArea*>(centralWidget());
    QSize room = scroll->widget()->minimumSizeHint();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        room = room.boundedTo(screen->availableGeometry().size() -
                              QSize(0, menuBar()->sizeHint().height() + statusBar()->sizeHint().height()));
    scroll->setMinimumSize(room);
}

void TQuorvaneMapping::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = AddMenu(bar, "File1", "File", "File|File");
    saveIni2_ = AddItem(file, {"SaveIni2", "Save Changes", Ctrl(Qt::Key_S), 8,
                               "Save Configurations|Save Configurations on DataQRVN.qrvd"});
    loadIni2_ = AddItem(file, {"LoadIni2", "Load Configuration", Ctrl(Qt::Key_O), 7,
                               "Load Configurations|Load Configurations from DataQRVN.qrvd"});
    saveIni2_->setEnabled(false);
    loadIni2_->setEnabled(false);
    QAction* saveAs = AddItem(file, {"SaveConfigurationAs1", "Save Configuration As", Ctrl(Qt::Key_T), 8,
                                     "SaveConfigurationAs|Save Configuration As..."});
    QAction* loadFrom = AddItem(file, {"LoadConfigurationFrom1", "Load Configuration From", Ctrl(Qt::Key_G),
                                       7, "LoadConfigurationFrom|Load Configuration From..."});
    QAction* loadOlder =
        AddItem(file, {"Loadaolderconfiguration1", "Load A Older Configuration", Ctrl(Qt::Key_H), 7,
                       "LoadConfigurationFrom|Load Configuration From..."});
    fileItems_ = {saveAs, loadFrom, loadOlder};
    AddSeparator(file, "N1");
    lock1_ = AddItem(file, {"Lock1", "Lock", Ctrl(Qt::Key_L), 21, nullptr});
    AddSeparator(file, "N2");
    minimize2_ = AddItem(file, {"Minimize2", "Minimize", kNone, -1, "Minimize|Minimize to system tray"});
    restart1_ = AddItem(file, {"Restart1", "Restart", kNone, -1, "Restart|Restart Application"});
    exit1_ = AddItem(file, {"Exit1", "Exit", kNone, 16, "Exit|Exit Application"});

    QMenu* options = AddMenu(bar, "Options1", "Options", "Options|Options");
    QAction* advanced = AddItem(options, {"AdvancedOptions1", "Advanced Options", Ctrl(Qt::Key_P), -1,
                                          "AvdancedOptions|Advanced Options"});
    language1_ = AddItem(options, {"Language1", "Language", Ctrl(Qt::Key_U), -1, nullptr});
    QAction* remote1 = AddItem(
        options, {"Remote1", "Remote", Ctrl(Qt::Key_B), -1, "Remote|Remote Settings & Remote Connections "});
    QAction* settings1 = AddItem(options, {"Settings1", "Settings", Ctrl(Qt::Key_E), -1, nullptr});
    QAction* connections1 =
        AddItem(options, {"Connections1", "Connections", Ctrl(Qt::Key_K, Qt::ShiftModifier), -1,
                          "Connections|Every connection of the mappings, live and ended"});
    QAction* mappingRules1 =
        AddItem(options, {"MappingRules1", "Mapping Rules", Ctrl(Qt::Key_R), -1,
                          "Mapping Rules|Where each mapping listens, who may connect, limits and fallbacks"});

    QMenu* help = AddMenu(bar, "About1", "Help", "Help|Help");
    QAction* about2 = AddItem(help, {"About2", "About", Ctrl(Qt::Key_A), 17, "About|About"});
    QAction* changesNews1 = AddItem(help, {"ChangesNews1", "Changes/News", Ctrl(Qt::Key_N), 10, nullptr});
    QAction* checkfor1 =
        AddItem(help, {"Checkfor1", "Upgrades", kNone, 19, "Upgrades|Check the latest version"});
    AddItem(help, {"Help1", "Help", kNone, 18, "Help|Help"})->setEnabled(false);

    OnSignal(saveIni2_, &QAction::triggered, this, platform_, [this] { commands_->SaveChanges(); });
    OnSignal(loadIni2_, &QAction::triggered, this, platform_, [this] { commands_->LoadConfiguration(); });
    OnSignal(saveAs, &QAction::triggered, this, platform_, [this] { commands_->SaveConfigurationAs(); });
    OnSignal(loadFrom, &QAction::triggered, this, platform_, [this] { commands_->LoadConfigurationFrom(); });
    OnSignal(loadOlder, &QAction::triggered, this, platform_,
             [this] { commands_->LoadOlderConfiguration(); });
    OnSignal(lock1_, &QAction::triggered, this, platform_, [this] { ShowModal(&roster_.Lock()); });
    OnSignal(minimize2_, &QAction::triggered, this, platform_, [this] { Minimize2Click(); });
    OnSignal(restart1_, &QAction::triggered, this, platform_, [this] { Restart1Click(); });
    OnSignal(exit1_, &QAction::triggered, this, platform_, [this] { Exit1Click(); });
    OnSignal(advanced, &QAction::triggered, this, platform_, [this] { ShowModal(&roster_.MappingPlus()); });
    OnSignal(language1_, &QAction::triggered, this, platform_, [this] { Language1Click(); });
    OnSignal(remote1, &QAction::triggered, this, platform_, [this] { ShowModal(&roster_.Remote()); });
    OnSignal(settings1, &QAction::triggered, this, platform_, [this] { ShowModal(&roster_.Settings()); });
    OnSignal(connections1, &QAction::triggered, this, platform_, [this] { ShowConnectionsWindow(roster_); });
    OnSignal(mappingRules1, &QAction::triggered, this, platform_, [this] { roster_.ShowMappingRules(0); });
    OnSignal(about2, &QAction::triggered, this, platform_, [this] { About2Click(); });
    OnSignal(changesNews1, &QAction::triggered, this, platform_,
             [this] { ShowModal(&roster_.ChangesNews()); });
    OnSignal(checkfor1, &QAction::triggered, this, platform_, [this] { Checkfor1Click(); });
}

void TQuorvaneMapping::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    const struct {
        const char* text;
        int width;
    } panels[] = {{"No information", 325}, {"0", 100}, {"User(s) connected.", 200}};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(QString::fromLatin1(panels[i].text), bar);
        panel->setObjectName(QStringLiteral("Panel%1").arg(i));
        panel->setFixedWidth(panels[i].width);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        panels_[i] = panel;
    }
}

void TQuorvaneMapping::BuildTimers() {
    // Timer1 and Timer2 are the timed mapping's clock, which the mapping service runs.
    const int intervals[8] = {0, 0, 9, 9500, 1, 1, 1, 1};
    for (int i = 0; i < 2; ++i)
        timers_[i] = service_->Clock(i + 1);
    for (int i = 2; i < 8; ++i)
        timers_[i] = new UiTimer(QStringLiteral("Timer%1").arg(i + 1), intervals[i], this);
    const std::array<void (TQuorvaneMapping::*)(), 8> ticks = {nullptr,
                                                               nullptr,
                                                               &TQuorvaneMapping::Timer3Timer,
                                                               &TQuorvaneMapping::Timer4Timer,
                                                               &TQuorvaneMapping::Timer5Timer,
                                                               &TQuorvaneMapping::Timer6Timer,
                                                               &TQuorvaneMapping::Timer7Timer,
                                                               &TQuorvaneMapping::Timer8Timer};
    for (int i = 2; i < 8; ++i) {
        UiTimer* timer = timers_[i];
        const auto tick = ticks[i];
        OnSignal(timer, &UiTimer::Tick, this, platform_, [this, timer, tick] {
            timer->SetEnabled(false);
            if (tick)
                (this->*tick)();
        });
    }
}

} // namespace qv
