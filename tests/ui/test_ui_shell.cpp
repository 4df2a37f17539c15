// The termination handshake on virtual time. The window's close, Ctrl+Q and the termination signals
// reach it in the real tester: test_e2e_quit_paths.

#include "app/TerminationHandshake.h"
#include "support/ControllerFixture.h"

#include <QtTest>

using vibrelle::TerminationHandshake;
using vibrelle::testing::ControllerFixture;
using Reply = TerminationHandshake::Reply;

namespace {

// A handshake on the fixture's clock that counts its answers.
struct Handshake {
    ControllerFixture f;
    int terminations = 0;
    TerminationHandshake handshake{f.clock, [this] { ++terminations; }};

    explicit Handshake(bool running) {
        handshake.setController(f.controller.get());
        if (running) {
            f.c().controlledResonance();
            f.transport->replyOk();
            f.transport->clearSent();
        }
    }
    // Moves virtual time on, lets one turn of the event loop run, and counts the answers.
    int after(double seconds = 0) {
        if (seconds > 0) {
            f.advance(seconds);
        }
        QCoreApplication::processEvents();
        return terminations;
    }
};

} // namespace

class ShellTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The answer comes on a later turn of the event loop, never inside the request, and once.
    void idleQuitAnswersOnTheNextTurn() {
        Handshake h(false);
        QCOMPARE(h.handshake.requestTermination(), Reply::terminateLater);
        QCOMPARE(h.terminations, 0);
        QVERIFY(h.f.transport->sent().isEmpty());
        QCOMPARE(h.after(), 1);
        QVERIFY(!h.handshake.awaitingTermination());
        QCOMPARE(h.after(3.0), 1);
    }

    void runningEffectQuitsAfterTheStopReply() {
        Handshake h(true);
        QCOMPARE(h.handshake.requestTermination(), Reply::terminateLater);
        QCOMPARE(h.f.transport->paths(), QStringList{"/v1/stop"});
        QCOMPARE(h.f.c().entries().first().text, "Stop automatico: chiusura del tester");
        QCOMPARE(h.after(1.0), 0);
        h.f.transport->replyOk();
        QCOMPARE(h.terminations, 0);
        QCOMPARE(h.after(), 1);
        QCOMPARE(h.after(3.0), 1);
    }

    void stalledServiceQuitsAtTheFallback() {
        Handshake h(true);
        h.handshake.requestTermination();
        QCOMPARE(h.after(2.49), 0);
        QCOMPARE(h.after(0.01), 1);
        h.f.transport->replyOk(); // the late reply finds the request answered
        QCOMPARE(h.after(), 1);
    }

    void secondRequestQuitsAtOnce() {
        Handshake h(true);
        h.handshake.quit();
        QCOMPARE(h.terminations, 0);
        h.handshake.quit();
        QCOMPARE(h.terminations, 1);
        h.f.transport->replyOk();
        QCOMPARE(h.after(3.0), 1);
    }

    // No controller, or one that has gone: the answer is "now".
    void withoutControllerQuitsAtOnce() {
        ControllerFixture f;
        int terminations = 0;
        TerminationHandshake handshake(f.clock, [&terminations] { ++terminations; });
        QCOMPARE(handshake.requestTermination(), Reply::terminateNow);
        handshake.quit();
        QCOMPARE(terminations, 1);
        QVERIFY(f.transport->sent().isEmpty());
        handshake.setController(f.controller.get());
        f.controller.reset();
        QCOMPARE(handshake.requestTermination(), Reply::terminateNow);
    }
};

QTEST_MAIN(ShellTest)
#include "test_ui_shell.moc"
