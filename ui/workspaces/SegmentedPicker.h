#pragma once

#include "ui/AccessibleControls.h"

#include <QList>
#include <QStringList>

class QButtonGroup;

namespace vibrelle::ui {

// A row of mutually exclusive segments, a tab list whose segments are page tabs: Tab reaches
// a segment, Space or Return chooses it, and the arrow keys move the choice to the neighbouring
// segment. Segments share the width equally.
class SegmentedPicker final : public TabList {
    Q_OBJECT
public:
    explicit SegmentedPicker(const QStringList &labels, QWidget *parent = nullptr);

    int count() const { return static_cast<int>(m_segments.size()); }
    QAbstractButton *segment(int index) const { return m_segments.value(index); }
    int currentIndex() const;
    // Shows `index` as chosen without emitting activated().
    void setCurrentIndex(int index);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The user chose a different segment.
    void activated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void moveChoice(int from, int step);

    QButtonGroup *m_group;
    QList<QAbstractButton *> m_segments;
    int m_current = -1;

    friend class PickerSegment;
};

} // namespace vibrelle::ui
