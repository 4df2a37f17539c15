#include "ui/workspaces/BilliardsWorkspace.h"

#include "core/Types.h"
#include "ui/BuildingBlocks.h"
#include "ui/pads/CuePad.h"
#include "ui/workspaces/Disclosure.h"
#include "ui/workspaces/SegmentedPicker.h"
#include "ui/workspaces/TensionCurveEditor.h"
#include "ui/workspaces/WorkspaceKit.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

constexpr int chargeSteps = 1000;

QString holdBehaviorCaseName(HoldBehavior behavior) {
    return behavior == HoldBehavior::maintain ? QStringLiteral("maintain") : QStringLiteral("pause");
}

} // namespace

BilliardsWorkspace::BilliardsWorkspace(TesterController *controller, ViewState *viewState, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    m_pad = new CuePad(controller, viewState, this);
    m_pad->setObjectName(QStringLiteral("tester.billiards.pad"));
    column->addWidget(m_pad);

    // Charge row.
    auto *chargeRow = new QHBoxLayout;
    chargeRow->setSpacing(15);
    auto *chargeText = new QVBoxLayout;
    chargeText->setSpacing(4);
    chargeText->addWidget(smallHeading(QStringLiteral("CARICA"), this));
    m_charge = textLabel(QString(), 24, QFont::Medium, Tone::primary, this);
    m_charge->setObjectName(QStringLiteral("tester.billiards.charge"));
    chargeText->addWidget(m_charge);
    chargeRow->addLayout(chargeText);
    m_chargeBar = new QProgressBar(this);
    m_chargeBar->setObjectName(QStringLiteral("tester.billiards.chargeBar"));
    m_chargeBar->setAccessibleName(QStringLiteral("Carica della stecca"));
    m_chargeBar->setRange(0, chargeSteps);
    m_chargeBar->setTextVisible(false);
    m_chargeBar->setFixedHeight(8);
    useAccentHighlight(m_chargeBar);
    chargeRow->addWidget(m_chargeBar, 1, Qt::AlignVCenter);
    m_releaseImpulse = new QCheckBox(QStringLiteral("Impulso al rilascio"), this);
    m_releaseImpulse->setObjectName(QStringLiteral("tester.billiards.releaseImpulse"));
    setDesignFont(m_releaseImpulse, 10);
    useAccentHighlight(m_releaseImpulse);
    connect(m_releaseImpulse, &QCheckBox::toggled, this, [this](bool enabled) {
        if (m_controller) {
            m_controller->setReleaseImpulseEnabled(enabled);
        }
    });
    chargeRow->addWidget(m_releaseImpulse, 0, Qt::AlignVCenter);
    column->addLayout(chargeRow);

    // Hold-behaviour card.
    auto *card = new QWidget;
    auto *cardStack = new QVBoxLayout(card);
    cardStack->setContentsMargins(0, 0, 0, 0);
    cardStack->setSpacing(14);
    cardStack->addWidget(textLabel(QStringLiteral("Quando il dito si ferma"), 12, QFont::Medium));
    QStringList labels;
    for (const HoldBehavior behavior : allHoldBehaviors()) {
        labels.append(holdBehaviorLabel(behavior));
    }
    m_holdBehavior = new SegmentedPicker(labels, card);
    m_holdBehavior->setObjectName(QStringLiteral("tester.billiards.hold"));
    m_holdBehavior->setAccessibleName(QStringLiteral("Quando mi fermo"));
    for (int i = 0; i < allHoldBehaviors().size(); ++i) {
        m_holdBehavior->segment(i)->setObjectName(QStringLiteral("tester.billiards.hold.") +
                                                  holdBehaviorCaseName(allHoldBehaviors().at(i)));
    }
    connect(m_holdBehavior, &SegmentedPicker::activated, this, [this](int index) {
        if (m_controller) {
            m_controller->setHoldBehavior(allHoldBehaviors().at(index));
        }
    });
    cardStack->addWidget(m_holdBehavior);
    cardStack->addWidget(hairline(Qt::Horizontal, card));
    auto *curve = new Disclosure(QStringLiteral("Curva e valori iniziali/finali"),
                                 new TensionCurveEditor(controller), 16, card);
    curve->toggle()->setObjectName(QStringLiteral("tester.billiards.curve"));
    curve->body()->setObjectName(QStringLiteral("tester.billiards.curve.content"));
    cardStack->addWidget(curve);
    column->addWidget(panel(card));

    column->addWidget(
        note(QStringLiteral("Premi sul tavolo e tira la stecca a sinistra. Al rilascio la tensione si "
                            "ferma e, se abilitato, parte il colpo. Esc o il cambio di app annullano il "
                            "tiro.")));
    column->addStretch(1);

    connect(controller, &TesterController::changed, this, &BilliardsWorkspace::refresh);
    refresh();
    fitChargeText();
}

void BilliardsWorkspace::fitChargeText() {
    // Wide enough for "100%", so the row does not shift while the charge moves.
    m_charge->setMinimumWidth(
        QFontMetrics(designFont(24, QFont::Medium)).horizontalAdvance(QStringLiteral("100%")));
}

void BilliardsWorkspace::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange) {
        fitChargeText();
    }
    QWidget::changeEvent(event);
}

void BilliardsWorkspace::refresh() {
    if (!m_controller) {
        return;
    }
    const double charge = m_controller->cueCharge();
    const QString chargeText = percentageText(charge);
    if (m_charge->text() != chargeText) {
        m_charge->setText(chargeText);
        m_chargeBar->setAccessibleDescription(chargeText);
    }
    m_chargeBar->setValue(
        static_cast<int>(roundHalfAwayFromZero(std::clamp(charge, 0.0, 1.0) * chargeSteps)));
    {
        const QSignalBlocker blocker(m_releaseImpulse);
        m_releaseImpulse->setChecked(m_controller->releaseImpulseEnabled());
    }
    m_holdBehavior->setCurrentIndex(
        static_cast<int>(allHoldBehaviors().indexOf(m_controller->holdBehavior())));
}

} // namespace vibrelle::ui
