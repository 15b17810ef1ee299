#include "editor/vrnl.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QSessionManager>
#include <QToolButton>
#include <vector>

#include "editor/fieldnumber.h"
#include "options/loading.h"
#include "options/rules.h"
#include "options/saving.h"
#include "platform/qt/controls.h"
#include "platform/qt/messagebox.h"
#include "platform/qt/twips.h"
#include "platform/qt/ui.h"

namespace {

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
    // Frames first, so that the controls they frame lie above them.
    CreateFrames();
    CreateBoxes();
    CreateCommands();
    CreateFieldRows();
    CreateStatusLine();
    SetTabOrder();
    ConnectHandlers();
}

void VRNL::CreateFrames()
{
    SSPanel1 = Frame(this, "SSPanel1", 120, 120, 3015, 4455);
    SSPanel2 = Frame(this, "SSPanel2", 3360, 480, 1695, 1095);
    SSPanel4 = Frame(this, "SSPanel4", 5160, 480, 1095, 1095);
    SSPanel3 = Frame(this, "SSPanel3", 3480, 1800, 2655, 735);
    SSPanel5 = Frame(this, "SSPanel5", 3360, 3000, 2895, 1575);
}

void VRNL::CreateBoxes()
{
    const QFont boxFont = DesignFont("MS Sans Serif", 8.25);
    for (int i = 1; i < int(Check.size()); ++i) {
        const OptionKey& option = BoxOption(i);
        Check[i] = new CheckBox(this, QString::fromLatin1(option.caption));
        Check[i]->setObjectName(ElementName("Check", i));
        Place(Check[i], 240, BoxPlaces[i - 1].top, BoxPlaces[i - 1].width, 255);
        Check[i]->setFont(boxFont);
        Check[i]->setAccessibleDescription(QString::fromLatin1(option.help));
        // The compressed-drive drivers stand out in red: switching them off needs care.
        if (option.role == OptionRole::CompressedDrive) {
            QPalette palette = Check[i]->palette();
            palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
            Check[i]->setPalette(palette);
        }
    }
}

void VRNL::CreateCommands()
{
    InfoAbout = Command(this, "InfoAbout", SSPanel2, "Info About...", 1545, 945, DesignFont("Arial", 12, true, true),
                        "Display the information dialog box");
    InfoAbout->setIcon(QIcon(QStringLiteral(":/varnello.ico")));
    InfoAbout->setIconSize(QSize(32, 32));
    ExitVRNL = Command(this, "ExitVRNL", SSPanel4, "Exit", 945, 945, DesignFont("Arial", 18, true), "Exit 'Varnello'");
    ExitVRNL->setIcon(QIcon(QStringLiteral(":/exit.ico")));
    ExitVRNL->setIconSize(QSize(32, 32));
    DefaultSettings = Command(this, "DefaultSettings", SSPanel3, "Default Settings", 2505, 585,
                              DesignFont("Arial", 14.25, true, true), "Restore the original Windows 95 configuration");
}

// Each row: the field, its spin button beside it, and the label that names the option
// and its range.
void VRNL::CreateFieldRows()
{
    const QFont fieldFont = DesignFont("Arial", 8.25);
    const QFont labelFont = DesignFont("MS Sans Serif", 8.25);
    for (int i = 0; i < int(Text.size()); ++i) {
        const FieldPlace& place = FieldPlaces[i];
        const OptionKey& option = RowOf(place.number);
        const QString caption = QString::fromLatin1(option.caption);
        const QString help = QString::fromLatin1(option.help);
        Text[i] = new TextField(this, place.typedLength);
        Text[i]->setObjectName(ElementName("Text", i));
        Place(Text[i], 3480, place.top, 375, 315);
        Text[i]->setFont(fieldFont);
        // Named by its label, which a screen reader cannot tie to it by place.
        Text[i]->setAccessibleName(caption);
        Text[i]->setAccessibleDescription(help);
        Spin[i] = new SpinButton(this, place.repeatDelayMs);
        Spin[i]->setObjectName(ElementName("Spin", i));
        Place(Spin[i], 3855, place.top, 165, 315);
        const QString name = caption.section(QStringLiteral(" ("), 0, 0);  // "Boot Delay"
        Spin[i]->setAccessibleName(name);
        Spin[i]->upArrow()->setAccessibleName(name + QStringLiteral(" up"));
        Spin[i]->downArrow()->setAccessibleName(name + QStringLiteral(" down"));
        SSPanel6[i] = new SSPanel(this, caption);
        SSPanel6[i]->setObjectName(ElementName("SSPanel6", i));
        Place(SSPanel6[i], 4080, place.top, 2055, 315);
        SSPanel6[i]->setFont(labelFont);
        SSPanel6[i]->setFrameShadow(QFrame::Sunken);
        SSPanel6[i]->setLineWidth(1);
        SSPanel6[i]->setAccessibleDescription(help);
    }
}

void VRNL::CreateStatusLine()
{
    FastHelp = new StatusBar(this);
    FastHelp->setObjectName(QStringLiteral("FastHelp"));
    Place(FastHelp, 0, 4680, 6390, 375);
    FastHelp->setFont(DesignFont("MS Sans Serif", 8.25));
}

// Keyboard order: boxes, command buttons, fields; frames and the status line never take
// focus, nor do the spin buttons.
void VRNL::SetTabOrder()
{
    std::vector<QWidget*> order(Check.begin() + 1, Check.end());
    order.insert(order.end(), {InfoAbout, DefaultSettings, ExitVRNL});
    order.insert(order.end(), Text.begin(), Text.end());
    for (size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    Check[1]->setFocus();
}

const OptionKey& VRNL::BoxOption(int index)
{
    return RowOf(BoxPlaces[index - 1].flag);
}

CheckBox* VRNL::BoxWithRole(OptionRole role) const
{
    for (int i = 1; i < int(Check.size()); ++i)
        if (BoxOption(i).role == role)
            return Check[i];
    return nullptr;
}

void VRNL::ConnectHandlers()
{
    for (int i = 1; i < int(Check.size()); ++i) {
        // toggled, not stateChanged: a box set again from inside its own click (the compressed-drive
        // No) must report that change too, or the box and its option drift apart.
        connect(Check[i], &QAbstractButton::toggled, this, [this, i] { CheckClick(i); }, Qt::DirectConnection);
        connect(PointerOf(Check[i]), &PointerWatch::moved, this, [this, i] { CheckMouseMove(i); });
    }
    for (int i = 0; i < int(Text.size()); ++i) {
        connect(Text[i], &QLineEdit::textChanged, this, [this, i] { TextChange(i); }, Qt::DirectConnection);
        connect(Text[i], &TextField::focusLost, this, [this, i] { TextLostFocus(i); });
        connect(PointerOf(Text[i]), &PointerWatch::moved, this, [this, i] { TextMouseMove(i); });
        connect(PointerOf(SSPanel6[i]), &PointerWatch::moved, this, [this, i] { TextMouseMove(i); });
        connect(Spin[i], &SpinButton::spinUp, this, [this, i] { SpinStep(i, +1); });
        connect(Spin[i], &SpinButton::spinDown, this, [this, i] { SpinStep(i, -1); });
        connect(Text[i], &TextField::stepKey, this, [this, i](int step) { SpinStep(i, step); });
    }
    for (SSPanel* frame : {SSPanel1, SSPanel2, SSPanel3, SSPanel4, SSPanel5})
        connect(PointerOf(frame), &PointerWatch::moved, this, &VRNL::ClearHelp);
    for (SSCommand* command : {InfoAbout, DefaultSettings, ExitVRNL})
        connect(PointerOf(command), &PointerWatch::moved, this, [this, command] { CommandMouseMove(command); });

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
    for (int i = 0; i < int(Text.size()); ++i)
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
        ShowMessageBox(QString::fromStdString(drive.unreadable));
    else if (!drive.inUse.empty())
        ShowMessageBox(QString::fromStdString(drive.inUse));
    if (!drive.earlierDos) {
        ShowMessageBox(QString::fromLatin1(NoEarlierDosNotice));
        ApplyNoEarlierDos(Options);
        BoxWithRole(OptionRole::DualBoot)->setEnabled(false);
        BoxWithRole(OptionRole::LockedWithoutDualBoot)->setEnabled(false);
    }
    ShowOptions();
}

// Setting a box or a field runs its change handler at once, nested; UserEditing false
// tells the check-box handler that these changes are not the user's.
void VRNL::ShowOptions()
{
    UserEditing = false;
    for (int i = 1; i < int(Check.size()); ++i)  // each option read as its box is set
        Check[i]->setCheckState(Options.*BoxOption(i).flag ? Qt::Checked : Qt::Unchecked);
    for (int i : FieldShowingOrder)
        Text[i]->setText(QString::fromStdString(ValueText(Options.*FieldPlaces[i].number)));
    if (!Options.BootMulti)
        BoxWithRole(OptionRole::LockedWithoutDualBoot)->setEnabled(false);
    UserEditing = true;
}

void VRNL::CheckClick(int index)
{
    const OptionKey& option = BoxOption(index);
    const bool on = Check[index]->checkState() != Qt::Unchecked;
    Options.*option.flag = on;

    if (option.role == OptionRole::DualBoot) {
        CheckBox* locked = BoxWithRole(OptionRole::LockedWithoutDualBoot);
        if (!on) {
            // Without dual boot Windows 95 is the only system to start: force it, quietly.
            const bool wasUserEditing = UserEditing;
            UserEditing = false;
            locked->setChecked(true);
            locked->setEnabled(false);
            UserEditing = wasUserEditing;
        } else {
            locked->setEnabled(true);
        }
    } else if (option.role == OptionRole::CompressedDrive && !on && UserEditing) {
        const MessageAnswer answer = ShowMessageBox(QString::fromLatin1(CompressedDriveWarning), MessageButtons::YesNo,
                                                    MessageIcon::Exclamation, MessageAnswer::No);
        if (answer != MessageAnswer::Yes) {
            Options.*option.flag = true;
            Check[index]->setChecked(true);
        }
    }
}

// The field is the source: its option follows every change of its text, unchecked;
// the bounds are applied when the user leaves the field or steps it.
void VRNL::TextChange(int index)
{
    Options.*FieldPlaces[index].number = FieldNumber(Text[index]->text());
}

void VRNL::TextLostFocus(int index)
{
    Text[index]->setText(FieldText(NormalisedValue(Text[index]->text(), RowOf(FieldPlaces[index].number))));
    ProcessPendingEvents();
}

void VRNL::SpinStep(int index, int step)
{
    const SpinResult result = SteppedValue(Text[index]->text(), step, RowOf(FieldPlaces[index].number));
    if (result.beep)
        Beep();
    const QString written = FieldText(result.value);
    Text[index]->setText(written);
    ProcessPendingEvents();
    // The events just run may have rewritten the field (a change queued before the step);
    // its change handler stored that newer number, which must stand.
    if (Text[index]->text() == written)
        Options.*FieldPlaces[index].number = result.value;
}

void VRNL::DefaultSettingsClick()
{
    if (ShowMessageBox(QStringLiteral("Do you really want to restore the default Windows 95 configuration?"),
                       MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No)
        != MessageAnswer::Yes)
        return;
    Options = Windows95Defaults;
    ShowOptions();
}

bool VRNL::SaveOnClose(bool endingSession)
{
    const QString question = QStringLiteral("Write configuration on disk?");
    const MessageAnswer answer =
        endingSession
            ? ShowMessageBox(question, MessageButtons::YesNo, MessageIcon::Question, MessageAnswer::No)
            : ShowMessageBox(question, MessageButtons::YesNoCancel, MessageIcon::Question, MessageAnswer::Cancel);
    if (answer == MessageAnswer::Cancel)
        return true;

    if (answer == MessageAnswer::Yes) {
        if (auto notWritten = WriteBootOptions(Options, BootPath)) {
            // The values stay in the window for another try, unless the session is ending.
            if (!endingSession)
                *notWritten += "\r\nPress Exit to try again, or answer No to leave without writing.";
            ShowMessageBox(QString::fromStdString(*notWritten));
            return !endingSession;
        }
        ShowMessageBox(QStringLiteral("Reboot and check your changes"), MessageButtons::Ok, MessageIcon::Information);
    }
    if (const auto unprotected = ProtectBootFile(BootPath))
        ShowMessageBox(QString::fromStdString(*unprotected));
    return false;
}

void VRNL::CheckMouseMove(int index)
{
    FastHelp->setSimpleText(QString::fromLatin1(BoxOption(index).help));
}

void VRNL::TextMouseMove(int index)
{
    FastHelp->setSimpleText(QString::fromLatin1(RowOf(FieldPlaces[index].number).help));
}

void VRNL::CommandMouseMove(const SSCommand* command)
{
    FastHelp->setSimpleText(command->accessibleDescription());
}

void VRNL::ClearHelp()
{
    FastHelp->setSimpleText(QString());
}
