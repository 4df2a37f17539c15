#pragma once

#include "core/TesterController.h"

#include <QPointer>
#include <QString>
#include <QWidget>

namespace vibrelle::ui {

struct GesturePadTexts {
    QString title;
    QString subtitle;
};
GesturePadTexts gesturePadTexts(bool continuousGesture, bool gestureWanted);

// The area on which a press-and-drag runs the gesture resonance for as long as the drag
// lasts. Every reported movement, starting with the press, asks the controller to begin
// a (non-continuous) gesture; the release ends a gesture tied to the drag.
//
// From the keyboard, holding Space on the focused pad is the finger on it: the press (and each
// auto-repeat, as a movement) begins the gesture, the release lifts the finger. Losing the focus
// or being hidden lifts it too.
class GesturePad final : public QWidget {
    Q_OBJECT
public:
    explicit GesturePad(TesterController *controller, QWidget *parent = nullptr);

    static constexpr int padHeight = 104;
    static constexpr double cornerRadius = 16;
    static constexpr int contentMargin = 16;
    static constexpr int glyphSide = 30;
    static constexpr int glyphGap = 14;

    GesturePadTexts texts() const;
    // Accent opacity of the fill: stronger while a gesture is wanted.
    double fillOpacity() const;
    bool isPressed() const { return m_pressed; }
    // For assistive technology: held by the pointer or the key; a tap is a press and a release.
    bool isHeld() const { return m_pressed; }
    void tap();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void press();
    void reportMovement();
    void endDrag();
    QSize contentSize() const;

    QPointer<TesterController> m_controller;
    bool m_pressed = false; // by the pointer or the key
    bool m_keyHeld = false;
    bool m_gestureWanted = false;
    bool m_continuousGesture = false;
};

} // namespace vibrelle::ui
