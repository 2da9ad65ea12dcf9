#pragma once

#include <QLineEdit>
#include <QString>
#include <string>
#include <vector>

namespace qv {

class TRoster;

// The edits whose texts a configuration stores: the grid of the main window, the advanced options
// and the remote fields, listed once when every window exists. Save, load and the remote exchange
// reach them here by the names the file and peers use, never by searching the windows.
class TStoredFields {
public:
    enum Group { kMain = 1, kAdvanced = 2, kRemote = 4 };
    struct Field {
        Group group;
        const char* section;
        QString key; // also the edit's objectName
        QLineEdit* edit;
    };

    explicit TStoredFields(const TRoster& roster);

    // A current file is written and read remote, advanced, main; an old one is read main,
    // advanced, remote.
    std::vector<Field> InFileOrder(bool oldFile) const;
    // The edit stored under key in one of groups (a mask of Group values), else null.
    QLineEdit* Find(const std::string& key, int groups) const;

private:
    std::vector<Field> fields_; // remote, advanced, main
};

} // namespace qv
