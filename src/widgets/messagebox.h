#pragma once
// The program's message box: a text, an OK button and a caption, above the window the user is
// working in and centred on it, on top of other programs when a window of this one is.
#include <QDialog>

class QFontMetrics;
class QLabel;
class QPushButton;

namespace skyjog {

// The window a box belongs to when no other window of the program is active: the main window.
void setMessageBoxAnchor(QWidget* window);

// The reporter the program installs (setReporter): shows a box and waits until the user closes
// it; where boxesWait() is false (a spiral runs), leaves it up and returns at once.
void showMessageBox(const QString& text, const QString& caption);

// The asker the program installs (setAsker): the same box with Yes and No, No the default.
bool askYesNo(const QString& text, const QString& caption);

class MessageBox : public QDialog {
    Q_OBJECT
public:
    // Built for the window the user is in (or the anchor), not shown yet.
    MessageBox(const QString& text, const QString& caption);

    QString text() const { return text_; }
    QLabel* label() const { return label_; }
    QPushButton* okButton() const { return ok_; }

private:
    QString text_;
    QLabel* label_;
    QPushButton* ok_;
};

// The text as lines no wider than width, broken at spaces only: a word wider than that (a device
// path) stands whole on a line of its own. Line breaks already in the text stay.
QString wrapAtSpaces(const QString& text, const QFontMetrics& fm, int width);

} // namespace skyjog
