#include "ui/workspaces/ImpulseWorkspace.h"

#include "ui/BuildingBlocks.h"
#include "ui/pads/ImpulseCard.h"
#include "ui/workspaces/WorkspaceKit.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace vibrelle::ui {
namespace {

struct ImpulseStyle {
    const char *title;
    const char *detail;
    const char *style; // sent to the service
    double softness;
};

constexpr ImpulseStyle impulseStyles[] = {
    {"Secco", "Netto e deciso", "crisp", 0.0},
    {"Naturale", "Equilibrato", "natural", 0.5},
    {"Morbido", "Più delicato", "soft", 1.0},
};

} // namespace

ImpulseWorkspace::ImpulseWorkspace(TesterController *controller, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller) {
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(22);

    auto *intensity = percentageSlider(controller, QStringLiteral("Intensità"), &TesterController::intensity,
                                       &TesterController::setIntensity);
    intensity->setObjectName(QStringLiteral("tester.impulses.intensity"));
    column->addWidget(panel(intensity));

    auto *cards = new QHBoxLayout;
    cards->setSpacing(12);
    for (const ImpulseStyle &style : impulseStyles) {
        const QString title = QString::fromUtf8(style.title);
        auto *card = new ImpulseCard(title, QString::fromUtf8(style.detail), style.softness, this);
        card->setObjectName(QStringLiteral("tester.impulses.") + QLatin1String(style.style));
        card->setToolTip(QStringLiteral("Invia un impulso ") + title.toLower());
        const QString wireStyle = QLatin1String(style.style);
        connect(card, &QAbstractButton::clicked, this, [this, wireStyle] {
            if (m_controller) {
                m_controller->impulse(wireStyle);
            }
        });
        cards->addWidget(card, 1);
        m_cards.append(card);
    }
    column->addLayout(cards);

    auto *sequenceRow = new QHBoxLayout;
    sequenceRow->setContentsMargins(0, 4, 0, 0);
    auto *sequenceText = new QVBoxLayout;
    sequenceText->setSpacing(4);
    sequenceText->addWidget(textLabel(QStringLiteral("Due impulsi, una sequenza"), 13, QFont::Medium));
    sequenceText->addWidget(
        textLabel(QStringLiteral("Prova una breve risposta composta."), 10, QFont::Normal, Tone::secondary));
    sequenceRow->addLayout(sequenceText);
    sequenceRow->addStretch(1);
    m_sequence = standardButton(QStringLiteral("Doppio impulso"), this);
    m_sequence->setObjectName(QStringLiteral("tester.impulses.sequence"));
    connect(m_sequence, &QPushButton::clicked, this, [this] {
        if (m_controller) {
            m_controller->sequence();
        }
    });
    sequenceRow->addWidget(m_sequence, 0, Qt::AlignVCenter);
    column->addLayout(sequenceRow);

    column->addWidget(
        note(QStringLiteral("L'intensità è condivisa con gli altri effetti del tester. Ogni pressione "
                            "invia una richiesta alle API locali.")));

    connect(controller, &TesterController::changed, this, &ImpulseWorkspace::refresh);
    refresh();
}

void ImpulseWorkspace::refresh() {
    if (!m_controller) {
        return;
    }
    const bool enabled = m_controller->controlsEnabled();
    for (ImpulseCard *card : m_cards) {
        card->setEnabled(enabled);
    }
    m_sequence->setEnabled(enabled);
}

} // namespace vibrelle::ui
