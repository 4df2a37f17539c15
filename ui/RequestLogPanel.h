#pragma once

#include "core/Types.h"

#include <QList>
#include <QWidget>

class QLabel;
class QScrollArea;
class QVBoxLayout;

namespace vibrelle::ui {

// The request log: a header and a short scrolling list of the controller's log
// entries, newest first, failed entries in the failure colour, each line selectable.
class RequestLogPanel final : public QWidget {
    Q_OBJECT
public:
    explicit RequestLogPanel(QWidget *parent = nullptr);

    void setEntries(const QList<LogEntry> &entries);

    // The placeholder shown while the log is empty.
    static QString placeholderText();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *addLine();

    QScrollArea *m_scroll = nullptr;
    QVBoxLayout *m_lines = nullptr;
    QLabel *m_placeholder = nullptr;
    QList<QLabel *> m_entryLabels;
    QList<LogEntry> m_shown;
};

} // namespace vibrelle::ui
