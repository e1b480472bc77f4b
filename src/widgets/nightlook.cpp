#include "nightlook.h"

#include <QApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyle>
#include <QWidget>
#include <optional>
#include <utility>
#include <vector>

namespace skyjog {

namespace {

bool night = false;

// A desktop's theme may give some kinds of control palettes of their own (a light tooltip, a
// menu), which the application's palette does not replace: at night they all get the night one.
const char* const ThemedClasses[] = {
    "QToolButton", "QAbstractButton", "QCheckBox",  "QRadioButton", "QHeaderView",
    "QAbstractItemView", "QMessageBoxLabel", "QTabBar", "QLabel", "QGroupBox",
    "QMenu", "QMenuBar", "QTextEdit", "QTextControl", "QLineEdit", "QTipLabel",
};

// The day palettes as they were before the switch, given back exactly. (A style sheet is not
// used: taking one away again does not give every control its font back.)
struct DayLook {
    QPalette palette;
    std::vector<QPalette> themed;
};
std::optional<DayLook>& dayLook() {
    static std::optional<DayLook> d;
    return d;
}

const QColor Black(0, 0, 0);
const QColor Text(190, 0, 0);
const QColor DimText(100, 0, 0);
const QColor Surface(28, 0, 0);
// Text boxes, lists and check marks stand a little out of the black, so their edges show.
const QColor Field(45, 0, 0);
const QColor Highlight(95, 0, 0);


// Text boxes draw their caret by inverting what lies under it, whatever the palette says: on
// black that is a white line. At night each caret is painted over in the text colour once the
// box has painted itself. It no longer blinks, which at the telescope is no loss.
class RedCarets final : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || painting_) return false;
        QWidget* target = nullptr;
        QRect caret;
        if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
            if (!edit->hasFocus() || edit->isReadOnly()) return false;
            // The box reports a rectangle five pixels wider on each side than the caret itself.
            const QRect around = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
            const int width = edit->style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, edit);
            target = edit;
            caret = QRect(around.x() + 5, around.y(), width, around.height() - 1);
        } else if (auto* page = viewportOwner(watched)) {
            if (!page->hasFocus()) return false;
            target = page->viewport();
            caret = page->cursorRect();
            caret.setWidth(page->cursorWidth());
        } else {
            return false;
        }
        painting_ = true;
        QCoreApplication::sendEvent(watched, event);
        painting_ = false;
        QPainter p(target);
        p.fillRect(caret, target->palette().color(QPalette::Text));
        return true;
    }

private:
    static QPlainTextEdit* viewportOwner(QObject* o) {
        auto* w = qobject_cast<QWidget*>(o);
        auto* page = w ? qobject_cast<QPlainTextEdit*>(w->parentWidget()) : nullptr;
        return page && page->viewport() == w ? page : nullptr;
    }
    bool painting_ = false;
};

RedCarets& redCarets() {
    static RedCarets filter;
    return filter;
}

} // namespace

QPalette nightPalette() {
    QPalette p;
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = g == QPalette::Disabled;
        const QColor text = disabled ? DimText : Text;
        p.setColor(g, QPalette::Window, Black);
        p.setColor(g, QPalette::WindowText, text);
        p.setColor(g, QPalette::Base, Field);
        p.setColor(g, QPalette::AlternateBase, Surface);
        p.setColor(g, QPalette::Text, text);
        p.setColor(g, QPalette::PlaceholderText, DimText);
        p.setColor(g, QPalette::Button, Surface);
        p.setColor(g, QPalette::ButtonText, text);
        p.setColor(g, QPalette::BrightText, QColor(230, 0, 0));
        p.setColor(g, QPalette::Light, QColor(70, 0, 0));
        p.setColor(g, QPalette::Midlight, QColor(50, 0, 0));
        p.setColor(g, QPalette::Mid, QColor(40, 0, 0));
        p.setColor(g, QPalette::Dark, QColor(20, 0, 0));
        p.setColor(g, QPalette::Shadow, Black);
        p.setColor(g, QPalette::Highlight, Highlight);
        p.setColor(g, QPalette::HighlightedText, QColor(220, 0, 0));
        p.setColor(g, QPalette::Link, Text);
        p.setColor(g, QPalette::LinkVisited, DimText);
        p.setColor(g, QPalette::ToolTipBase, Black);
        p.setColor(g, QPalette::ToolTipText, text);
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        p.setColor(g, QPalette::Accent, Highlight);
#endif
    }
    return p;
}

bool nightLook() {
    return night;
}

void setNightLook(bool on) {
    if (on == night) return;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) {
        night = on;
        return;
    }
    if (on) {
        DayLook day{QApplication::palette(), {}};
        for (const char* name : ThemedClasses)
            day.themed.push_back(QApplication::palette(name));
        dayLook() = std::move(day);
        night = true;
        const QPalette palette = nightPalette();
        QApplication::setPalette(palette);
        for (const char* name : ThemedClasses)
            QApplication::setPalette(palette, name);
        app->installEventFilter(&redCarets());
    } else {
        night = false;
        app->removeEventFilter(&redCarets());
        if (const std::optional<DayLook> day = std::exchange(dayLook(), std::nullopt)) {
            QApplication::setPalette(day->palette);
            for (size_t i = 0; i < day->themed.size(); ++i)
                QApplication::setPalette(day->themed[i], ThemedClasses[i]);
        }
    }
    // The pictures are drawn for the look: every window paints afresh.
    for (QWidget* w : QApplication::allWidgets())
        w->update();
}

} // namespace skyjog
