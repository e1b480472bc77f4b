#pragma once
// The Help window (a page of quick instructions) and the About window.
#include <QString>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace skyjog {

// Each opens its window (modeless, without an owner), or brings the open one forward without
// loading it again.
void ShowHelp();
void ShowAbout();

// The quick instructions exactly as the Help window shows them: lines end in CR LF, sentences are
// two spaces apart, and a blank line follows the title and every paragraph.
QString HelpText();

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    static HelpWindow* current();
    explicit HelpWindow(QWidget* parent = nullptr);
    // Puts the window on top and fills the page.
    void Form_Load();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* txtHelp;
};

class AboutWindow : public QWidget {
    Q_OBJECT
public:
    static AboutWindow* current();
    explicit AboutWindow(QWidget* parent = nullptr);
    void Form_Load();

protected:
    // Escape closes the window, as it closes the Help window.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* cmdOK;
};

} // namespace skyjog
