#include "MessageBoxAlerts.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace tessaly {

void MessageBoxAlerts::showError(QWidget* parent, const std::string& message) {
    QMessageBox box(parent);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle("Tessaly");
    box.setText("Tessaly couldn't complete that action");
    box.setInformativeText(QString::fromStdString(message));
    // The sentence may quote a path or launchctl's output; "<" in it must not turn into markup. Qt
    // applies the box's text format to its main text only, so the informative label is set directly.
    box.setTextFormat(Qt::PlainText);
    if (auto* informative = box.findChild<QLabel*>("qt_msgbox_informativelabel")) {
        informative->setTextFormat(Qt::PlainText);
    }
    box.addButton("OK", QMessageBox::AcceptRole);
    box.exec();
}

bool MessageBoxAlerts::confirmUninstall(QWidget* parent) {
    QMessageBox box(parent);
    box.setIconPixmap(QApplication::windowIcon().pixmap(64, 64));
    box.setWindowTitle("Tessaly");
    box.setText("Uninstall Tessaly?");
    box.setInformativeText(
        "This stops audio memory, removes its login registration, and moves this app to Trash. Your saved audio choice and media files are kept.");
    QPushButton* cancel = box.addButton("Cancel", QMessageBox::RejectRole);
    QPushButton* uninstall = box.addButton("Uninstall", QMessageBox::DestructiveRole);
    // Return must never uninstall by accident; Escape cancels as well.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == uninstall;
}

}  // namespace tessaly
