#pragma once

#include "core/TesterController.h"
#include "ui/ViewState.h"
#include "ui/pads/CuePadGeometry.h"

#include <QPointer>
#include <QWidget>

namespace vibrelle::ui {

// The billiards table. A press on the table begins a cue drag and every reported
// movement pulls the cue by its leftward distance from the press point; the release
// shoots. The drawing follows the controller's charge, not the pointer.
//
// Losing the foreground in the middle of a drag cancels the shot: the window clears
// cueInteractionActive and stops the effect, and the pad keeps following the pointer,
// so a later movement of the same drag can only begin a new cue drag if the controller
// allows one by then.
class CuePad final : public QWidget {
    Q_OBJECT
public:
    CuePad(TesterController *controller, ViewState *viewState, QWidget *parent = nullptr);

    // What the table shows now.
    QString hintText() const;
    double drawnCharge() const { return m_charge; }
    CuePadGeometry geometry() const { return cuePadGeometry(width(), m_charge); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    void reportMovement(double x);
    void endDrag();

    QPointer<TesterController> m_controller;
    QPointer<ViewState> m_viewState;
    bool m_pressed = false;
    double m_pressX = 0;
    // The controller state the drawing was made from.
    bool m_cueDragging = false;
    bool m_controlledPaused = false;
    double m_charge = 0;
};

} // namespace vibrelle::ui
