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

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void endDrag();
    QSize contentSize() const;

    QPointer<TesterController> m_controller;
    bool m_pressed = false;
    bool m_gestureWanted = false;
    bool m_continuousGesture = false;
};

} // namespace vibrelle::ui
