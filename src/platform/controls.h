#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string>

namespace qv {

// Controls carry their program name as objectName; the hint is "short|long" (none when null).
QPushButton* NewButton(QWidget* parent, const QString& name, const char* caption, const char* hint = nullptr);
QLabel* NewLabel(QWidget* parent, const QString& name, const char* caption, const char* hint = nullptr);
// An edit for stored text: it refuses characters beyond Latin-1. maxLength 0 means no limit.
QLineEdit* NewEdit(QWidget* parent, const QString& name, const char* text, const char* hint,
                   int maxLength = 0);
// Hides what is typed behind "*", one for each character, whatever the style would draw.
void MakePasswordEdit(QLineEdit* edit);

// Adds `delta` to the number a count label shows. A connection counted before a switch-off may end
// after the count was reset, so the count never goes below zero.
void AddToCount(QLabel* count, int delta);

} // namespace qv
