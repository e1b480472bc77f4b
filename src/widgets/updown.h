#pragma once
// A pair of spin arrows bound to a text box: each step writes the new position as the box's
// whole text, so the box's own change handling runs as if the user had typed it.
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace skyjog {

class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setBuddy(QLineEdit* buddy) { buddy_ = buddy; }
    QLineEdit* buddy() const { return buddy_; }
    void setRange(int min, int max);
    void setIncrement(int step) { increment_ = step; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }
    int increment() const { return increment_; }
    int value() const { return value_; }
    // Moves the position without writing the box.
    void setValue(int v);
    // Step from the number in the box rather than from the own position (when the box holds one).
    void setStepsFromBuddy(bool on) { fromBuddy_ = on; }

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

public slots:
    void stepUp() { step(+1); }
    void stepDown() { step(-1); }

signals:
    // After the box has been written.
    void changed();

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void step(int dir);
    QLineEdit* buddy_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0, max_ = 10, increment_ = 1, value_ = 0;
    bool fromBuddy_ = true;
};

} // namespace skyjog
