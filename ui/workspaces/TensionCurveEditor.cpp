#include "ui/workspaces/TensionCurveEditor.h"

#include "core/Types.h"
#include "ui/AccessibleControls.h"
#include "ui/BuildingBlocks.h"
#include "ui/workspaces/WorkspaceKit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vibrelle::ui {

namespace {

// The exponent slider moves in steps of 0.05 from 0.25 to 4, held as whole hundredths so
// that every position maps to the nearest double of its decimal value (1.7, not 1.7000…2).
constexpr int exponentMinimumHundredths = 25;
constexpr int exponentMaximumHundredths = 400;
constexpr int exponentStepHundredths = 5;

double exponentAt(int position) {
    return (exponentMinimumHundredths + exponentStepHundredths * position) / 100.0;
}

int exponentPosition(double exponent) {
    if (!std::isfinite(exponent)) {
        exponent = 1;
    }
    const double hundredths =
        std::clamp(exponent * 100, double(exponentMinimumHundredths), double(exponentMaximumHundredths));
    return static_cast<int>(std::lround((hundredths - exponentMinimumHundredths) / exponentStepHundredths));
}

} // namespace

TensionCurveEditor::TensionCurveEditor(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(18);

    auto *exponentGroup = new QVBoxLayout;
    exponentGroup->setSpacing(6);
    auto *exponentHeader = new QHBoxLayout;
    exponentHeader->addWidget(textLabel(QStringLiteral("Esponente"), 12));
    exponentHeader->addStretch(1);
    m_exponentValue = new ValueText(
        {exponentText(exponentAt(0)), exponentText(exponentMaximumHundredths / 100.0)}, this);
    m_exponentValue->setObjectName(QStringLiteral("tester.billiards.exponent.value"));
    setDesignFont(m_exponentValue, 12, QFont::DemiBold, Face::monospace);
    setTone(m_exponentValue, Tone::accent);
    exponentHeader->addWidget(m_exponentValue);
    exponentGroup->addLayout(exponentHeader);
    m_exponent = new UnitSlider(exponentMinimumHundredths / 100.0, exponentStepHundredths, 100, this);
    m_exponent->setObjectName(QStringLiteral("tester.billiards.exponent"));
    m_exponent->setAccessibleName(QStringLiteral("Esponente della curva"));
    useAccentHighlight(m_exponent);
    m_exponent->setRange(0, (exponentMaximumHundredths - exponentMinimumHundredths) / exponentStepHundredths);
    m_exponent->setPageStep(5);
    connect(m_exponent, &QSlider::valueChanged, this, [this](int position) {
        if (!m_controller) {
            return;
        }
        TensionCurve curve = m_controller->tensionCurve();
        const double value = exponentAt(position);
        if (curve.exponent != value) {
            curve.exponent = value;
            m_controller->setTensionCurve(curve);
        }
    });
    exponentGroup->addWidget(m_exponent);
    stack->addLayout(exponentGroup);

    auto *columns = new QHBoxLayout;
    columns->setSpacing(22);
    columns->addWidget(column(QStringLiteral("INIZIO"), QStringLiteral("tester.billiards.curve.low"),
                              &TensionCurve::lowIntensity, &TensionCurve::lowCadence,
                              &TensionCurve::lowSharpness),
                       1, Qt::AlignTop);
    columns->addWidget(hairline(Qt::Vertical, this));
    columns->addWidget(column(QStringLiteral("FINE"), QStringLiteral("tester.billiards.curve.high"),
                              &TensionCurve::highIntensity, &TensionCurve::highCadence,
                              &TensionCurve::highSharpness),
                       1, Qt::AlignTop);
    stack->addLayout(columns);

    connect(controller, &TesterController::changed, this, &TensionCurveEditor::refresh);
    refresh();
}

QWidget *TensionCurveEditor::column(const QString &heading, const QString &namePrefix,
                                    double TensionCurve::*intensity, double TensionCurve::*cadence,
                                    double TensionCurve::*sharpness) {
    auto *widget = new QWidget(this);
    auto *stack = new QVBoxLayout(widget);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(16);
    stack->addWidget(smallHeading(heading, widget));
    // Rows bound to one field of the controller's curve; writing a field assigns the whole curve.
    const auto row = [this, widget](ParameterSlider::Kind kind, const QString &title,
                                    double TensionCurve::*field, double minimum, double maximum, double step,
                                    const QString &unit) {
        TesterController *controller = m_controller;
        return new ParameterSlider(
            controller, kind, title, [controller, field] { return controller->tensionCurve().*field; },
            [controller, field](double value) {
                TensionCurve curve = controller->tensionCurve();
                if (curve.*field != value) {
                    curve.*field = value;
                    controller->setTensionCurve(curve);
                }
            },
            minimum, maximum, step, unit, [] { return true; }, widget);
    };
    const struct {
        const char *suffix;
        ParameterSlider *row;
    } rows[] = {
        {".intensity",
         row(ParameterSlider::Kind::percentage, QStringLiteral("Intensità"), intensity, 0, 1, 0, {})},
        {".cadence", row(ParameterSlider::Kind::number, QStringLiteral("Cadenza"), cadence, 1, 60, 1,
                         QStringLiteral("imp/s"))},
        {".sharpness",
         row(ParameterSlider::Kind::percentage, QStringLiteral("Nitidezza"), sharpness, 0, 1, 0, {})},
    };
    for (const auto &entry : rows) {
        entry.row->setObjectName(namePrefix + QLatin1String(entry.suffix));
        stack->addWidget(entry.row);
        m_rows.append(entry.row);
    }
    return widget;
}

QString TensionCurveEditor::exponentText(double exponent) {
    return QLocale().toString(exponent, 'f', 2);
}

void TensionCurveEditor::refresh() {
    if (!m_controller) {
        return;
    }
    for (ParameterSlider *row : m_rows) {
        row->refresh();
    }
    const double exponent = m_controller->tensionCurve().exponent;
    if (exponent == m_shownExponent && !m_exponent->isSliderDown()) {
        return;
    }
    m_shownExponent = exponent;
    const int position = exponentPosition(exponent);
    if (m_exponent->value() != position && !m_exponent->isSliderDown()) {
        const QSignalBlocker blocker(m_exponent);
        m_exponent->setValue(position);
    }
    const QString text = exponentText(exponent);
    if (m_exponentValue->text() != text) {
        m_exponentValue->setText(text);
    }
    m_exponent->setShown(exponent, text);
}

} // namespace vibrelle::ui
