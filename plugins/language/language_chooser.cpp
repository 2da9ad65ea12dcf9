// The language plug-in: a small dialog listing the language files beside the program. The choice
// is stored in the program's configuration and shows at its next start.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QVBoxLayout>
#include <dlfcn.h>
#include <exception>
#include <string>

#include "core/profile/config_names.h"
#include "platform/file_locations.h"
#include "prefs/language_choice.h"

extern "C" __attribute__((visibility("default"))) void Creer_Form();

namespace {

// Texts on the heap: a string literal's data would vanish with the library when the program
// unloads it, while a copy of the text may still be held on the other side.
QString Text(const char* text) {
    return QString::fromLatin1(text);
}

// The folder this library was loaded from, which is the program's own; with a trailing separator.
std::string OwnFolder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&Creer_Form), &info) == 0 || !info.dli_fname)
        return {};
    const std::string path = info.dli_fname;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

void AddLanguage(QListWidget* list, const QString& caption, const QString& fileName, const QString& current) {
    auto* item = new QListWidgetItem(caption, list);
    item->setData(Qt::UserRole, fileName);
    if (fileName == current)
        list->setCurrentItem(item);
}

void ChooseLanguage() {
    const std::string folder = OwnFolder();
    // The configuration is wherever the program beside this library keeps its writable files.
    const std::string configPath = qv::WritableDirFor(folder) + qv::kConfigFileName;
    const QString current = QFile::decodeName(qv::ChosenLanguageFile(configPath).c_str());

    QDialog dialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    dialog.setObjectName(Text("LanguageChooser"));
    dialog.setWindowTitle(Text("Quorvane - Internet Port Mapping - Language"));
    dialog.setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(Text("Choose the language of Quorvane :"), &dialog));
    auto* list = new QListWidget(&dialog);
    list->setObjectName(Text("Languages"));
    AddLanguage(list, Text("English (built-in)"), QString(), current);
    const QDir dir(QFile::decodeName(folder.c_str()));
    const QString pattern = Text("*") + QString::fromLatin1(qv::kLanguageFileSuffix);
    for (const QFileInfo& file : dir.entryInfoList({pattern}, QDir::Files | QDir::Readable, QDir::Name))
        AddLanguage(list, file.completeBaseName(), file.fileName(), current);
    if (!list->currentItem())
        list->setCurrentRow(0);
    layout->addWidget(list);
    layout->addWidget(new QLabel(Text("The new language shows at the next start of Quorvane."), &dialog));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->setObjectName(Text("Buttons"));
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);

    if (dialog.exec() != QDialog::Accepted || !list->currentItem())
        return;
    const QString chosen = list->currentItem()->data(Qt::UserRole).toString();
    try {
        qv::StoreLanguageChoice(configPath, QFile::encodeName(chosen).toStdString());
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, Text("Quorvane - Internet Port Mapping"),
                              QString::fromLocal8Bit(error.what()));
    }
}

} // namespace

// Called without arguments on the program's user-interface thread; nothing may escape into it.
extern "C" void Creer_Form() {
    try {
        ChooseLanguage();
    } catch (...) {
    }
}
