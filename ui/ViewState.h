#pragma once

#include <QObject>
#include <QString>

namespace vibrelle::ui {

// The sidebar sections, in sidebar order.
enum class Section { resonance, impulses, billiards };
// The pages of the resonance section, in picker order.
enum class ResonancePage { controlled, gesture, timed };

QString sectionTitle(Section section);          // raw value: row and heading title
QString sectionObjectName(Section section);     // "tester.section.<case>"
QString resonancePageTitle(ResonancePage page); // "Controllata", "Gesto", "Temporizzata"

// The window's own state: lives as long as the window, never stored.
class ViewState final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    Section selectedSection() const { return m_selectedSection; }
    ResonancePage resonancePage() const { return m_resonancePage; }
    bool showingLog() const { return m_showingLog; }
    bool cueInteractionActive() const { return m_cueInteractionActive; }

    void setSelectedSection(Section section);
    void setResonancePage(ResonancePage page);
    void setShowingLog(bool showing);
    void setCueInteractionActive(bool active);

Q_SIGNALS:
    void changed();

private:
    Section m_selectedSection = Section::resonance;
    ResonancePage m_resonancePage = ResonancePage::controlled;
    bool m_showingLog = false;
    bool m_cueInteractionActive = false;
};

} // namespace vibrelle::ui
