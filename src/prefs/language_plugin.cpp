#include "prefs/language_plugin.h"

#include <QAction>
#include <QFileInfo>

#include "platform/platform.h"
#include "shell/roster.h"

namespace qv {

namespace {
constexpr const char* kPluginFile = "Language.dll";
constexpr const char* kPluginEntry = "Creer_Form";
constexpr const char* kPluginErrorTitle = "Quorvane Plug-ins Error";
constexpr const char* kPluginDownload = "https://www.quorvane.example/download/Language.zip";
} // namespace

void RunLanguagePlugin(TRoster& roster, QAction* language1) {
    Platform& platform = roster.platform();
    const QString title = QString::fromLatin1(kPluginErrorTitle);
    // Loaded by its full path, so only the file beside the executable can answer.
    const QString path = platform.DataDir() + QString::fromLatin1(kPluginFile);
    if (QFileInfo::exists(path)) {
        const LibraryCall call = platform.CallLibraryProcedure(path, kPluginEntry);
        if (call.outcome == LibraryCall::NotALibrary)
            platform.Error(title, QStringLiteral("The plug-ins Language.dll in your Quorvane - Internet Port "
                                                 "Mapping directory is damaged or is not a library.\n") +
                                      call.detail);
        else if (call.outcome == LibraryCall::LoadFailed)
            platform.Error(title, QStringLiteral("Cannot load the plug-ins Language.dll from your Quorvane - "
                                                 "Internet Port Mapping directory.\n") +
                                      call.detail);
        else if (call.outcome == LibraryCall::SymbolMissing)
            platform.Error(title, QStringLiteral("The plug-ins Language.dll in your Quorvane - Internet Port "
                                                 "Mapping directory has no entry Creer_Form."));
        return;
    }
    language1->setEnabled(false);
    platform.Error(title, QStringLiteral("Cannot find the plug-ins Language.dll in your Quorvane - Internet "
                                         "Port Mapping directory."));
    if (platform.Question(QStringLiteral("Do you want download the plug-ins from Quorvane Web Site?")))
        platform.OpenUrl(QString::fromLatin1(kPluginDownload));
    language1->setEnabled(true);
}

} // namespace qv
