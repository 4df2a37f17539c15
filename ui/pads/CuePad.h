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
//
// From the keyboard, the focused table is pulled with the arrow keys: each Left press (or
// auto-repeat) pulls 10 points further, 40 with Shift; Right eases the cue back as much. Space or
// Return shoots, as the release does. The same cue operations run as for a drag, so a pull that
// rests between presses is a resting finger. Esc stops it as it stops a drag (the next Left
// begins a new pull); moving the focus away cancels the shot.
class CuePad final : public QWidget {
    Q_OBJECT
public:
    CuePad(TesterController *controller, ViewState *viewState, QWidget *parent = nullptr);

    // What the table shows now.
    QString hintText() const;
    double drawnCharge() const { return m_charge; }
    CuePadGeometry geometry() const { return cuePadGeometry(width(), m_charge); }
    // For assistive technology: held by the pointer or pulled with the keys; a tap is a press
    // and a release where it was pressed.
    bool isHeld() const { return m_pressed || m_keyPull; }
    void tap();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    // The drag's reports: `pull` points to the left of where it began.
    void reportPull(double pull);
    void pullWithKeys(double points);
    void endDrag();

    QPointer<TesterController> m_controller;
    QPointer<ViewState> m_viewState;
    bool m_pressed = false;
    double m_pressX = 0;
    bool m_keyPull = false;
    double m_keyPullPoints = 0;
    // The controller state the drawing was made from.
    bool m_cueDragging = false;
    bool m_controlledPaused = false;
    double m_charge = 0;
};

} // namespace vibrelle::ui
