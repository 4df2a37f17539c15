#pragma once

#include "core/TesterController.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QPushButton;

namespace vibrelle::ui {

class ImpulseCard;

// The impulses section: the shared intensity, one card per impulse style and the
// two-impulse sequence.
class ImpulseWorkspace final : public QWidget {
    Q_OBJECT
public:
    explicit ImpulseWorkspace(TesterController *controller, QWidget *parent = nullptr);

private:
    void refresh();

    QPointer<TesterController> m_controller;
    QList<ImpulseCard *> m_cards;
    QPushButton *m_sequence = nullptr;
};

} // namespace vibrelle::ui
