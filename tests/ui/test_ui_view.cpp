// The window: sidebar, connection bar, heading badge, request log, footer and the
// foreground handling, driven through its widgets.

#include "support/ControllerFixture.h"
#include "ui/IconLabel.h"
#include "ui/RequestLogPanel.h"
#include "ui/SectionRow.h"
#include "ui/TesterPalette.h"
#include "ui/TesterView.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using vibrelle::testing::ControllerFixture;
using namespace vibrelle::ui;

namespace {

// A window on a controller on virtual time; the construction's status request is
// answered unless told otherwise.
struct Window {
    ControllerFixture f;
    TesterView view;

    explicit Window(bool answerStatus = true)
        : f(QStringLiteral("http://127.0.0.1:59723"), answerStatus)
        , view(f.controller.get()) {
        view.show();
    }

    template <typename T> T *find(const QString &name) {
        auto *widget = view.findChild<T *>(name);
        if (!widget) {
            qFatal("no widget named %s", qPrintable(name));
        }
        return widget;
    }
    // The view re-renders on the next turn of the event loop.
    void settle() { QCoreApplication::processEvents(); }

    QList<QLabel *> visibleLogLines() {
        QList<QLabel *> lines;
        for (QLabel *label : view.findChildren<QLabel *>(QStringLiteral("tester.log.entry"))) {
            if (label->isVisibleTo(&view)) {
                lines.append(label);
            }
        }
        return lines;
    }

    void startControlled() {
        f.c().controlledResonance();
        f.transport->replyOk();
        settle();
    }
};

bool sectionEnabled(Window &w, Section section) {
    return w.find<SectionRow>(sectionObjectName(section))->isEnabled();
}

} // namespace

class TesterViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setApplicationVersion(QString()); }

    void sidebarFollowsControlsEnabled() {
        Window w;
        auto *hint = w.find<QLabel>(QStringLiteral("tester.section.hint"));
        QCOMPARE(hint->text(), QStringLiteral("Ferma l'effetto per cambiare prova."));
        for (const Section s : {Section::resonance, Section::impulses, Section::billiards}) {
            QVERIFY(sectionEnabled(w, s));
        }
        QVERIFY(hint->isHidden());

        // Switching sections sends nothing and changes the heading.
        QTest::mouseClick(w.find<SectionRow>(QStringLiteral("tester.section.impulses")), Qt::LeftButton);
        w.settle();
        QCOMPARE(w.view.viewState()->selectedSection(), Section::impulses);
        QCOMPARE(w.find<QLabel>(QStringLiteral("tester.section.title"))->text(), QStringLiteral("Impulsi"));
        QCOMPARE(w.find<QLabel>(QStringLiteral("tester.section.description"))->text(),
                 QStringLiteral("Confronta tre caratteri tattili, con l'intensità che preferisci."));
        QVERIFY(w.find<SectionRow>(QStringLiteral("tester.section.impulses"))->isChecked());
        QVERIFY(!w.find<SectionRow>(QStringLiteral("tester.section.resonance"))->isChecked());
        QVERIFY(w.f.transport->sent().isEmpty());

        // A request in flight locks every row but the current one and shows the hint.
        QTest::mouseClick(w.find<QPushButton>(QStringLiteral("tester.verify")), Qt::LeftButton);
        w.settle();
        QVERIFY(w.f.c().busy());
        QVERIFY(!hint->isHidden());
        QVERIFY(sectionEnabled(w, Section::impulses));
        QVERIFY(!sectionEnabled(w, Section::resonance));
        QVERIFY(!sectionEnabled(w, Section::billiards));
        QTest::mouseClick(w.find<SectionRow>(QStringLiteral("tester.section.billiards")), Qt::LeftButton);
        w.settle();
        QCOMPARE(w.view.viewState()->selectedSection(), Section::impulses);

        w.f.transport->replyOk();
        w.settle();
        QVERIFY(hint->isHidden());
        QVERIFY(sectionEnabled(w, Section::billiards));
    }

    void badgeFollowsTheResonanceMode() {
        Window w;
        auto *badge = w.find<IconLabel>(QStringLiteral("tester.badge"));
        QVERIFY(badge->isHidden());

        w.startControlled();
        QVERIFY(!badge->isHidden());
        QCOMPARE(badge->text(), QStringLiteral("In corso"));
        QCOMPARE(badge->symbolName(), QStringLiteral("waveform"));

        w.f.c().togglePause();
        w.f.advance(0.1);
        w.f.transport->replyOk({{QStringLiteral("paused"), true}});
        w.settle();
        QVERIFY(w.f.c().controlledPaused());
        QCOMPARE(badge->text(), QStringLiteral("In pausa"));
        QCOMPARE(badge->symbolName(), QStringLiteral("pause.fill"));

        w.f.c().stop();
        w.f.transport->replyOk();
        w.settle();
        QVERIFY(badge->isHidden());

        // Any mode, in whichever section is shown.
        w.view.viewState()->setSelectedSection(Section::billiards);
        w.f.c().timedResonance();
        w.settle();
        QVERIFY(!badge->isHidden());
        QCOMPARE(badge->text(), QStringLiteral("In corso"));
    }

    void logShowsPlaceholderThenEntriesNewestFirst() {
        Window w(false); // the status request is still out: the log is empty
        auto *toggle = w.find<QToolButton>(QStringLiteral("tester.log.toggle"));
        auto *panel = w.find<RequestLogPanel>(QStringLiteral("tester.log"));
        QVERIFY(panel->isHidden());
        QCOMPARE(toggle->accessibleName(), QStringLiteral("Mostra registro richieste"));

        QTest::mouseClick(toggle, Qt::LeftButton);
        w.settle();
        QVERIFY(w.view.viewState()->showingLog());
        QVERIFY(!panel->isHidden());
        QCOMPARE(toggle->accessibleName(), QStringLiteral("Nascondi registro richieste"));
        auto *placeholder = w.find<QLabel>(QStringLiteral("tester.log.placeholder"));
        QVERIFY(placeholder->isVisibleTo(&w.view));
        QCOMPARE(placeholder->text(),
                 QStringLiteral("Nessuna richiesta. Il tester non interroga il servizio quando è inattivo."));
        QVERIFY(w.visibleLogLines().isEmpty());

        w.f.transport->fail(QStringLiteral("Connection refused"));
        w.f.c().verifyConnection();
        w.f.transport->replyOk();
        w.settle();
        QVERIFY(!placeholder->isVisibleTo(&w.view));
        const auto lines = w.visibleLogLines();
        QCOMPARE(lines.size(), 2);
        const auto &entries = w.f.c().entries();
        QCOMPARE(lines.at(0)->text(), entries.at(0).text);
        QCOMPARE(lines.at(1)->text(), entries.at(1).text);
        QVERIFY(!entries.at(0).failed);
        QVERIFY(entries.at(1).failed);
        QVERIFY(lines.at(0)->y() < lines.at(1)->y());

        // The failed line is red, the other in the secondary colour; both selectable.
        const QColor red = TesterPalette::failure(w.view.palette());
        QCOMPARE(lines.at(1)->palette().color(QPalette::WindowText), red);
        QVERIFY(lines.at(0)->palette().color(QPalette::WindowText) != red);
        QVERIFY(lines.at(0)->textInteractionFlags() & Qt::TextSelectableByMouse);

        QTest::mouseClick(toggle, Qt::LeftButton);
        w.settle();
        QVERIFY(panel->isHidden());
    }

    void escapeStopsEvenWhenNothingRuns() {
        Window w;
        auto *stop = w.find<QPushButton>(QStringLiteral("tester.stop"));
        QCOMPARE(stop->toolTip(), QStringLiteral("Ferma ogni effetto · Esc"));
        QVERIFY(QTest::qWaitForWindowActive(&w.view));

        QTest::keyClick(&w.view, Qt::Key_Escape);
        QCOMPARE(w.f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
        w.f.transport->replyOk();
        w.settle();

        // Also from inside the address field, and while an effect runs.
        w.startControlled();
        auto *address = w.find<QLineEdit>(QStringLiteral("tester.address"));
        w.f.transport->clearSent();
        address->setFocus();
        QTest::keyClick(address, Qt::Key_Escape);
        QCOMPARE(w.f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
        QVERIFY(stop->isEnabled());
    }

    void deactivationStopsOnlyWhatRuns() {
        Window w;
        w.view.viewState()->setCueInteractionActive(true);
        const auto entriesBefore = w.f.c().entries().size();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QVERIFY(!w.view.viewState()->cueInteractionActive());
        QCOMPARE(w.f.c().entries().size(), entriesBefore);
        QVERIFY(w.f.transport->sent().isEmpty());

        w.startControlled();
        w.f.transport->clearSent();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(w.f.c().entries().first().text,
                 QStringLiteral("Stop automatico: il tester ha perso il primo piano"));
        QCOMPARE(w.f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
        w.f.transport->replyOk();

        // Coming back to the foreground does nothing.
        w.f.transport->clearSent();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QVERIFY(w.f.transport->sent().isEmpty());
    }

    void connectionBar() {
        Window w;
        auto *address = w.find<QLineEdit>(QStringLiteral("tester.address"));
        auto *verify = w.find<QPushButton>(QStringLiteral("tester.verify"));
        auto *state = w.find<QLabel>(QStringLiteral("tester.connection.state"));
        auto *status = w.find<QLabel>(QStringLiteral("tester.status"));
        QCOMPARE(address->accessibleName(), QStringLiteral("Indirizzo del servizio API locale"));
        QCOMPARE(address->placeholderText(), QStringLiteral("Indirizzo locale"));
        QCOMPARE(address->text(), QStringLiteral("http://127.0.0.1:59723"));
        QCOMPARE(state->text(), QStringLiteral("Connesso"));
        QCOMPARE(status->text(), w.f.c().status());
        QVERIFY(status->textInteractionFlags() & Qt::TextSelectableByMouse);

        // Typing edits the controller's address.
        address->selectAll();
        QTest::keyClicks(address, QStringLiteral("http://127.0.0.1:8080"));
        QCOMPARE(w.f.c().address(), QStringLiteral("http://127.0.0.1:8080"));

        // "Verifica" sends the status request; a failure turns the indicator off.
        QTest::mouseClick(verify, Qt::LeftButton);
        QCOMPARE(w.f.transport->last().request.url.toString(),
                 QStringLiteral("http://127.0.0.1:8080/v1/status"));
        w.settle();
        QVERIFY(!verify->isEnabled());
        QVERIFY(!address->isEnabled());
        w.f.transport->fail();
        w.settle();
        QCOMPARE(state->text(), QStringLiteral("Da collegare"));
        QCOMPARE(status->text(), w.f.c().status());

        // The controller's address shows in the field; a running effect locks it.
        w.f.c().setAddress(QStringLiteral("http://127.0.0.1:59723"));
        w.settle();
        QCOMPARE(address->text(), QStringLiteral("http://127.0.0.1:59723"));
        w.startControlled();
        QVERIFY(!address->isEnabled());
        QVERIFY(!verify->isEnabled());
    }

    // The status line carries its text as its accessible name, so each change is a name
    // change on the accessibility bus. (The offscreen platform has no bus to listen on.)
    void statusLineIsReadableByAssistiveTechnology() {
        Window w;
        auto *status = w.find<QLabel>(QStringLiteral("tester.status"));
        const QString before = w.f.c().status();
        w.f.c().verifyConnection();
        w.f.transport->fail();
        w.settle();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(status);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), w.f.c().status());
        QVERIFY(w.f.c().status() != before);
    }

    void identifiersNamesAndKeyboardReach() {
        Window w;
        QCOMPARE(w.view.windowTitle(), QStringLiteral("Vibrelle API Tester"));
        QCOMPARE(w.find<QWidget>(QStringLiteral("tester.section.resonance"))->accessibleName(),
                 QStringLiteral("Risonanza"));
        QCOMPARE(w.find<QLabel>(QStringLiteral("tester.version"))->text(),
                 QStringLiteral("Versione di sviluppo"));
        QCOMPARE(w.find<QToolButton>(QStringLiteral("tester.docs"))->accessibleName(),
                 QStringLiteral("API & Docs"));

        // Tab walks through every control of the window's frame.
        QVERIFY(QTest::qWaitForWindowActive(&w.view));
        const QStringList expected{
            QStringLiteral("tester.section.resonance"), QStringLiteral("tester.section.impulses"),
            QStringLiteral("tester.section.billiards"), QStringLiteral("tester.docs"),
            QStringLiteral("tester.address"),           QStringLiteral("tester.verify"),
            QStringLiteral("tester.log.toggle"),        QStringLiteral("tester.stop")};
        QSet<QString> reached;
        for (int i = 0; i < 200 && reached.size() < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w.view, Qt::Key_Tab);
            if (QWidget *focus = QApplication::focusWidget();
                focus && expected.contains(focus->objectName())) {
                reached.insert(focus->objectName());
            }
        }
        for (const QString &name : expected) {
            QVERIFY2(reached.contains(name), qPrintable(name));
        }

        // Space on a focused section row selects it.
        auto *billiards = w.find<SectionRow>(QStringLiteral("tester.section.billiards"));
        billiards->setFocus(Qt::TabFocusReason);
        QTest::keyClick(billiards, Qt::Key_Space);
        w.settle();
        QCOMPARE(w.view.viewState()->selectedSection(), Section::billiards);
    }

    void versionLine() {
        QCOMPARE(TesterView::versionLine(QString()), QStringLiteral("Versione di sviluppo"));
        QCOMPARE(TesterView::versionLine(QStringLiteral("1.4.2")), QStringLiteral("Versione 1.4.2"));
    }

    void windowCannotShrinkBelowItsMinimum() {
        Window w;
        w.view.resize(500, 400);
        QVERIFY(w.view.width() >= 790);
        QVERIFY(w.view.height() >= 650);
        w.view.resize(790, 650);
        QCOMPARE(w.view.size(), QSize(790, 650));
        QVERIFY(w.view.minimumSizeHint().width() <= 790);
        QVERIFY(w.view.minimumSizeHint().height() <= 650);
    }
};

QTEST_MAIN(TesterViewTest)
#include "test_ui_view.moc"
