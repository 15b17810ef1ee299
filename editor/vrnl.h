#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <string>

#include "editor/optionplaces.h"
#include "options/bootoptions.h"

class CheckBox;
class SSCommand;
class SSPanel;
class SpinButton;
class StatusBar;
class TextField;

// The main window: a check box for each on/off option, a numeric row for each number,
// three command buttons and the status line. It alone holds the options between loading and saving.
class VRNL : public QWidget {
    Q_OBJECT
public:
    // The window over the boot drive whose root is bootPath ("C:\" or "d:\", as messages
    // show it); InfoAbout calls openInformation with the window, to open the information
    // window over it modally.
    VRNL(std::string bootPath, std::function<void(QWidget* owner)> openInformation);

    // Load handler, run once before the window is first shown: centre, read msdos.sys,
    // check for an earlier MS-DOS, show the values.
    void Load();
    // The desktop session is ending: ask without Cancel when the session manager lets us
    // ask, then close whatever the answer.
    void EndSession(bool mayAsk);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Copies Options into the check boxes and text fields.
    void ShowOptions();
    // Close-request handler; true vetoes the close.
    bool SaveOnClose(bool endingSession);

    // The controls, in the order they are stacked: frames below what they frame.
    void CreateFrames();
    void CreateBoxes();
    void CreateCommands();
    void CreateFieldRows();
    void CreateStatusLine();
    void SetTabOrder();
    void ConnectHandlers();

    // The option row of Check(index).
    static const OptionKey& BoxOption(int index);
    // The first check box whose option has this role.
    CheckBox* BoxWithRole(OptionRole role) const;

    // What the user does:
    void CheckClick(int index);
    void TextChange(int index);
    void TextLostFocus(int index);
    void SpinStep(int index, int step);
    void InfoAboutClick();
    void DefaultSettingsClick();
    void ExitVRNLClick();

    // Status-line help for each kind of control; the surfaces without help set "".
    void CheckMouseMove(int index);
    void TextMouseMove(int index);
    void CommandMouseMove(const SSCommand* command);
    void ClearHelp();

    // The close request's question, once the field being edited is left.
    bool AskToSave(bool endingSession);

    const std::string BootPath;
    const std::function<void(QWidget*)> openInformation_;
    BootOptions Options;
    bool UserEditing = true;

    // Controls, indexed as designed: Check(1..12) (index 0 unused), Text/Spin/SSPanel6(0..2).
    std::array<CheckBox*, BoxPlaces.size() + 1> Check{};
    std::array<TextField*, FieldPlaces.size()> Text{};
    std::array<SpinButton*, FieldPlaces.size()> Spin{};
    std::array<SSPanel*, FieldPlaces.size()> SSPanel6{};
    SSPanel* SSPanel1;
    SSPanel* SSPanel2;
    SSPanel* SSPanel3;
    SSPanel* SSPanel4;
    SSPanel* SSPanel5;
    SSCommand* InfoAbout;
    SSCommand* DefaultSettings;
    SSCommand* ExitVRNL;
    StatusBar* FastHelp;

    bool sessionEnding_ = false;
};
