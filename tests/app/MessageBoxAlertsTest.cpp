#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "MessageBoxAlerts.h"

namespace tessaly::testing {
namespace {

// Runs `answer` on the alert once it is up, from inside its nested event loop.
void whenAlertIsUp(std::function<void(QMessageBox*)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(box);
    });
    poll->start(1);
}

// The buttons' titles as they stand from right to left: the order in which an alert's buttons are
// added on a Mac, where the first, the default, stands rightmost.
QStringList buttonTitles(QMessageBox* box) {
    QList<QAbstractButton*> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](QAbstractButton* left, QAbstractButton* right) {
        return left->mapToGlobal(QPoint(0, 0)).x() > right->mapToGlobal(QPoint(0, 0)).x();
    });
    QStringList titles;
    for (QAbstractButton* each : buttons) titles << each->text();
    return titles;
}

QPushButton* buttonTitled(QMessageBox* box, const QString& title) {
    for (QAbstractButton* each : box->buttons()) {
        if (each->text() == title) return qobject_cast<QPushButton*>(each);
    }
    return nullptr;
}

TEST(MessageBoxAlertsError, ShowsTheSentenceAsPlainTextWithOneOkButton) {
    const std::string sentence = "Cannot read <b>audio.json</b> & more.";
    QString text, informative;
    QStringList titles;
    bool shownLiterally = false;
    whenAlertIsUp([&](QMessageBox* box) {
        text = box->text();
        informative = box->informativeText();
        titles = buttonTitles(box);
        for (QLabel* label : box->findChildren<QLabel*>()) {
            if (label->text() == informative) shownLiterally = label->textFormat() == Qt::PlainText;
        }
        box->buttons().front()->click();
    });
    MessageBoxAlerts().showError(nullptr, sentence);
    EXPECT_EQ(text, "Tessaly couldn't complete that action");
    EXPECT_EQ(informative.toStdString(), sentence);
    EXPECT_EQ(titles, QStringList{"OK"});
    EXPECT_TRUE(shownLiterally);
}

TEST(MessageBoxAlertsUninstall, AsksWithCancelAsTheDefaultSoOnlyUninstallConfirms) {
    QString text, informative;
    QStringList titles;
    whenAlertIsUp([&](QMessageBox* box) {
        text = box->text();
        informative = box->informativeText();
        titles = buttonTitles(box);
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_FALSE(MessageBoxAlerts().confirmUninstall(nullptr));
    EXPECT_EQ(text, "Uninstall Tessaly?");
    EXPECT_EQ(
        informative,
        "This stops audio memory, removes its login registration, and moves this app to Trash. Your saved audio choice and media files are kept.");
    EXPECT_EQ(titles, (QStringList{"Cancel", "Uninstall"}));

    whenAlertIsUp([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_FALSE(MessageBoxAlerts().confirmUninstall(nullptr));
    whenAlertIsUp([](QMessageBox* box) { buttonTitled(box, "Uninstall")->click(); });
    EXPECT_TRUE(MessageBoxAlerts().confirmUninstall(nullptr));
}

}  // namespace
}  // namespace tessaly::testing
