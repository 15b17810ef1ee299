#pragma once

#include <QString>

enum class MessageButtons { Ok, YesNo, YesNoCancel };
enum class MessageIcon { Exclamation, Question, Information };
enum class MessageAnswer { Ok, Yes, No, Cancel };

// The program's modal message box, titled "Varnello"; by default a warning with OK.
// Closing it by its title bar answers Cancel where there is one, otherwise No, otherwise OK.
MessageAnswer ShowMessageBox(const QString& text, MessageButtons buttons = MessageButtons::Ok,
                             MessageIcon icon = MessageIcon::Exclamation,
                             MessageAnswer defaultButton = MessageAnswer::Ok);
