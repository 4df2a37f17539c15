// A whole session with the real tester writes no file: its home, its XDG configuration,
// cache, data, state and runtime folders and its temporary folder all point into one
// empty folder, and after visiting every section, starting and stopping a resonance,
// playing an impulse, opening the request log and quitting, that folder is still empty
// (the runtime and temporary folders, which a session provides, stay empty too).

#include "E2eRig.h"

#include <QtTest>

using namespace vibrelle::e2e;

class SessionFilesTest : public QObject {
    Q_OBJECT

private:
    Rig m_rig;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_rig.start(&error), qPrintable(error));
    }

    void everySectionWritesNothing() {
        Session s(m_rig);
        QString error;
        QVERIFY2(s.launch(&error) && s.connectToSim(&error), qPrintable(error));

        // Resonance: start the controlled resonance and stop it with its own button.
        QVERIFY2(s.startControlledResonance(&error), qPrintable(error));
        QVERIFY2(s.clickAndAwait(QStringLiteral("resonance"), QStringLiteral("tester.controlled.stop"),
                                 QStringLiteral("/v1/stop"), &error),
                 qPrintable(error));

        // Impulses: one impulse from a card. The section rows are enabled again only once
        // the stop has been answered; clickAndAwait clicks again if the first click was early.
        QVERIFY2(s.driver.click(QStringLiteral("resonance"), QStringLiteral("tester.section.impulses"), &error),
                 qPrintable(error));
        QVERIFY2(s.clickAndAwait(QStringLiteral("impulses"), QStringLiteral("tester.impulses.crisp"),
                                 QStringLiteral("/v1/impulses"), &error),
                 qPrintable(error));

        // Billiards: pull the cue to the left and let go (a resonance while pulling, a stop
        // when released), then open the request log.
        QVERIFY2(s.driver.click(QStringLiteral("impulses"), QStringLiteral("tester.section.billiards"), &error),
                 qPrintable(error));
        const auto resonances = s.rig.sim.requests(s.clientId, QStringLiteral("/v1/resonance")).size();
        const auto stops = s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).size();
        QVERIFY2(s.driver.drag(QStringLiteral("billiards"), QStringLiteral("tester.billiards.pad"), -160, &error),
                 qPrintable(error));
        QVERIFY2(waitUntil(
                     [&] {
                         return s.rig.sim.requests(s.clientId, QStringLiteral("/v1/resonance")).size() > resonances &&
                                s.rig.sim.requests(s.clientId, QStringLiteral("/v1/stop")).size() > stops;
                     },
                     3000),
                 "pulling the cue sent no resonance and stop");
        QVERIFY2(s.driver.click(QStringLiteral("billiards"), QStringLiteral("tester.log.toggle"), &error),
                 qPrintable(error));
        // Back to the resonance section and quit with Ctrl+Q.
        QVERIFY2(s.driver.click(QStringLiteral("billiards"), QStringLiteral("tester.section.resonance"), &error),
                 qPrintable(error));
        QVERIFY2(s.driver.key(QStringLiteral("ctrl+q"), &error), qPrintable(error));
        QVERIFY2(waitUntil([&] { return s.tester.finished(); }, 6000), "the tester did not quit on Ctrl+Q");
        QCOMPARE(s.tester.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(s.tester.process().exitCode(), 0);

        // Anything at all below the folder, including inside the runtime and temporary folders.
        const QStringList written = s.tester.filesWritten();
        QVERIFY2(written.isEmpty(), qPrintable(QStringLiteral("the session wrote: %1").arg(written.join(", "))));
    }
};

QTEST_MAIN(SessionFilesTest)
#include "test_e2e_session_files.moc"
