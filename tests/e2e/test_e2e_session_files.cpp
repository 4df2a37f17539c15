// A whole session with the real tester writes no file: HOME, the XDG folders and TMPDIR all point
// into one empty folder, which stays empty through every section, a resonance started and
// stopped, an impulse, a cue pulled, the request log opened, and Ctrl+Q.

#include "E2eRig.h"

#include <QtTest>

using namespace vibrelle::e2e;

class SessionFilesTest : public QObject {
    Q_OBJECT

    Rig m_rig;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(&error), qPrintable(error));
    }

    void everySectionWritesNothing() {
        Session s(m_rig);
        // The section rows are enabled again only once the stop has been answered: clickAndAwait
        // clicks again when the first click came early.
        QVERIFY2(s.launch() && s.connectToSim() && s.startControlledResonance() &&
                     s.clickAndAwait("resonance", "tester.controlled.stop", "/v1/stop") &&
                     s.click("resonance", "tester.section.impulses") &&
                     s.clickAndAwait("impulses", "tester.impulses.crisp", "/v1/impulses") &&
                     s.click("impulses", "tester.section.billiards"),
                 qPrintable(s.error));

        // Pulling the cue to the left and letting go: a resonance while pulling, a stop on release.
        const qsizetype resonances = s.requests("/v1/resonance").size(), stops = s.requests("/v1/stop").size();
        const QPoint pad = m_rig.layout.value("billiards/tester.billiards.pad").center();
        QStringList drag{"mousemove", "--window", QString::number(s.window), QString::number(pad.x()),
                         QString::number(pad.y()), "mousedown", "1"};
        for (int step = 1; step <= 4; ++step)
            drag << "sleep" << "0.08" << "mousemove" << "--window" << QString::number(s.window)
                 << QString::number(pad.x() - 40 * step) << QString::number(pad.y());
        QVERIFY2(s.xdotool(drag << "sleep" << "0.2" << "mouseup" << "1"), qPrintable(s.error));
        QVERIFY2(waitFor([&] { return s.requests("/v1/resonance").size() > resonances &&
                                      s.requests("/v1/stop").size() > stops; }, 3000),
                 "pulling the cue sent no resonance and stop");

        QVERIFY2(s.click("billiards", "tester.log.toggle") && s.click("billiards", "tester.section.resonance") &&
                     s.xdotool({"key", "ctrl+q"}),
                 qPrintable(s.error));
        QVERIFY2(waitFor([&] { return s.exited(); }, 6000), "the tester did not quit on Ctrl+Q");
        QCOMPARE(s.tester.process.exitCode(), 0);
        // Anything at all below the folder, including inside the runtime and temporary folders.
        const QStringList written = s.tester.filesWritten();
        QVERIFY2(written.isEmpty(), qPrintable("the session wrote: " + written.join(", ")));
    }
};

QTEST_MAIN(SessionFilesTest)
#include "test_e2e_session_files.moc"
