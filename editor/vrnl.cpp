#include "editor/vrnl.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QSessionManager>
#include <QToolButton>

#include "editor/fieldnumber.h"
#include "options/loading.h"
#include "options/rules.h"
#include "options/saving.h"
#include "platform/qt/controls.h"
#include "platform/qt/twips.h"
#include "platform/qt/ui.h"

namespace {

struct CheckDesign {
    const char* caption;
    int top;
    int width;
    const char* help;  // on the status line while the pointer is over the box
};

// Check(1..12); index 0 unused. All at Left 240, 255 high.
constexpr std::array<CheckDesign, 13> CheckDesigns{{
    {nullptr, 0, 0, nullptr},
    {"Show Startup Menu", 240, 1815, "Enables automatic display of the Windows 95 Startup menu."},
    {"Enable Dual Boot", 600, 1575,
     "Enables dual-boot capabilities. Checking this box enables the ability to start MS-DOS."},
    {"Enable Startup Keys (F-Keys)", 960, 2535, "Enables the startup option keys."},
    {"Load Components at Top of 640K", 1320, 2775,
     "Enables loading of COMMAND.COM or DRVSPACE.BIN at the top of 640K memory."},
    {"Boot Windows 95 as Default OS", 1680, 2655, "Enables Windows 95 as the default operating system."},
    {"Boot Safe Mode Warning", 2040, 2175, "Enables the Safe Mode startup warning."},
    {"Load Startup Logo", 2400, 1695, "Enables display of the animated logo."},
    {"Load the Windows GUI as Default", 2760, 2775, "Enables automatic graphical startup into Windows 95."},
    {"Autoload DriveSpace Driver", 3120, 2415, "Enables automatic loading of DRVSPACE.BIN."},
    {"Autoload DoubleSpace Driver", 3480, 2535, "Enables automatic loading of DBLSPACE.BIN."},
    {"Enable Network Support", 3840, 2175, "Enables Safe Mode With Networking as a menu option."},
    {"Enable Double-Buffering", 4200, 2175, "Enables loading of a double-buffering driver for a SCSI controller."},
}};

// Text(i) and its label SSPanel6(i) explain the same option.
constexpr std::array<const char*, 3> RowHelp{
    "Sets the initial startup delay to n seconds.",
    "Sets the number of seconds to display the Windows Startup menu.",
    "Sets the default menu item on the Windows Startup menu.",
};

// Numeric rows are 480 twips apart from this top.
constexpr int FirstRowTop = 3120;

void Place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(PixelRect(left, top, width, height));
}

// Array elements are named as "Check(5)", "Text(0)".
QString ElementName(const char* array, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(array)).arg(index);
}

SSPanel* Frame(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* panel = new SSPanel(parent);
    panel->setObjectName(QLatin1String(name));
    Place(panel, left, top, width, height);
    return panel;
}

// A command button sits 75 twips inside its frame, which shows as an even bevel round it.
// Its help, for the status line and screen readers, is its accessible description.
SSCommand* Command(QWidget* parent, const char* name, const SSPanel* frame, const char* caption, int width,
                   int height, const QFont& font, const char* help)
{
    auto* command = new SSCommand(parent, QString::fromLatin1(caption));
    command->setObjectName(QLatin1String(name));
    command->setAccessibleDescription(QString::fromLatin1(help));
    Place(command, Twips(frame->x()) + 75, Twips(frame->y()) + 75, width, height);
    command->setFont(font);
    QPalette palette = command->palette();
    palette.setColor(QPalette::ButtonText, Qt::black);
    command->setPalette(palette);
    return command;
}

// Every message box of the window is titled "Varnello".
MessageAnswer Message(const QString& text, MessageButtons buttons, MessageIcon icon, MessageAnswer defaultButton)
{
    return ShowMessageBox(text, buttons, icon, defaultButton, QStringLiteral("Varnello"));
}

// A message from the option layer, with OK and the exclamation icon.
void Warn(const std::string& text)
{
    Message(QString::fromStdString(text), MessageButtons::Ok, MessageIcon::Exclamation, MessageAnswer::Ok);
}

}  // namespace

VRNL::VRNL(std::string bootPath, std::function<void(QWidget*)> openInformation)
    : BootPath(std::move(bootPath)), openInformation_(std::move(openInformation))
{
    setObjectName(QStringLiteral("VRNL"));
    setWindowTitle(QStringLiteral("Varnello"));
    setWindowIcon(QIcon(QStringLiteral(":/varnello.ico")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(Pixels(6390), Pixels(5055));
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    CreateControls();
    ConnectHandlers();
}

void VRNL::CreateControls()
{
    // Frames first, so that the controls they frame lie above them.
    SSPanel1 = Frame(this, "SSPanel1", 120, 120, 3015, 4455);
    SSPanel2 = Frame(this, "SSPanel2", 3360, 480, 1695, 1095);
    SSPanel4 = Frame(this, "SSPanel4", 5160, 480, 1095, 1095);
    SSPanel3 = Frame(this, "SSPanel3", 3480, 1800, 2655, 735);
    SSPanel5 = Frame(this, "SSPanel5", 3360, 3000, 2895, 1575);

    const QFont boxFont = DesignFont("MS Sans Serif", 8.25);
    for (int i = 1; i <= 12; ++i) {
        Check[i] = new CheckBox(this, QString::fromLatin1(CheckDesigns[i].caption));
        Check[i]->setObjectName(ElementName("Check", i));
        Place(Check[i], 240, CheckDesigns[i].top, CheckDesigns[i].width, 255);
        Check[i]->setFont(boxFont);
        Check[i]->setAccessibleDescription(QString::fromLatin1(CheckDesigns[i].help));
    }
    // The compressed-drive drivers stand out in red: switching them off needs care.
    for (int i : {9, 10}) {
        QPalette palette = Check[i]->palette();
        palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
        Check[i]->setPalette(palette);
    }

    InfoAbout = Command(this, "InfoAbout", SSPanel2, "Info About...", 1545, 945, DesignFont("Arial", 12, true, true),
                        "Display the information dialog box");
    InfoAbout->setIcon(QIcon(QStringLiteral(":/varnello.ico")));
    InfoAbout->setIconSize(QSize(32, 32));
    ExitVRNL = Command(this, "ExitVRNL", SSPanel4, "Exit", 945, 945, DesignFont("Arial", 18, true), "Exit 'Varnello'");
    ExitVRNL->setIcon(QIcon(QStringLiteral(":/exit.ico")));
    ExitVRNL->setIconSize(QSize(32, 32));
    DefaultSettings = Command(this, "DefaultSettings", SSPanel3, "Default Settings", 2505, 585,
                              DesignFont("Arial", 14.25, true, true), "Restore the original Windows 95 configuration");

    const QFont fieldFont = DesignFont("Arial", 8.25);
    const QFont labelFont = DesignFont("MS Sans Serif", 8.25);
    for (int i = 0; i < 3; ++i) {
        const NumericRow& row = NumericRows[i];
        const int top = FirstRowTop + 480 * i;
        const QString caption = QString::fromLatin1(row.caption);
        const QString help = QString::fromLatin1(RowHelp[i]);
        Text[i] = new TextField(this, row.typedLength);
        Text[i]->setObjectName(ElementName("Text", i));
        Place(Text[i], 3480, top, 375, 315);
        Text[i]->setFont(fieldFont);
        // Named by its label, which a screen reader cannot tie to it by place.
        Text[i]->setAccessibleName(caption);
        Text[i]->setAccessibleDescription(help);
        Spin[i] = new SpinButton(this, row.repeatDelayMs);
        Spin[i]->setObjectName(ElementName("Spin", i));
        Place(Spin[i], 3855, top, 165, 315);
        const QString option = caption.section(QStringLiteral(" ("), 0, 0);  // "Boot Delay"
        Spin[i]->setAccessibleName(option);
        Spin[i]->upArrow()->setAccessibleName(option + QStringLiteral(" up"));
        Spin[i]->downArrow()->setAccessibleName(option + QStringLiteral(" down"));
        SSPanel6[i] = new SSPanel(this, caption);
        SSPanel6[i]->setObjectName(ElementName("SSPanel6", i));
        Place(SSPanel6[i], 4080, top, 2055, 315);
        SSPanel6[i]->setFont(labelFont);
        SSPanel6[i]->setFrameShadow(QFrame::Sunken);
        SSPanel6[i]->setLineWidth(1);
        SSPanel6[i]->setAccessibleDescription(help);
    }

    FastHelp = new StatusBar(this);
    FastHelp->setObjectName(QStringLiteral("FastHelp"));
    Place(FastHelp, 0, 4680, 6390, 375);
    FastHelp->setFont(DesignFont("MS Sans Serif", 8.25));

    // Keyboard order: boxes, command buttons, fields; frames and the status line never
    // take focus, nor do the spin buttons.
    QWidget* previous = Check[1];
    for (QWidget* next : std::initializer_list<QWidget*>{
             Check[2], Check[3], Check[4], Check[5], Check[6], Check[7], Check[8], Check[9], Check[10],
             Check[11], Check[12], InfoAbout, DefaultSettings, ExitVRNL, Text[0], Text[1], Text[2]}) {
        setTabOrder(previous, next);
        previous = next;
    }
    Check[1]->setFocus();
}

void VRNL::ConnectHandlers()
{
    for (int i = 1; i <= 12; ++i) {
        // toggled, not stateChanged: a box set again from inside its own click (the compressed-drive
        // No) must report that change too, or the box and its option drift apart.
        connect(Check[i], &QAbstractButton::toggled, this, [this, i] { CheckClick(i); }, Qt::DirectConnection);
        connect(Check[i], &CheckBox::pointerMoved, this, [this, i] { CheckMouseMove(i); });
    }
    for (int i = 0; i < 3; ++i) {
        connect(Text[i], &QLineEdit::textChanged, this, [this, i] { TextChange(i); }, Qt::DirectConnection);
        connect(Text[i], &TextField::focusLost, this, [this, i] { TextLostFocus(i); });
        connect(Text[i], &TextField::pointerMoved, this, [this, i] { TextMouseMove(i); });
        connect(SSPanel6[i], &SSPanel::pointerMoved, this, [this, i] { TextMouseMove(i); });
        connect(Spin[i], &SpinButton::spinUp, this, [this, i] { SpinStep(i, +1); });
        connect(Spin[i], &SpinButton::spinDown, this, [this, i] { SpinStep(i, -1); });
        connect(Text[i], &TextField::stepKey, this, [this, i](int step) { SpinStep(i, step); });
    }
    for (SSPanel* frame : {SSPanel1, SSPanel2, SSPanel3, SSPanel4, SSPanel5})
        connect(frame, &SSPanel::pointerMoved, this, &VRNL::ClearHelp);
    for (SSCommand* command : {InfoAbout, DefaultSettings, ExitVRNL})
        connect(command, &SSCommand::pointerMoved, this, [this, command] { CommandMouseMove(command); });

    connect(InfoAbout, &QPushButton::clicked, this, &VRNL::InfoAboutClick);
    connect(DefaultSettings, &QPushButton::clicked, this, &VRNL::DefaultSettingsClick);
    connect(ExitVRNL, &QPushButton::clicked, this, &VRNL::ExitVRNLClick);
    // The end of the desktop session is the one close request told apart.
    // Asking for interaction makes the session manager wait for the question's answer.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) { EndSession(manager.allowsInteraction()); });
}

void VRNL::closeEvent(QCloseEvent* event)
{
    if (!sessionEnding_ && AskToSave(false))
        event->ignore();
    else
        event->accept();
}

bool VRNL::AskToSave(bool endingSession)
{
    // Leaving the window leaves the field being edited: it is normalised first, so a
    // number the user typed out of range is never written.
    for (int i = 0; i < 3; ++i)
        if (focusWidget() == Text[i])
            TextLostFocus(i);
    return SaveOnClose(endingSession);
}

void VRNL::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        ExitVRNL->click();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A focused command button takes Enter itself; anywhere else it means InfoAbout.
        if (auto* command = qobject_cast<SSCommand*>(focusWidget()))
            command->click();
        else
            InfoAbout->click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void VRNL::mouseMoveEvent(QMouseEvent*)
{
    ClearHelp();
}

void VRNL::InfoAboutClick()
{
    openInformation_(this);
}

void VRNL::ExitVRNLClick()
{
    close();
}

void VRNL::EndSession(bool mayAsk)
{
    sessionEnding_ = true;
    // Without leave to ask, the user never confirms a write: close without one.
    if (mayAsk)
        AskToSave(true);
    close();
}

void VRNL::Load()
{
    UserEditing = true;
    CenterWindow(this);
    const BootDriveOptions drive = ReadBootDrive(BootPath);
    Options = drive.options;
    if (!drive.unreadable.empty())
        Warn(drive.unreadable);
    else if (!drive.inUse.empty())
        Warn(drive.inUse);
    if (!drive.earlierDos) {
        Warn(NoEarlierDosNotice);
        ApplyNoEarlierDos(Options);
        Check[2]->setEnabled(false);
        Check[5]->setEnabled(false);
    }
    ShowOptions();
}

// Setting a box or a field runs its change handler at once, nested; UserEditing false
// tells the check-box handler that these changes are not the user's.
void VRNL::ShowOptions()
{
    UserEditing = false;
    for (int i = 1; i <= 12; ++i)  // each option read as its box is set
        Check[i]->setCheckState(Options.*CheckOption[i] ? Qt::Checked : Qt::Unchecked);
    for (int i : TextShowingOrder)
        Text[i]->setText(QString::fromStdString(ValueText(Options.*NumericRows[i].number)));
    if (!Options.BootMulti)
        Check[5]->setEnabled(false);
    UserEditing = true;
}

void VRNL::CheckClick(int index)
{
    const bool on = Check[index]->checkState() != Qt::Unchecked;
    Options.*CheckOption[index] = on;

    if (index == 2) {
        if (!Options.BootMulti) {
            // Without dual boot Windows 95 is the only system to start: force it, quietly.
            const bool wasUserEditing = UserEditing;
            UserEditing = false;
            Check[5]->setChecked(true);
            Check[5]->setEnabled(false);
            UserEditing = wasUserEditing;
        } else {
            Check[5]->setEnabled(true);
        }
    } else if ((index == 9 || index == 10) && !on && UserEditing) {
        const MessageAnswer answer =
            Message(QString::fromLatin1(CompressedDriveWarning), MessageButtons::YesNo, MessageIcon::Exclamation, MessageAnswer::No);
        if (answer != MessageAnswer::Yes) {
            Options.*CheckOption[index] = true;
            Check[index]->setChecked(true);
        }
    }
}

// The field is the source: its option follows every change of its text, unchecked;
// the bounds are applied when the user leaves the field or steps it.
void VRNL::TextChange(int index)
{
    Options.*NumericRows[index].number = FieldNumber(Text[index]->text());
}

void VRNL::TextLostFocus(int index)
{
    Text[index]->setText(FieldText(NormalisedValue(Text[index]->text(), NumericRows[index])));
    ProcessPendingEvents();
}

void VRNL::SpinStep(int index, int step)
{
    const SpinResult result = SteppedValue(Text[index]->text(), step, NumericRows[index]);
    if (result.beep)
        Beep();
    const QString written = FieldText(result.value);
    Text[index]->setText(written);
    ProcessPendingEvents();
    // The events just run may have rewritten the field (a change queued before the step);
    // its change handler stored that newer number, which must stand.
    if (Text[index]->text() == written)
        Options.*NumericRows[index].number = result.value;
}

void VRNL::DefaultSettingsClick()
{
    if (Message(QStringLiteral("Do you really want to restore the default Windows 95 configuration?"),
            MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No)
        != MessageAnswer::Yes)
        return;
    Options = Windows95Defaults;
    ShowOptions();
}

bool VRNL::SaveOnClose(bool endingSession)
{
    const MessageAnswer answer =
        endingSession ? Message(QStringLiteral("Write configuration on disk?"), MessageButtons::YesNo, MessageIcon::Question,
                            MessageAnswer::No)
                      : Message(QStringLiteral("Write configuration on disk?"), MessageButtons::YesNoCancel,
                            MessageIcon::Question, MessageAnswer::Cancel);
    if (answer == MessageAnswer::Cancel)
        return true;

    if (answer == MessageAnswer::Yes) {
        if (auto notWritten = WriteBootOptions(Options, BootPath)) {
            // The values stay in the window for another try, unless the session is ending.
            if (!endingSession)
                *notWritten += "\r\nPress Exit to try again, or answer No to leave without writing.";
            Warn(*notWritten);
            return !endingSession;
        }
        Message(QStringLiteral("Reboot and check your changes"), MessageButtons::Ok, MessageIcon::Information, MessageAnswer::Ok);
    }
    if (const auto unprotected = ProtectBootFile(BootPath))
        Warn(*unprotected);
    return false;
}

void VRNL::CheckMouseMove(int index)
{
    FastHelp->setSimpleText(QString::fromLatin1(CheckDesigns[index].help));
}

void VRNL::TextMouseMove(int index)
{
    FastHelp->setSimpleText(QString::fromLatin1(RowHelp[index]));
}

void VRNL::CommandMouseMove(const SSCommand* command)
{
    FastHelp->setSimpleText(command->accessibleDescription());
}

void VRNL::ClearHelp()
{
    FastHelp->setSimpleText(QString());
}
