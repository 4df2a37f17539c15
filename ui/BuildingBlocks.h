#pragma once

#include "core/TesterController.h"
#include "ui/AccessibleControls.h"

#include <QFrame>
#include <QHash>
#include <QLabel>
#include <QStaticText>
#include <QWidget>

#include <functional>
#include <optional>

namespace vibrelle::ui {

using DoubleGetter = double (TesterController::*)() const;
using DoubleSetter = void (TesterController::*)(double);

// "50%": the value times 100, rounded halves away from zero.
QString percentageText(double value);
// "3 ms": the value rounded halves away from zero, a space, the unit.
QString numberText(double value, const QString &unit);
// The default enabling rule of the intensity rows.
bool defaultSliderEnabled(const TesterController &controller);

// The value text of a slider row: as wide as the widest text it will show, so that a new value
// repaints the text alone and never lays the window out again; each text is shaped once, however
// often a drag comes back to it.
class ValueText final : public QLabel {
public:
    ValueText(const QStringList &widest, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void fit();
    QStringList m_widest;
    QHash<QString, QStaticText> m_shaped;
};

// A slider row bound two-way to one controller field: title and value text above,
// the slider below. Moving the slider writes the field on every change; the row
// follows the field whenever the controller changes it. Assistive technology reads and
// sets the slider in the unit the row shows (percent, imp/s, ms).
class ParameterSlider final : public QWidget {
    Q_OBJECT
public:
    enum class Kind { percentage, number };

    ParameterSlider(TesterController *controller, Kind kind, const QString &title, DoubleGetter get,
                    DoubleSetter set, double minimum, double maximum, double step, const QString &unit,
                    std::function<bool()> enabled, QWidget *parent = nullptr);
    // The same row for a value that is not a controller property (a field of the tension
    // curve, say): `get` reads it, `set` writes it; the row still follows controller changes.
    ParameterSlider(TesterController *controller, Kind kind, const QString &title,
                    std::function<double()> get, std::function<void(double)> set, double minimum,
                    double maximum, double step, const QString &unit, std::function<bool()> enabled,
                    QWidget *parent = nullptr);

    UnitSlider *slider() const { return m_slider; }
    QString valueText() const;
    // Re-reads the field and the enabling rule.
    void refresh();

private:
    double valueAt(int position) const;
    int positionOf(double value) const;

    TesterController *m_controller;
    UnitSlider *m_slider = nullptr;
    QLabel *m_valueLabel = nullptr;
    Kind m_kind;
    std::function<double()> m_get;
    std::function<void(double)> m_set;
    double m_minimum;
    double m_maximum;
    double m_step;
    QString m_unit;
    std::function<bool()> m_enabled;
    struct Shown {
        double value;
        bool enabled;
    };
    std::optional<Shown> m_shown; // what the row showed at its last refresh
};

// Continuous 0…1; without `enabled` the default rule applies. objectName is set by the caller.
ParameterSlider *percentageSlider(TesterController *controller, const QString &title, DoubleGetter get,
                                  DoubleSetter set, std::function<bool()> enabled = {},
                                  QWidget *parent = nullptr);
// Snaps to `step` within [minimum, maximum].
ParameterSlider *numberSlider(TesterController *controller, const QString &title, DoubleGetter get,
                              DoubleSetter set, double minimum, double maximum, double step,
                              const QString &unit, std::function<bool()> enabled, QWidget *parent = nullptr);
// A rounded card (radius 16, padding 20) around the content, full width.
QFrame *panel(QWidget *content, QWidget *parent = nullptr);
// Explanatory text: 11 px, secondary colour, wraps.
QLabel *note(const QString &text, QWidget *parent = nullptr);

} // namespace vibrelle::ui
