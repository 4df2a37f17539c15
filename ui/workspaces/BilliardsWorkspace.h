#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;

namespace vibrelle::ui {

class CuePad;
class SegmentedPicker;

// The billiards section: the cue pad, the charge read-out with the release switch, and
// the card with the hold behaviour and the tension-curve editor. Nothing here is ever
// disabled: the controller applies every change, also in the middle of a drag.
class BilliardsWorkspace final : public QWidget {
    Q_OBJECT
public:
    BilliardsWorkspace(TesterController *controller, ViewState *viewState, QWidget *parent = nullptr);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void fitChargeText();

    QPointer<TesterController> m_controller;
    CuePad *m_pad = nullptr;
    QLabel *m_charge = nullptr;
    QProgressBar *m_chargeBar = nullptr;
    QCheckBox *m_releaseImpulse = nullptr;
    SegmentedPicker *m_holdBehavior = nullptr;
};

} // namespace vibrelle::ui
