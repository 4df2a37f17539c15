#include "ui/workspaces/ResonancePages.h"

#include "ui/BuildingBlocks.h"
#include "ui/pads/GesturePad.h"
#include "ui/workspaces/WorkspaceKit.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

// A panel holding slider rows 19 apart.
QFrame *sliderPanel(std::initializer_list<QWidget *> rows) {
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(19);
    for (QWidget *row : rows) {
        column->addWidget(row);
    }
    return panel(content);
}

QVBoxLayout *pageColumn(QWidget *page, int spacing) {
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

template <typename Widget> Widget *named(Widget *widget, const char *objectName) {
    widget->setObjectName(QLatin1String(objectName));
    return widget;
}

} // namespace

// --- Controlled ------------------------------------------------------------------------------------

ControlledPage::ControlledPage(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    setObjectName(QStringLiteral("tester.resonance.page.controlled"));
    const auto editable = [controller] { return controller->controlledParametersEditable(); };
    auto *column = pageColumn(this, 20);
    column->addWidget(sliderPanel({
        named(percentageSlider(controller, QStringLiteral("Intensità"), &TesterController::intensity,
                               &TesterController::setIntensity, editable),
              "tester.controlled.intensity"),
        named(numberSlider(controller, QStringLiteral("Cadenza"), &TesterController::pulseRateHz,
                           &TesterController::setPulseRateHz, 1, 60, 1, QStringLiteral("imp/s"), editable),
              "tester.controlled.pulseRate"),
        named(percentageSlider(controller, QStringLiteral("Nitidezza"), &TesterController::sharpness,
                               &TesterController::setSharpness, editable),
              "tester.controlled.sharpness"),
        named(numberSlider(
                  controller, QStringLiteral("Transizione"), &TesterController::transitionMilliseconds,
                  &TesterController::setTransitionMilliseconds, 0, 1000, 10, QStringLiteral("ms"), editable),
              "tester.controlled.transition"),
    }));

    auto *controls = new QHBoxLayout;
    controls->setSpacing(10);
    m_start = named(prominentButton(QStringLiteral("Avvia"), QStringLiteral("play.fill"), this),
                    "tester.controlled.start");
    m_pause = named(standardButton(QStringLiteral("Pausa"), this), "tester.controlled.pause");
    m_stop = named(standardButton(QStringLiteral("Ferma"), this), "tester.controlled.stop");
    connect(m_start, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->controlledResonance();
        }
    });
    connect(m_pause, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->togglePause();
        }
    });
    connect(m_stop, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->stop();
        }
    });
    controls->addWidget(m_start);
    controls->addWidget(m_pause);
    controls->addWidget(m_stop);
    controls->addStretch(1);
    controls->addWidget(
        textLabel(QStringLiteral("Modifiche in tempo reale"), 10, QFont::Normal, Tone::secondary));
    column->addLayout(controls);

    column->addWidget(
        note(QStringLiteral("Tensione continua, anche con il dito fermo. La cadenza regola gli impulsi al "
                            "secondo; la nitidezza varia il "
                            "carattere da morbido a secco, non la frequenza fisica dell'attuatore.")));

    connect(controller, &TesterController::changed, this, &ControlledPage::refresh);
    refresh();
}

void ControlledPage::refresh() {
    if (!m_controller) {
        return;
    }
    const TesterController &c = *m_controller;
    const bool controlled = c.resonanceMode() == ResonanceMode::controlled;
    m_start->setEnabled(c.controlsEnabled());
    m_pause->setText(c.controlledPaused() ? QStringLiteral("Riprendi") : QStringLiteral("Pausa"));
    m_pause->setEnabled(controlled && c.effectRunning() && !c.cueDragging());
    m_stop->setEnabled(controlled);
}

// --- Timed -----------------------------------------------------------------------------------------

TimedPage::TimedPage(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    setObjectName(QStringLiteral("tester.resonance.page.timed"));
    auto *column = pageColumn(this, 20);
    column->addWidget(sliderPanel({
        named(percentageSlider(controller, QStringLiteral("Intensità"), &TesterController::intensity,
                               &TesterController::setIntensity),
              "tester.timed.intensity"),
        named(percentageSlider(controller, QStringLiteral("Finezza"), &TesterController::fineness,
                               &TesterController::setFineness,
                               [controller] { return controller->finenessEditable(); }),
              "tester.timed.fineness"),
        named(numberSlider(controller, QStringLiteral("Durata"), &TesterController::durationMilliseconds,
                           &TesterController::setDurationMilliseconds, 20, 2000, 10, QStringLiteral("ms"),
                           [controller] { return controller->durationEditable(); }),
              "tester.timed.duration"),
    }));

    m_vibrate = named(prominentButton(QStringLiteral("Vibra"), QStringLiteral("play.fill"), this),
                      "tester.timed.vibrate");
    connect(m_vibrate, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->timedResonance();
        }
    });
    column->addWidget(m_vibrate, 0, Qt::AlignLeft);

    column->addWidget(note(QStringLiteral("Un effetto a durata definita. Intensità, finezza e durata si "
                                          "possono aggiornare mentre è in corso.")));

    connect(controller, &TesterController::changed, this, &TimedPage::refresh);
    refresh();
}

void TimedPage::refresh() {
    if (m_controller) {
        m_vibrate->setEnabled(m_controller->controlsEnabled());
    }
}

// --- Gesture ---------------------------------------------------------------------------------------

GesturePage::GesturePage(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    setObjectName(QStringLiteral("tester.resonance.page.gesture"));
    auto *column = pageColumn(this, 18);
    column->addWidget(sliderPanel({
        named(percentageSlider(controller, QStringLiteral("Intensità"), &TesterController::intensity,
                               &TesterController::setIntensity),
              "tester.gesture.intensity"),
        named(percentageSlider(controller, QStringLiteral("Finezza"), &TesterController::fineness,
                               &TesterController::setFineness,
                               [controller] { return controller->finenessEditable(); }),
              "tester.gesture.fineness"),
        named(percentageSlider(controller, QStringLiteral("Reattività"), &TesterController::reactivity,
                               &TesterController::setReactivity,
                               [controller] { return controller->reactivityEditable(); }),
              "tester.gesture.reactivity"),
    }));

    m_pad = named(new GesturePad(controller, this), "tester.gesture.pad");
    column->addWidget(m_pad);

    auto *row = new QHBoxLayout;
    row->setSpacing(12);
    m_continuous = named(prominentButton(QStringLiteral("Avvia gesto continuo"), QString(), this),
                         "tester.gesture.continuous");
    connect(m_continuous, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->toggleContinuousGesture();
        }
    });
    row->addWidget(m_continuous, 0, Qt::AlignVCenter);
    row->addWidget(textLabel(QStringLiteral("Il gesto continuo lascia liberi i cursori."), 10, QFont::Normal,
                             Tone::secondary),
                   0, Qt::AlignVCenter);
    row->addStretch(1);
    column->addLayout(row);

    column->addWidget(note(QStringLiteral("La reattività segue il movimento. Puoi fermare e riprendere il "
                                          "dito finché la sessione resta attiva.")));

    connect(controller, &TesterController::changed, this, &GesturePage::refresh);
    refresh();
}

void GesturePage::refresh() {
    if (!m_controller) {
        return;
    }
    const bool continuous = m_controller->continuousGesture();
    m_continuous->setText(continuous ? QStringLiteral("Ferma gesto")
                                     : QStringLiteral("Avvia gesto continuo"));
    m_continuous->setEnabled(m_controller->controlsEnabled() || continuous);
}

} // namespace vibrelle::ui
