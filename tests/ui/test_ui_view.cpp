// The window: sidebar, connection bar, heading badge, request log, footer and the
// foreground handling, driven through its widgets.

#include "support/ControllerFixture.h"
#include "support/NamedWidget.h"
#include "ui/IconLabel.h"
#include "ui/SectionRow.h"
#include "ui/TesterPalette.h"
#include "ui/TesterView.h"
#include "ui/pads/GesturePad.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using vibrelle::testing::ControllerFixture;
using namespace vibrelle::ui;

namespace {

// A window on a controller on virtual time; the view re-renders on the next turn of the event loop.
struct Window {
    ControllerFixture f;
    TesterView view;

    explicit Window(bool answerStatus = true)
        : f(QStringLiteral("http://127.0.0.1:59723"), answerStatus)
        , view(f.controller.get()) {
        view.show();
    }
    template <typename T = QWidget> T *find(const QString &name) { return vibrelle::testing::namedWidget<T>(view, name); }
    void click(const QString &name) {
        QTest::mouseClick(find(name), Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    void reply(const QJsonObject &extra = {}) {
        f.transport->replyOk(extra);
        QCoreApplication::processEvents();
    }
    // Enabled (1) or not: the section rows (resonance, impulses, billiards), "Verifica", the
    // address field; shown or not: the hint. Then the connection word and the badge.
    QString summary() {
        QString s;
        for (const char *name : {"tester.section.resonance", "tester.section.impulses",
                                 "tester.section.billiards", "tester.verify", "tester.address"}) {
            s += find(name)->isEnabled() ? '1' : '0';
        }
        s += find("tester.section.hint")->isVisibleTo(&view) ? '1' : '0';
        auto *badge = find<IconLabel>("tester.badge");
        return s + ' ' + find<QLabel>("tester.connection.state")->text() + ' ' +
               (badge->isHidden() ? QStringLiteral("-") : badge->text() + '/' + badge->symbolName());
    }
};

} // namespace

class TesterViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // While a request or an effect is out, only the current section stays reachable; the
    // connection bar edits the controller's address, verifies it and reports back.
    void windowFollowsTheController() {
        Window w;
        auto *address = w.find<QLineEdit>("tester.address");
        auto *status = w.find<QLabel>("tester.status");
        QCOMPARE(address->text(), "http://127.0.0.1:59723");
        QCOMPARE(w.summary(), "111110 Connesso -");
        w.click("tester.section.impulses");
        QCOMPARE(w.view.viewState()->selectedSection(), Section::impulses);
        QCOMPARE(w.find<QLabel>("tester.section.title")->text(), "Impulsi");
        QVERIFY(w.find<SectionRow>("tester.section.impulses")->isChecked());
        QVERIFY(!w.find<SectionRow>("tester.section.resonance")->isChecked());
        auto *billiards = w.find<SectionRow>("tester.section.billiards");
        billiards->setFocus(Qt::TabFocusReason);
        QTest::keyClick(billiards, Qt::Key_Space); // Space on a focused row selects it
        QCOMPARE(w.view.viewState()->selectedSection(), Section::billiards);
        QVERIFY(w.f.transport->sent().isEmpty());
        QCOMPARE(w.find<QLabel>("tester.version")->text(), "Versione di sviluppo");
        QCOMPARE(TesterView::versionLine("1.4.2"), "Versione 1.4.2");

        address->selectAll();
        QTest::keyClicks(address, "http://127.0.0.1:8080");
        QCOMPARE(w.f.c().address(), "http://127.0.0.1:8080");
        w.click("tester.verify");
        QCOMPARE(w.f.transport->last().request.url.toString(), "http://127.0.0.1:8080/v1/status");
        QCOMPARE(w.summary(), "001001 Connesso -");
        QCOMPARE(w.find<QLabel>("tester.section.hint")->text(), "Ferma l'effetto per cambiare prova.");
        w.click("tester.section.resonance");
        QCOMPARE(w.view.viewState()->selectedSection(), Section::billiards);
        const QString before = status->text();
        w.f.transport->fail();
        QCoreApplication::processEvents();
        QCOMPARE(w.summary(), "111110 Da collegare -");
        QVERIFY(w.f.c().status() != before);
        QCOMPARE(status->text(), w.f.c().status());
        QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Name), w.f.c().status());
        w.f.c().setAddress("http://127.0.0.1:59723");

        // The badge shows any resonance, in whichever section is shown.
        w.f.c().controlledResonance();
        w.reply();
        QCOMPARE(w.summary(), "001001 Connesso In corso/waveform");
        QCOMPARE(address->text(), "http://127.0.0.1:59723");
        w.f.c().togglePause();
        w.f.advance(0.1);
        w.reply({{"paused", true}});
        QCOMPARE(w.summary(), "001001 Connesso In pausa/pause.fill");
        w.f.c().stop();
        w.reply();
        QCOMPARE(w.summary(), "111110 Connesso -");
        w.f.c().timedResonance();
        QCoreApplication::processEvents();
        QCOMPARE(w.summary(), "001001 Connesso In corso/waveform");
    }

    void logShowsPlaceholderThenEntriesNewestFirst() {
        Window w(false); // the status request is still out: the log is empty
        auto *toggle = w.find("tester.log.toggle");
        QVERIFY(w.find("tester.log")->isHidden());
        QCOMPARE(toggle->accessibleName(), "Mostra registro richieste");
        w.click("tester.log.toggle");
        QVERIFY(!w.find("tester.log")->isHidden());
        QCOMPARE(toggle->accessibleName(), "Nascondi registro richieste");
        auto *placeholder = w.find<QLabel>("tester.log.placeholder");
        QVERIFY(placeholder->isVisibleTo(&w.view));
        QCOMPARE(placeholder->text(),
                 "Nessuna richiesta. Il tester non interroga il servizio quando è inattivo.");

        w.f.transport->fail(); // the status request
        w.f.c().verifyConnection();
        w.reply();
        QVERIFY(!placeholder->isVisibleTo(&w.view));
        QList<QLabel *> lines = w.view.findChildren<QLabel *>("tester.log.entry");
        lines.removeIf([&](QLabel *line) { return !line->isVisibleTo(&w.view); });
        QCOMPARE(lines.size(), 2);
        const auto &entries = w.f.c().entries();
        QVERIFY(!entries.at(0).failed && entries.at(1).failed);
        QCOMPARE(lines.at(0)->text(), entries.at(0).text);
        QCOMPARE(lines.at(1)->text(), entries.at(1).text);
        QVERIFY(lines.at(0)->y() < lines.at(1)->y());
        // The failed line is red, the other not; the lines can be copied.
        const QColor red = TesterPalette::failure(w.view.palette());
        QCOMPARE(lines.at(1)->palette().color(QPalette::WindowText), red);
        QVERIFY(lines.at(0)->palette().color(QPalette::WindowText) != red);
        QVERIFY(lines.at(0)->textInteractionFlags() & Qt::TextSelectableByMouse);
        w.click("tester.log.toggle");
        QVERIFY(w.find("tester.log")->isHidden());
    }

    // "Ferma tutto" and Esc anywhere in the window (even in the address field, even idle) stop
    // all; losing the foreground ends a cue interaction and stops what runs, and only that.
    void stopAllAndDeactivation() {
        Window w;
        QVERIFY(QTest::qWaitForWindowActive(&w.view));
        QTest::keyClick(&w.view, Qt::Key_Escape);
        QCOMPARE(w.f.transport->paths(), QStringList{"/v1/stop"});
        w.reply();
        w.f.c().controlledResonance();
        w.reply();
        auto *address = w.find<QLineEdit>("tester.address");
        address->setFocus();
        QTest::keyClick(address, Qt::Key_Escape);
        QCOMPARE(w.f.transport->last().path(), "/v1/stop");
        w.reply();
        w.click("tester.stop");
        w.reply();
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/stop", "/v1/resonance", "/v1/stop", "/v1/stop"}));

        w.f.transport->clearSent();
        w.view.viewState()->setCueInteractionActive(true);
        const auto entriesBefore = w.f.c().entries().size();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QVERIFY(!w.view.viewState()->cueInteractionActive());
        QCOMPARE(w.f.c().entries().size(), entriesBefore);
        w.f.c().controlledResonance();
        w.reply();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
        QCOMPARE(w.f.c().entries().first().text, "Stop automatico: il tester ha perso il primo piano");
        w.reply();
        Q_EMIT qApp->applicationStateChanged(Qt::ApplicationActive);
        QCOMPARE(w.f.transport->paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
    }

    // Closing the window while the gesture pad is held ends the gesture with a stop; the change the
    // controller then publishes must not reach the half-destroyed window (Qt asserts in debug builds).
    void destroyingTheWindowMidDragStopsTheGesture() {
        ControllerFixture f(QStringLiteral("http://127.0.0.1:59723"), true);
        auto view = std::make_unique<TesterView>(f.controller.get());
        view->viewState()->setResonancePage(ResonancePage::gesture);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
        auto *pad = vibrelle::testing::namedWidget<GesturePad>(*view, "tester.gesture.pad");
        QTest::mousePress(pad, Qt::LeftButton, {}, pad->rect().center());
        f.transport->replyOk();
        QCOMPARE(f.transport->paths(), QStringList{"/v1/resonance"});
        view.reset();
        f.transport->replyOk();
        QCOMPARE(f.transport->paths(), (QStringList{"/v1/resonance", "/v1/stop"}));
        QVERIFY(!f.c().gestureWanted());
    }
};

QTEST_MAIN(TesterViewTest)
#include "test_ui_view.moc"
