#pragma once

#include <QAbstractButton>
#include <QRectF>
#include <QString>

namespace vibrelle::ui {

// A card-shaped button for one impulse style: the style's trace, its title and a detail
// line. The whole rounded card is the hit area; Space or Enter press it from the keyboard.
class ImpulseCard final : public QAbstractButton {
    Q_OBJECT
public:
    ImpulseCard(const QString &title, const QString &detail, double softness, QWidget *parent = nullptr);

    QString detail() const { return m_detail; }
    double softness() const { return m_softness; }

    static constexpr double cornerRadius = 16;
    static constexpr int padding = 17;
    static constexpr int traceHeight = 44;
    static constexpr int tracePadding = 9;
    // Where the trace sits in a card of the given size.
    static QRectF traceRect(const QSizeF &cardSize);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QFont titleFont() const;
    QFont detailFont() const;

    QString m_detail;
    double m_softness;
};

} // namespace vibrelle::ui
