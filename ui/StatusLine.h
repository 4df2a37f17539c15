#pragma once

#include <QLabel>

namespace vibrelle::ui {

// The controller's status under the address: at most two lines. A longer text is cut at the end
// of the second line with "…"; its whole text is then the tooltip, and it is always the accessible
// name.
class StatusLine final : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(QWidget *parent = nullptr);
    void setStatus(const QString &status);
    QString status() const { return m_status; }

    // The text as shown in `width` pixels of `font`: whole when it wraps onto two lines at most,
    // else its first line and the rest cut to one line ending in "…".
    static QString fitToTwoLines(const QString &text, const QFont &font, int width);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void refit();
    QString m_status;
};

// Where the status line sits: a new status asks for a new layout of the window only when the
// line's size would change (one line to two, say); one that fits the same lines repaints the
// line alone.
class StatusSlot final : public QWidget {
    Q_OBJECT
public:
    explicit StatusSlot(StatusLine *line, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Sizes {
        QSize hint, minimum, maximum;
        int height = 0; // for the slot's width
        bool operator==(const Sizes &) const = default;
    };
    Sizes sizes() const;

    StatusLine *m_line;
    Sizes m_known;
};

} // namespace vibrelle::ui
