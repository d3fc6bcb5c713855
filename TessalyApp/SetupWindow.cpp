#include "SetupWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>
#include <string_view>
#include <utility>

#include "ApplicationIcon.h"
#include "SetupButton.h"
#include "SetupDocumentView.h"
#include "foundation/TessalyError.h"
#include "foundation/Version.h"
#include "setup/SetupWindowState.h"

namespace tessaly {
namespace {

constexpr int windowWidth = 600;
constexpr int windowHeight = 790;
constexpr int sideInset = 30;
constexpr int iconSide = 76;
constexpr double refreshInterval = 2.0;

void setIdentifier(QWidget* widget, const char* identifier) {
    widget->setObjectName(identifier);
    widget->setAccessibleName(identifier);
}

// Wrapping labels show snapshot texts verbatim: an error sentence with "<" must not become markup.
QLabel* wrappingLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void useSecondaryColour(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
}

void setFont(QWidget* widget, int pixelSize, QFont::Weight weight) {
    QFont font = widget->font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    widget->setFont(font);
}

QHBoxLayout* buttonRow(QPushButton* first, QPushButton* second) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(first);
    row->addWidget(second);
    // Buttons keep their natural width and stand at the leading edge.
    row->addStretch(1);
    return row;
}

bool isSelectable(const QLabel* label) {
    return label->textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

// A selectable label has no edit slots of its own; copy and select all are done for it.
bool editLabel(QLabel* label, std::string_view command) {
    if (!isSelectable(label)) return false;
    if (command == "copy") {
        if (label->hasSelectedText()) QGuiApplication::clipboard()->setText(label->selectedText());
        return true;
    }
    if (command == "selectAll") {
        label->setSelection(0, static_cast<int>(label->text().size()));
        return true;
    }
    return false;
}

// The Edit items go to the focused widget or the nearest ancestor that can take them, as AppKit
// sends them along the responder chain.
void sendEditCommand(const char* command) {
    const QByteArray signature = QByteArray(command) + "()";
    for (QWidget* widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
        if (auto* label = qobject_cast<QLabel*>(widget); label && editLabel(label, command)) return;
        if (widget->metaObject()->indexOfMethod(signature.constData()) < 0) continue;
        QMetaObject::invokeMethod(widget, command);
        return;
    }
}

void addEditItem(QMenu* menu, const char* title, const char* command, Qt::Key key) {
    QAction* action = menu->addAction(title);
    action->setShortcut(QKeySequence(Qt::CTRL | key));
    QObject::connect(action, &QAction::triggered, [command] { sendEditCommand(command); });
}

std::string describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        // tessaly::Error and the platform's errors alike carry their sentence in what().
        return failure.what();
    } catch (...) {
        return "An unknown error occurred.";
    }
}

QIcon iconImage() {
    const QIcon icon = QApplication::windowIcon();
    return icon.isNull() ? applicationIcon() : icon;
}

// Showing a widget that has no parent yet makes it a window of its own (on a Mac one that can flash
// on screen); before the window is built a button to be shown is only left unhidden, and appears
// with the window.
void showIf(QWidget* control, bool shown) {
    if (shown && control->parentWidget() == nullptr) {
        control->setAttribute(Qt::WA_WState_ExplicitShowHide, false);
        control->setAttribute(Qt::WA_WState_Hidden, true);
        return;
    }
    control->setVisible(shown);
}

}  // namespace

SetupWindow::SetupWindow(SetupActions& actions, SetupAlerts& alerts, RefreshScheduler& scheduler,
                         QObject* parent)
    : QObject(parent), actions_(actions), alerts_(alerts), scheduler_(scheduler) {
    status_ = wrappingLabel("Checking Tessaly...");
    detail_ = wrappingLabel("");
    saved_ = wrappingLabel("");
    permission_ = new SetupButton("Allow Accessibility");
    primary_ = new SetupButton("Enable Audio Memory");
    restart_ = new SetupButton("Restart Audio Memory");
    login_ = new SetupButton("Open Login Settings");
    uninstall_ = new SetupButton("Uninstall...");
    // Until the first snapshot: "Checking Tessaly..." with every button shown and enabled.
    apply();
}

SetupWindow::~SetupWindow() {
    scheduler_.cancel();
    window_.reset();
    // Controls that never made it into a window have no parent to delete them.
    delete status_;
    delete detail_;
    delete saved_;
    delete permission_;
    delete primary_;
    delete restart_;
    delete login_;
    delete uninstall_;
}

void SetupWindow::launch() {
    buildWindow();
    buildMenu();
    placeWindow();
    loopTick();
}

void SetupWindow::requestTermination() {
    if (terminated_) return;
    if (busy_) {
        deferredTermination_ = true;
        return;
    }
    grantTermination();
}

void SetupWindow::reopen() {
    if (!window_) return;
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
}

void SetupWindow::toggle() {
    using Action = SetupWindowState::PrimaryAction;
    switch (SetupWindowState::primaryAction(snapshot_)) {
        case Action::nothing:
            return;
        case Action::revealApplications:
            runAction([&actions = actions_] {
                if (actions.revealApplicationsFolder()) return;
                throw TessalyError("Open Applications in Finder, then move Tessaly.app there.");
            });
            return;
        case Action::openLoginSettings:
            openLoginSettings();
            return;
        case Action::disable:
            perform([&actions = actions_] { actions.disable(); });
            return;
        case Action::enable:
            perform([&actions = actions_] { actions.enable(); });
            return;
    }
}

void SetupWindow::allowAccessibility() {
    runAction([&actions = actions_] {
        actions.requestAccessibility();
        actions.openAccessibilitySettings();
    });
}

void SetupWindow::openLoginSettings() {
    runAction([&actions = actions_] { actions.openLoginSettings(); });
}

void SetupWindow::restartMemory() {
    perform([&actions = actions_] { actions.restart(); });
}

void SetupWindow::closeSetup() {
    if (window_) window_->close();
}

void SetupWindow::removeApp() {
    // The buttons are disabled while busy; a confirmation that perform() would ignore is not shown.
    if (busy_) return;
    if (!alerts_.confirmUninstall(window_.get())) return;
    // The quit request arrives while still busy, so it is granted once the operation has finished.
    perform([&actions = actions_] { actions.uninstall(); }, [this] { requestTermination(); });
}

bool SetupWindow::eventFilter(QObject* watched, QEvent* event) {
    // The window closes at once; whether the application quits now or later is the request's business.
    if (watched == window_.get() && event->type() == QEvent::Close) requestTermination();
    // -[NSApplication terminate:] (the Dock's Quit, logging out, an AppleScript quit) reaches Qt as
    // the application's Quit event, which would close the window and leave the event loop at once.
    // It is a quit request like any other: taken here, and granted now or when the operation ends.
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        event->ignore();
        requestTermination();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void SetupWindow::buildMenu() {
    QMenuBar* bar = window_->menuBar();
    QMenu* application = bar->addMenu("Tessaly");
    QAction* about = application->addAction("About Tessaly");
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &SetupWindow::showAbout);
    application->addSeparator();
    QAction* quit = application->addAction("Quit Tessaly Setup");
    quit->setMenuRole(QAction::QuitRole);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &SetupWindow::requestTermination);

    QMenu* edit = bar->addMenu("Edit");
    addEditItem(edit, "Paste", "paste", Qt::Key_V);
    addEditItem(edit, "Cut", "cut", Qt::Key_X);
    addEditItem(edit, "Copy", "copy", Qt::Key_C);
    addEditItem(edit, "Select All", "selectAll", Qt::Key_A);
}

void SetupWindow::buildWindow() {
    window_ = std::make_unique<QMainWindow>();
    window_->setWindowTitle("Tessaly");
    setIdentifier(window_.get(), "tessaly-setup");

    auto* scroll = new QScrollArea;
    scroll->setFixedSize(windowWidth, windowHeight);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setWidget(buildContent());
    window_->setCentralWidget(scroll);
    // The window is exactly as large as its content and the menu bar, and cannot be resized.
    window_->layout()->setSizeConstraint(QLayout::SetFixedSize);

    connectButtons();
    window_->installEventFilter(this);
    QCoreApplication::instance()->installEventFilter(this);
}

QWidget* SetupWindow::buildContent() {
    auto* document = new SetupDocumentView;
    setFont(document, 13, QFont::Normal);
    document->setAutoFillBackground(false);

    auto* stack = new QVBoxLayout(document);
    stack->setSpacing(18);
    stack->setContentsMargins(sideInset, 28, sideInset, 28);
    stack->addWidget(buildHeader(), 0, Qt::AlignLeft);

    QLabel* introduction = wrappingLabel(
        "Quick Look remembers the mute or volume you choose inside its own preview. Press Space in Finder and use the usual speaker button or volume slider.");
    stack->addWidget(introduction);

    auto* separator = new QFrame;
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    stack->addWidget(separator);

    stack->addWidget(buildStatusBlock());
    stack->addLayout(buttonRow(permission_, login_));
    stack->addLayout(buttonRow(primary_, restart_));

    auto* done = new SetupButton("Done");
    connect(done, &QPushButton::clicked, this, &SetupWindow::closeSetup);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(uninstall_);
    bottom->addStretch(1);
    bottom->addWidget(done);
    stack->addLayout(bottom);
    // The rows hang from the top; extra height stays below them.
    stack->addStretch(1);
    return document;
}

QWidget* SetupWindow::buildHeader() {
    auto* icon = new QLabel;
    icon->setPixmap(iconImage().pixmap(iconSide, iconSide));
    icon->setFixedSize(iconSide, iconSide);
    icon->setAlignment(Qt::AlignCenter);
    icon->setAccessibleName("Tessaly");

    auto* title = new QLabel("Tessaly");
    setFont(title, 28, QFont::Bold);
    auto* subtitle = new QLabel("Your preview. Your sound.");
    useSecondaryColour(subtitle);

    // The two lines keep their 5-point gap and sit centred beside the taller icon.
    auto* titles = new QVBoxLayout;
    titles->setSpacing(5);
    titles->addStretch(1);
    titles->addWidget(title);
    titles->addWidget(subtitle);
    titles->addStretch(1);

    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(18);
    row->addWidget(icon);
    row->addLayout(titles);
    return header;
}

QWidget* SetupWindow::buildStatusBlock() {
    setFont(status_, 17, QFont::DemiBold);
    setIdentifier(status_, "tessaly-status");

    useSecondaryColour(detail_);
    detail_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setIdentifier(detail_, "tessaly-detail");

    // The system font's digits are already of equal width, so the percentage does not jitter.
    setFont(saved_, 13, QFont::Normal);
    setIdentifier(saved_, "tessaly-saved-volume");

    auto* block = new QWidget;
    auto* stack = new QVBoxLayout(block);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    stack->addWidget(status_);
    stack->addWidget(detail_);
    stack->addWidget(saved_);
    return block;
}

void SetupWindow::connectButtons() {
    setIdentifier(permission_, "tessaly-accessibility");
    setIdentifier(primary_, "tessaly-toggle");
    setIdentifier(restart_, "tessaly-restart");
    setIdentifier(login_, "tessaly-login-settings");
    setIdentifier(uninstall_, "tessaly-uninstall");
    connect(permission_, &QPushButton::clicked, this, &SetupWindow::allowAccessibility);
    connect(primary_, &QPushButton::clicked, this, &SetupWindow::toggle);
    connect(restart_, &QPushButton::clicked, this, &SetupWindow::restartMemory);
    connect(login_, &QPushButton::clicked, this, &SetupWindow::openLoginSettings);
    connect(uninstall_, &QPushButton::clicked, this, &SetupWindow::removeApp);

    // Return presses the main button wherever the focus is, as for a window's default button.
    primary_->setDefault(true);
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), window_.get());
        connect(shortcut, &QShortcut::activated, primary_, &QPushButton::click);
    }
}

void SetupWindow::placeWindow() {
    window_->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        window_->move(screen->availableGeometry().center() - window_->rect().center());
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void SetupWindow::showAbout() {
    auto* about = new QMessageBox(window_.get());
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowTitle("About Tessaly");
    about->setIconPixmap(iconImage().pixmap(64, 64));
    about->setText("Tessaly");
    about->setInformativeText(QString("Version %1").arg(QString::fromUtf8(version.data(), version.size())));
    about->setModal(false);
    about->show();
}

void SetupWindow::loopTick() {
    if (terminated_) return;
    // While an operation runs the loop keeps its rhythm but leaves the window to the operation.
    if (busy_) {
        scheduleLoop();
        return;
    }
    refresh([this] { scheduleLoop(); });
}

void SetupWindow::scheduleLoop() {
    if (terminated_) return;
    scheduler_.schedule(refreshInterval, [this] { loopTick(); });
}

void SetupWindow::refresh(std::function<void()> then) {
    auto result = std::make_shared<std::optional<SetupSnapshot>>();
    runner_.run([&actions = actions_, result] { *result = actions.snapshot(); },
                [this, result, then = std::move(then)](std::exception_ptr) {
                    // A snapshot never fails; should one throw anyway, the window keeps what it shows.
                    if (*result && !terminated_) {
                        snapshot_ = std::move(**result);
                        apply();
                    }
                    if (then) then();
                });
}

void SetupWindow::apply() {
    const SetupWindowState state = SetupWindowState::derive(snapshot_, busy_);
    saved_->setText(QString::fromStdString(state.saved));
    showIf(permission_, !state.permissionHidden);
    showIf(login_, !state.loginHidden);
    showIf(restart_, !state.restartHidden);
    showIf(uninstall_, !state.uninstallHidden);
    primary_->setEnabled(state.primaryEnabled);
    status_->setText(QString::fromStdString(state.status));
    detail_->setText(QString::fromStdString(state.detail));
    primary_->setText(QString::fromStdString(state.primaryTitle));
}

void SetupWindow::perform(SetupOperationRunner::Job operation, std::function<void()> afterSuccess) {
    if (busy_) return;
    busy_ = true;
    primary_->setEnabled(false);
    setOperationButtonsEnabled(false);
    runner_.run(std::move(operation),
                [this, afterSuccess = std::move(afterSuccess)](std::exception_ptr error) {
                    finishOperation(error, afterSuccess);
                });
}

void SetupWindow::finishOperation(std::exception_ptr error, const std::function<void()>& afterSuccess) {
    // The alert is part of the operation: busy stays set, and a quit waits, until it is dismissed.
    if (error) {
        showError(error);
    } else if (afterSuccess) {
        afterSuccess();
    }
    busy_ = false;
    if (deferredTermination_) {
        grantTermination();
        return;
    }
    setOperationButtonsEnabled(true);
    // The refresh decides whether the main button may be pressed again.
    refresh(nullptr);
}

void SetupWindow::runAction(SetupOperationRunner::Job action) {
    runner_.run(std::move(action), [this](std::exception_ptr error) {
        if (error) showError(error);
    });
}

void SetupWindow::setOperationButtonsEnabled(bool enabled) {
    permission_->setEnabled(enabled);
    restart_->setEnabled(enabled);
    login_->setEnabled(enabled);
    uninstall_->setEnabled(enabled);
}

void SetupWindow::showError(std::exception_ptr error) {
    alerts_.showError(window_.get(), describe(error));
}

void SetupWindow::grantTermination() {
    terminated_ = true;
    scheduler_.cancel();
    emit terminationGranted();
}

}  // namespace tessaly
