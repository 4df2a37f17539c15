#include "ui/AccessibleControls.h"

#include "ui/pads/CuePad.h"
#include "ui/pads/GesturePad.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <algorithm>
#include <cmath>

namespace vibrelle::ui {
namespace {

class TabAccessible final : public QAccessibleWidget {
public:
    explicit TabAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::PageTab) {}

    QString text(QAccessible::Text t) const override {
        const QString text = QAccessibleWidget::text(t);
        return t == QAccessible::Name && text.isEmpty() ? button()->text() : text;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.selected = button()->isChecked();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) {
            names.prepend(pressAction());
        }
        return names;
    }
    void doAction(const QString &name) override {
        if (name == pressAction()) {
            button()->click(); // does nothing while disabled
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    QAbstractButton *button() const { return static_cast<QAbstractButton *>(widget()); }
};

class SliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SliderAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Slider) {}

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface *>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? slider()->shownText() : QAccessibleWidget::text(t);
    }
    QVariant currentValue() const override { return slider()->shownValue(); }
    void setCurrentValue(const QVariant &value) override {
        bool ok = false;
        const double unitValue = value.toDouble(&ok);
        if (ok && std::isfinite(unitValue) && slider()->isEnabled()) {
            slider()->setValue(slider()->positionOf(unitValue));
        }
    }
    QVariant maximumValue() const override { return slider()->unitAt(slider()->maximum()); }
    QVariant minimumValue() const override { return slider()->unitAt(slider()->minimum()); }
    QVariant minimumStepSize() const override { return slider()->unitsPer(slider()->singleStep()); }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) {
            names << increaseAction() << decreaseAction();
        }
        return names;
    }
    void doAction(const QString &name) override {
        if (name == increaseAction() || name == decreaseAction()) {
            if (slider()->isEnabled()) {
                slider()->triggerAction(name == increaseAction() ? QAbstractSlider::SliderSingleStepAdd
                                                                 : QAbstractSlider::SliderSingleStepSub);
            }
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    UnitSlider *slider() const { return static_cast<UnitSlider *>(widget()); }
};

// A drag pad is a button that can be held: pressed while the finger (or the key) is on it. Its
// press action is a tap, what a click without movement does.
template <typename Pad> class PadAccessible final : public QAccessibleWidget {
public:
    explicit PadAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = pad()->isHeld();
        return state;
    }
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) {
            names.prepend(pressAction());
        }
        return names;
    }
    void doAction(const QString &name) override {
        if (name == pressAction()) {
            pad()->tap();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    Pad *pad() const { return static_cast<Pad *>(widget()); }
};

QAccessibleInterface *controlInterface(const QString &className, QObject *object) {
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget) {
        return nullptr;
    }
    const auto is = [&className](const QMetaObject &type) {
        return className == QLatin1String(type.className());
    };
    if (is(TabButton::staticMetaObject)) {
        return new TabAccessible(widget);
    }
    if (is(TabList::staticMetaObject)) {
        return new QAccessibleWidget(widget, QAccessible::PageTabList);
    }
    if (is(UnitSlider::staticMetaObject)) {
        return new SliderAccessible(widget);
    }
    if (is(GesturePad::staticMetaObject)) {
        return new PadAccessible<GesturePad>(widget);
    }
    if (is(CuePad::staticMetaObject)) {
        return new PadAccessible<CuePad>(widget);
    }
    return nullptr;
}

} // namespace

void installAccessibleControls() {
    static const bool installed = [] {
        QAccessible::installFactory(controlInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

TabList::TabList(QWidget *parent)
    : QWidget(parent) {
    installAccessibleControls();
}

TabButton::TabButton(QWidget *parent)
    : QAbstractButton(parent) {
    installAccessibleControls();
    setCheckable(true);
}

void TabButton::checkStateSet() {
    // Called for every setChecked(), also one that changes nothing: only a change is announced
    // and repainted.
    if (isChecked() == m_shownChecked) {
        return;
    }
    m_shownChecked = isChecked();
    QAccessible::State selection;
    selection.selected = true;
    QAccessibleStateChangeEvent event(this, selection);
    QAccessible::updateAccessibility(&event);
    update();
}

UnitSlider::UnitSlider(double offset, double unit, double divisor, QWidget *parent)
    : QSlider(Qt::Horizontal, parent)
    , m_offset(offset)
    , m_unit(unit)
    , m_divisor(divisor) {
    installAccessibleControls();
}

int UnitSlider::positionOf(double unitValue) const {
    const double position = std::round((unitValue - m_offset) * m_divisor / m_unit);
    return static_cast<int>(std::clamp(position, double(minimum()), double(maximum())));
}

void UnitSlider::setShown(double unitValue, const QString &text) {
    if (unitValue == m_shownValue && text == m_shownText) {
        return;
    }
    m_shownValue = unitValue;
    m_shownText = text;
    setAccessibleDescription(text);
    QAccessibleValueChangeEvent event(this, unitValue);
    QAccessible::updateAccessibility(&event);
}

} // namespace vibrelle::ui
