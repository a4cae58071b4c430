#pragma once
// Where the window's modal messages go. The program shows message boxes;
// tests put a recorder in their place so that nothing blocks.

#include <QString>
#include <functional>

class QWidget;

enum class TMessageKind { Error, Warning };

using TMessageSink =
    std::function<void(QWidget* aParent, TMessageKind aKind, const QString& aCaption, const QString& aText)>;

// A modal box: an error box with an error icon, or a warning box with one OK button.
void ShowMessageBox(QWidget* aParent, TMessageKind aKind, const QString& aCaption, const QString& aText);
