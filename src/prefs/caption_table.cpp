#include "prefs/caption_table.h"

#include "core/profile/profile_file.h"

namespace qv {

namespace {
using W = CaptionWindow;
using T = CaptionTarget;
using C = Compose;

// In the order of application: the status-bar panel is composed from its current text, so its
// first key comes before its second, and of two keys naming one item the later wins.
// One row per caption, however long.
// clang-format off
constexpr CaptionRow kCaptions[] = {
    {kTitleSection, "DefaultTitle", "Quorvane - Internet Port Mapping", W::Main, T::Title, nullptr, C::AsRead},
    {kTextSection, "UsersConnected2", "User(s) connected", W::Main, T::Control, "Panel2", C::Dot},
    {kTextSection, "LanguageFile", " Language File : ", W::Main, T::Control, "Panel2", C::PanelAppend},
    {kButtonsSection, "AdvancedOptions", "Advanced Options", W::Main, T::Control, "Button6", C::AsRead},
    {kButtonsSection, "MappingEnable1", "Enable", W::Main, T::Control, "MappingEnable", C::AsRead},
    {kButtonsSection, "MappingEnable2", "Enable", W::Main, T::Control, "MappingEnable2", C::AsRead},
    {kButtonsSection, "MappingEnable3", "Enable", W::Main, T::Control, "MappingEnable3", C::AsRead},
    {kButtonsSection, "MappingEnable4", "Enable", W::Main, T::Control, "MappingEnable4", C::AsRead},
    {kButtonsSection, "MappingEnable5", "Enable", W::Main, T::Control, "MappingEnable5", C::AsRead},
    {kButtonsSection, "MappingEnable6", "Enable", W::Main, T::Control, "MappingEnable6", C::AsRead},
    {kButtonsSection, "MappingDisable1", "Disable", W::Main, T::Control, "MappingDisable", C::AsRead},
    {kButtonsSection, "MappingDisable2", "Disable", W::Main, T::Control, "MappingDisable2", C::AsRead},
    {kButtonsSection, "MappingDisable3", "Disable", W::Main, T::Control, "MappingDisable3", C::AsRead},
    {kButtonsSection, "MappingDisable4", "Disable", W::Main, T::Control, "MappingDisable4", C::AsRead},
    {kButtonsSection, "MappingDisable5", "Disable", W::Main, T::Control, "MappingDisable5", C::AsRead},
    {kButtonsSection, "MappingDisable6", "Disable", W::Main, T::Control, "MappingDisable6", C::AsRead},
    {kButtonsSection, "MappingRemote", "Remote", W::Main, T::Control, "RemoteButton", C::AsRead},
    {kButtonsSection, "MappingLock", "Lock", W::Main, T::Control, "Button4", C::AsRead},
    {kButtonsSection, "MappingUnlock", "Unlock", W::Main, T::Control, "Button5", C::AsRead},
    {kButtonsSection, "MappingLoadConfig", "Load Configuration", W::Main, T::Control, "LoadIni", C::AsRead},
    {kButtonsSection, "MappingSaveConfig", "Save Changes", W::Main, T::Control, "SaveIni", C::AsRead},
    {kButtonsSection, "MappingDLogs", "Disable Logging", W::Main, T::Control, "DLogs", C::AsRead},
    {kButtonsSection, "MappingELogs", "Enable Logging", W::Main, T::Control, "ELogs", C::AsRead},
    {kButtonsSection, "MappingDisconnect", "Disconnect", W::Main, T::Control, "Button2", C::AsRead},
    {kButtonsSection, "MappingFirewallSettings", "Firewall Settings", W::Main, T::Control, "Button3", C::AsRead},
    {kButtonsSection, "MappingDisableAll", "Disabled All", W::Main, T::Control, "Button1", C::AsRead},
    {kButtonsSection, "MappingClearLogs", "Clear Logs Windows", W::Main, T::Control, "ClearLogs", C::AsRead},
    {kMenusSection, "MappingExit1", "Exit", W::Main, T::Item, "Exit1", C::AsRead},
    {kMenusSection, "MappingExit2", "Exit", W::Tray, T::Item, "Exit", C::AsRead},
    {kMenusSection, "MappingRestart1", "Restart", W::Main, T::Item, "Restart1", C::AsRead},
    {kMenusSection, "MappingRestart2", "Restart", W::Tray, T::Item, "Restart", C::AsRead},
    {kMenusSection, "MappingLock1", "Lock", W::Main, T::Item, "Lock1", C::AsRead},
    {kMenusSection, "MappingLock2", "Lock", W::Tray, T::Item, "Lock1", C::AsRead},
    {kMenusSection, "MappingUnlock1", "Unlock", W::Tray, T::Item, "Unlock1", C::AsRead},
    {kMenusSection, "MappingMinimize2", "Minimize", W::Tray, T::Item, "Minimize", C::AsRead},
    {kMenusSection, "MappingAbout1", "About", W::Main, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout2", "About", W::Tray, T::Item, "About3", C::AsRead},
    {kMenusSection, "MappingAbout3", "About", W::About, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout4", "About", W::Remote, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout5", "About", W::Advanced, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout6", "About", W::ChangesNews, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout7", "About", W::Lock, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout8", "About", W::Lock, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout9", "About", W::Remote, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout10", "About", W::Settings, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout11", "About", W::Unlock, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingAbout12", "About", W::Update, T::Item, "About2", C::AsRead},
    {kMenusSection, "MappingShow1", "Show", W::Tray, T::Item, "Show", C::AsRead},
    {kTitleSection, "MappingAbout1", "About", W::About, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingLock1", "Lock Password", W::Lock, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingUnlock1", "Unlock Password", W::Unlock, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingAdvanced1", "Advanced Options", W::Advanced, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingChangesNews1", "Changes/News", W::ChangesNews, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingRemote1", "Remote Settings & Remote Connections", W::Remote, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingSettings1", "Settings", W::Settings, T::Caption, nullptr, C::AfterTitle},
    {kTitleSection, "MappingUpdate1", "Update", W::Update, T::Caption, nullptr, C::AfterTitle},
    {kMenusSection, "MappingSave1", "Save Changes", W::Main, T::Item, "SaveIni2", C::AsRead},
    {kMenusSection, "MappingSaveAs1", "Save Configuration As", W::Main, T::Item, "SaveConfigurationAs1", C::AsRead},
    {kMenusSection, "MappingLoad1", "Load Configuration", W::Main, T::Item, "LoadIni2", C::AsRead},
    {kMenusSection, "MappingLoadFrom1", "Load Configuration From", W::Main, T::Item, "LoadConfigurationFrom1", C::AsRead},
    {kMenusSection, "MappingLoadOldFrom1", "Load A Older Configuration", W::Main, T::Item, "Loadaolderconfiguration1", C::AsRead},
    {kMenusSection, "MappingAdvancedOptions1", "Advanced Options", W::Main, T::Item, "AdvancedOptions1", C::AsRead},
    {kMenusSection, "MappingLanguage1", "Language", W::Main, T::Item, "Language1", C::AsRead},
    {kMenusSection, "MappingRemote1", "Remote", W::Main, T::Item, "Remote1", C::AsRead},
    {kMenusSection, "MappingSettings1", "Settings", W::Main, T::Item, "Settings1", C::AsRead},
    {kMenusSection, "MappingChangesNews1", "Changes/News", W::Main, T::Item, "ChangesNews1", C::AsRead},
    {kMenusSection, "MappingUpdate1", "Upgrades", W::Main, T::Item, "Checkfor1", C::AsRead},
    {kMenusSection, "MappingHelp1", "Help", W::Main, T::Item, "Help1", C::AsRead},
    {kTextSection, "Mapping1", "Mapping #1", W::Main, T::Control, "Label6", C::AsRead},
    {kTextSection, "Mapping2", "Mapping #2", W::Main, T::Control, "Label7", C::AsRead},
    {kTextSection, "Mapping3", "Mapping #3", W::Main, T::Control, "Label8", C::AsRead},
    {kTextSection, "Mapping4", "Mapping #4", W::Main, T::Control, "Label9", C::AsRead},
    {kTextSection, "Mapping5", "Mapping #5", W::Main, T::Control, "Label10", C::AsRead},
    {kTextSection, "Mapping6", "Mapping #6", W::Main, T::Control, "Label11", C::AsRead},
    {kTextSection, "MappingOptions", "Mapping Options", W::Main, T::Control, "Label4", C::AsRead},
    {kTextSection, "UsersConnected1", "User(s) Connected", W::Main, T::Control, "Label12", C::Colon},
    {kTextSection, "Note1", "Note : You need a restart to take the change in Incomming Port", W::Main, T::Control, "Label5", C::Dot},
    {kTextSection, "ConnectionsList", "Connections List (Logs)", W::Main, T::Control, "Connection", C::Colon},
    {kTextSection, "IncommingPort1", "Incomming Port", W::Main, T::Control, "Label1", C::Colon},
    {kTextSection, "OutcommingPort1", "Outcomming Port", W::Main, T::Control, "Label2", C::Colon},
    {kTextSection, "OutcommingIpAdress1", "Outcomming Ip Adress", W::Main, T::Control, "Label3", C::Colon},
    {kTextSection, "SaveConnectionsList1", "Save Connections List (Logs File) In The File CLogs.txt", W::Main, T::Control, "CheckBox1", C::Dot},
};
// clang-format on
} // namespace

std::span<const CaptionRow> CaptionTable() {
    return kCaptions;
}

std::string CaptionText(const std::string& languagePath, const CaptionRow& row) {
    // Language files hold plain text, not scrambled values.
    std::string text = ReadString(languagePath, row.section, row.key);
    return text.empty() ? std::string(row.builtIn) : text;
}

std::string ComposeCaption(const CaptionRow& row, const std::string& text, const std::string& title,
                           const std::string& current, const std::string& fileName) {
    switch (row.compose) {
    case Compose::AsRead:
        break;
    case Compose::Colon:
        return text + " :";
    case Compose::Dot:
        return text + ".";
    case Compose::AfterTitle:
        return title + " - " + text;
    case Compose::PanelAppend:
        return current + " " + text + " " + fileName + ".";
    }
    return text;
}

} // namespace qv
