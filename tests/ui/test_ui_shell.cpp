// The quit path: the termination handshake on virtual time, the window's close and
// Ctrl+Q, and termination signals.

#include "app/SignalWatcher.h"
#include "app/TerminationHandshake.h"
#include "app/TesterShell.h"
#include "support/ControllerFixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>

using vibrelle::TerminationHandshake;
using vibrelle::TesterShell;
using vibrelle::testing::ControllerFixture;
using Reply = TerminationHandshake::Reply;

namespace {

// A handshake on the fixture's clock that counts its answers.
struct Handshake {
    ControllerFixture f;
    int terminations = 0;
    TerminationHandshake handshake{f.clock, [this] { ++terminations; }};

    Handshake() { handshake.setController(f.controller.get()); }

    void startControlled() {
        f.c().controlledResonance();
        f.transport->replyOk();
        f.transport->clearSent();
    }
    // One turn of the event loop.
    void turn() { QCoreApplication::processEvents(); }
};

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void idleQuitAnswersOnTheNextTurn() {
        Handshake h;
        QCOMPARE(h.handshake.requestTermination(), Reply::terminateLater);
        QCOMPARE(h.terminations, 0); // never inside the request itself
        QVERIFY(h.f.transport->sent().isEmpty());
        h.turn();
        QCOMPARE(h.terminations, 1);
        QVERIFY(!h.handshake.awaitingTermination());

        // The fallback finds the request answered and does nothing.
        h.f.advance(3.0);
        h.turn();
        QCOMPARE(h.terminations, 1);
    }

    void runningEffectQuitsAfterTheStopReply() {
        Handshake h;
        h.startControlled();
        QCOMPARE(h.handshake.requestTermination(), Reply::terminateLater);
        QCOMPARE(h.f.transport->paths(), QStringList{QStringLiteral("/v1/stop")});
        QCOMPARE(h.f.c().entries().first().text, QStringLiteral("Stop automatico: chiusura del tester"));

        h.f.advance(1.0);
        h.turn();
        QCOMPARE(h.terminations, 0);
        h.f.transport->replyOk();
        QCOMPARE(h.terminations, 0);
        h.turn();
        QCOMPARE(h.terminations, 1);

        h.f.advance(3.0);
        h.turn();
        QCOMPARE(h.terminations, 1);
    }

    void stalledServiceQuitsAtTheFallback() {
        Handshake h;
        h.startControlled();
        h.handshake.requestTermination();
        h.f.advance(2.49);
        h.turn();
        QCOMPARE(h.terminations, 0);
        h.f.advance(0.01);
        h.turn();
        QCOMPARE(h.terminations, 1);

        // The late reply finds the request answered.
        h.f.transport->replyOk();
        h.turn();
        QCOMPARE(h.terminations, 1);
    }

    void secondRequestQuitsAtOnce() {
        Handshake h;
        h.startControlled();
        h.handshake.quit();
        QCOMPARE(h.terminations, 0);
        h.handshake.quit();
        QCOMPARE(h.terminations, 1);

        h.f.transport->replyOk();
        h.f.advance(3.0);
        h.turn();
        QCOMPARE(h.terminations, 1);
    }

    void withoutControllerQuitsAtOnce() {
        ControllerFixture f;
        int terminations = 0;
        TerminationHandshake handshake(f.clock, [&terminations] { ++terminations; });
        QCOMPARE(handshake.requestTermination(), Reply::terminateNow);
        handshake.quit();
        QCOMPARE(terminations, 1);
        QVERIFY(f.transport->sent().isEmpty());

        // A controller that has gone is as good as none.
        handshake.setController(f.controller.get());
        f.controller.reset();
        QCOMPARE(handshake.requestTermination(), Reply::terminateNow);
    }

    void windowCloseAndCtrlQGoThroughTheHandshake() {
        ControllerFixture f;
        int terminations = 0;
        TesterShell shell(f.controller.get(), f.clock, [&terminations] { ++terminations; });
        QWidget *window = shell.window();
        QCOMPARE(window->size(), QSize(840, 740));
        QCOMPARE(window->windowTitle(), QStringLiteral("Vibrelle API Tester"));

        // Not shown yet: the shell does not know the controller.
        QVERIFY(!shell.handshake()->controller());
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(shell.handshake()->controller(), f.controller.get());

        // Closing asks to quit; the window stays until the answer.
        f.c().controlledResonance();
        f.transport->replyOk();
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QVERIFY(shell.handshake()->awaitingTermination());
        QCOMPARE(f.transport->last().path(), QStringLiteral("/v1/stop"));
        f.transport->replyOk();
        QCoreApplication::processEvents();
        QCOMPARE(terminations, 1);
        // Once terminating, the window closes.
        QVERIFY(window->close());
    }

    void ctrlQRequestsQuit() {
        ControllerFixture f;
        int terminations = 0;
        TesterShell shell(f.controller.get(), f.clock, [&terminations] { ++terminations; });
        shell.window()->show();
        QVERIFY(QTest::qWaitForWindowActive(shell.window()));
        QTest::keyClick(shell.window(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(shell.handshake()->awaitingTermination());
        QCoreApplication::processEvents();
        QCOMPARE(terminations, 1);
    }

    void shellWindowKeepsItsMinimumSize() {
        ControllerFixture f;
        TesterShell shell(f.controller.get(), f.clock, [] {});
        shell.window()->show();
        shell.window()->resize(400, 300);
        QVERIFY(shell.window()->width() >= 790);
        QVERIFY(shell.window()->height() >= 650);
    }

    void terminationSignalsArriveOnTheEventLoop() {
        vibrelle::SignalWatcher watcher;
        QSignalSpy spy(&watcher, &vibrelle::SignalWatcher::terminationRequested);
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            spy.clear();
            QVERIFY(::raise(signalNumber) == 0);
            QVERIFY(spy.wait(5000));
            QCOMPARE(spy.first().first().toInt(), signalNumber);
        }
    }
};

QTEST_MAIN(ShellTest)
#include "test_ui_shell.moc"
