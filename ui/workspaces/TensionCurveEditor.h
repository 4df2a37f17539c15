#pragma once

#include "core/TensionCurve.h"
#include "core/TesterController.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <limits>

class QLabel;

namespace vibrelle::ui {

class ParameterSlider;
class UnitSlider;

// The exponent of the tension curve and its start ("INIZIO") and end ("FINE") values.
// Every control writes one field of the controller's curve; none is ever disabled.
class TensionCurveEditor final : public QWidget {
    Q_OBJECT
public:
    explicit TensionCurveEditor(TesterController *controller, QWidget *parent = nullptr);

    // The exponent as shown: two fraction digits in the default locale.
    static QString exponentText(double exponent);

private:
    void refresh();
    QWidget *column(const QString &heading, const QString &namePrefix, double TensionCurve::*intensity,
                    double TensionCurve::*cadence, double TensionCurve::*sharpness);

    QPointer<TesterController> m_controller;
    QLabel *m_exponentValue = nullptr;
    double m_shownExponent = std::numeric_limits<double>::quiet_NaN(); // none yet
    UnitSlider *m_exponent = nullptr;
    QList<ParameterSlider *> m_rows;
};

} // namespace vibrelle::ui
