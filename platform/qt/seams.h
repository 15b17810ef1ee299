#pragma once

// Where tests stand in for the user and for the system the program runs on. The program
// itself never calls these. This file includes nothing of the layer, so that the layer's
// files may include it.

#include <QString>
#include <cstdint>
#include <functional>

enum class MessageButtons;
enum class MessageIcon;
enum class MessageAnswer;

// A message box as the program asked for it.
struct MessageBoxRequest {
    QString text;
    QString title;
    MessageButtons buttons;
    MessageIcon icon;
    MessageAnswer defaultButton;
};

// While set, answers every message box in place of a QMessageBox; empty restores the real one.
using MessageBoxHandler = std::function<MessageAnswer(const MessageBoxRequest&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// How many times Beep() has sounded in this process.
int BeepCount();

// Makes GetVersion report another version; Windows 95's until then.
void SetReportedVersion(uint32_t version);
