#include "messagebox.h"

#include "ontop.h"
#include "report.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

namespace skyjog {

namespace {

QPointer<QWidget>& anchor() {
    static QPointer<QWidget> w;
    return w;
}

bool isOrdinaryWindow(const QWidget* w) {
    if (!w || !w->isVisible()) return false;
    const Qt::WindowType type = w->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

// The window the user is in: a box opened elsewhere would open behind it, or behind a window
// that is kept on top, and leave the user facing a window that ignores every click.
QWidget* ownerWindow() {
    if (QWidget* modal = QApplication::activeModalWidget(); isOrdinaryWindow(modal)) return modal;
    if (QWidget* active = QApplication::activeWindow(); isOrdinaryWindow(active)) return active;
    if (isOrdinaryWindow(anchor())) return anchor();
    return nullptr;
}

// A box must not open under a window of this program that is kept above all others.
bool anyWindowOnTop() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget* w) {
        return isOrdinaryWindow(w) && onTopRequested(w);
    });
}

// How wide the text may run before it is broken: a comfortable line, or the longest word when
// that is wider, as far as the screen allows.
int lineWidthFor(const QString& text, const QFontMetrics& fm, const QWidget* owner) {
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const int screenRoom = screen ? screen->availableGeometry().width() - 80 : 1200;
    int widest = 0;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widest = std::max(widest, fm.horizontalAdvance(word));
    return std::clamp(std::max(widest, 420), 100, std::max(100, screenRoom));
}

} // namespace

void setMessageBoxAnchor(QWidget* window) {
    anchor() = window;
}

QString wrapAtSpaces(const QString& text, const QFontMetrics& fm, int width) {
    QStringList out;
    for (const QString& paragraph : text.split(u'\n')) {
        QString line;
        for (const QString& word : paragraph.split(u' ', Qt::SkipEmptyParts)) {
            const QString longer = line.isEmpty() ? word : line + u' ' + word;
            if (!line.isEmpty() && fm.horizontalAdvance(longer) > width) {
                out << line;
                line = word;
            } else {
                line = longer;
            }
        }
        out << line;
    }
    return out.join(u'\n');
}

MessageBox::MessageBox(const QString& text, const QString& caption)
    : QDialog(ownerWindow()), text_(text), label_(new QLabel(this)),
      ok_(new QPushButton(QStringLiteral("OK"), this)) {
    setObjectName(QStringLiteral("MessageBox"));
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::ApplicationModal);

    const QFontMetrics fm = label_->fontMetrics();
    const int lineWidth = lineWidthFor(text, fm, parentWidget());
    label_->setObjectName(QStringLiteral("text"));
    label_->setTextFormat(Qt::PlainText);
    label_->setText(wrapAtSpaces(text, fm, lineWidth));
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Room for the caption beside the window manager's buttons: a narrow box shows "..." there.
    const QFontMetrics titleFm(QApplication::font("QMdiSubWindowTitleBar"));
    label_->setMinimumWidth(std::max(240, titleFm.horizontalAdvance(caption) + 160));

    ok_->setObjectName(QStringLiteral("OK"));
    ok_->setDefault(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->setCenterButtons(true);
    buttons->addButton(ok_, QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(label_);
    layout->addWidget(buttons);

    if (anyWindowOnTop()) SetOnTop(this, true);
}

bool askYesNo(const QString& text, const QString& caption) {
    MessageBox box(text, caption);
    box.okButton()->setText(QStringLiteral("&Yes"));
    box.okButton()->setDefault(false);
    auto* no = new QPushButton(QStringLiteral("&No"), &box);
    no->setObjectName(QStringLiteral("No"));
    no->setDefault(true);
    auto* buttons = box.findChild<QDialogButtonBox*>();
    buttons->addButton(no, QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    return box.exec() == QDialog::Accepted;
}

void showMessageBox(const QString& text, const QString& caption) {
    if (boxesWait()) {
        MessageBox box(text, caption);
        box.exec();
        return;
    }
    auto* box = new MessageBox(text, caption);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

} // namespace skyjog
