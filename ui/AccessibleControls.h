#pragma once

#include <QAbstractButton>
#include <QSlider>
#include <QWidget>

namespace vibrelle::ui {

// The window's own controls tell assistive technology (a screen reader, voice control, a UI
// robot on the accessibility bus) what they are: their role, state, actions and value. An
// accessible action goes through the same code path as the click, key or drag it stands for.
// Installed once per process; every control below installs it before it is first asked.
void installAccessibleControls();

// A row of page tabs: the sidebar's sections, a segmented picker.
class TabList : public QWidget {
    Q_OBJECT
public:
    explicit TabList(QWidget *parent = nullptr);
};

// One page tab: checked is "this page is shown". Its press action clicks it, so a disabled
// tab refuses and an enabled one chooses its page exactly as a click does.
class TabButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TabButton(QWidget *parent = nullptr);

protected:
    void checkStateSet() override;

private:
    bool m_shownChecked = false;
};

// A slider whose integer positions stand for values in the unit its row shows: position p is
// offset + p × unit / divisor (a percentage row: 0 + p × 1 / 100). Assistive technology reads and
// sets it in that unit; setting a value moves the slider to that position, as dragging there does.
class UnitSlider final : public QSlider {
    Q_OBJECT
public:
    UnitSlider(double offset, double unit, double divisor, QWidget *parent = nullptr);

    double unitAt(int position) const { return m_offset + unitsPer(position); }
    double unitsPer(int positions) const { return positions * m_unit / m_divisor; }
    int positionOf(double unitValue) const;
    // What the row shows: the value in the unit and its text ("30 imp/s").
    void setShown(double unitValue, const QString &text);
    double shownValue() const { return m_shownValue; }
    QString shownText() const { return m_shownText; }

private:
    double m_offset;
    double m_unit;
    double m_divisor;
    double m_shownValue = 0;
    QString m_shownText;
};

} // namespace vibrelle::ui
