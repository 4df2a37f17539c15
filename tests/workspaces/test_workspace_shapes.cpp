#include "ui/pads/CuePadGeometry.h"
#include "ui/pads/ImpulseTrace.h"

#include <QtTest>

#include <limits>

using namespace vibrelle::ui;

class WorkspaceShapesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Points of the trace as fractions of the box's height (y grows downward; baseline 0.8):
    // the start, the middle, the peak (index 34, the highest point) and the lowest point.
    void impulseTrace_data() {
        QTest::addColumn<double>("softness");
        QTest::addColumn<double>("first");
        QTest::addColumn<double>("middle");
        QTest::addColumn<double>("peak");
        QTest::addColumn<int>("lowestIndex");
        QTest::addColumn<double>("lowest");
        QTest::newRow("crisp dips below the baseline") << 0.0 << 0.8000 << 0.7654 << 0.1087 << 46 << 0.9388;
        QTest::newRow("natural") << 0.5 << 0.8000 << 0.3306 << 0.1014 << 80 << 0.8000;
        QTest::newRow("soft") << 1.0 << 0.7968 << 0.1934 << 0.1005 << 80 << 0.7999;
    }
    void impulseTrace() {
        QFETCH(double, softness);
        QFETCH(double, first);
        QFETCH(double, middle);
        QFETCH(double, peak);
        QFETCH(int, lowestIndex);
        QFETCH(double, lowest);
        const QSizeF box(200, 44);
        const QList<QPointF> points = impulseTracePoints(softness, box);
        QCOMPARE(points.size(), 81);
        const auto near = [&](int i, double fraction) { return qAbs(points[i].y() / 44 - fraction) < 1e-4; };
        QVERIFY(near(0, first));
        QVERIFY(near(40, middle));
        QCOMPARE(points.at(40).x(), 100.0);
        QCOMPARE(points.last().x(), 200.0);
        QVERIFY(near(34, peak));
        QVERIFY(near(lowestIndex, lowest));
        for (const QPointF &p : points) {
            QVERIFY(p.y() >= points.at(34).y() - 1e-9 && p.y() <= points.at(lowestIndex).y() + 1e-9);
        }
        // The path starts on the baseline and runs straight through every point, open at the right edge.
        QPainterPath expected(QPointF(0, 0.8 * 44));
        for (const QPointF &p : points) {
            expected.lineTo(p);
        }
        QCOMPARE(impulseTracePath(softness, box), expected);
    }

    // The cue travels 90 left with the charge, which is clamped (non-finite: at rest);
    // the ball sits at 0.69 of the width, the aim line and sights never move with the charge.
    void cuePadGeometry_data() {
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("charge");
        QTest::addColumn<double>("ballX");
        QTest::addColumn<double>("tipX");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("rest") << 500.0 << 0.0 << 345.0 << 324.0;
        QTest::newRow("half") << 500.0 << 0.5 << 345.0 << 279.0;
        QTest::newRow("full") << 500.0 << 1.0 << 345.0 << 234.0;
        QTest::newRow("negative") << 500.0 << -0.4 << 345.0 << 324.0;
        QTest::newRow("beyond full") << 500.0 << 1.7 << 345.0 << 234.0;
        QTest::newRow("nan") << 500.0 << nan << 345.0 << 324.0;
        QTest::newRow("infinite") << 500.0 << inf << 345.0 << 324.0;
        QTest::newRow("narrow") << 300.0 << 0.5 << 207.0 << 141.0;
    }
    void cuePadGeometry() {
        QFETCH(double, width);
        QFETCH(double, charge);
        QFETCH(double, ballX);
        QFETCH(double, tipX);
        const CuePadGeometry g = vibrelle::ui::cuePadGeometry(width, charge);
        QCOMPARE(g.bounds, QRectF(0, 0, width, 164));
        QCOMPARE(g.rail, QRectF(10, 10, width - 20, 144));
        QCOMPARE(g.ballCenter, QPointF(ballX, 76));
        QCOMPARE(g.tip.center(), QPointF(tipX, 76));
        QCOMPARE(g.tip.size(), QSizeF(5, 5));
        // The cue ends at the tip; its shadow lies 4 below it.
        QCOMPARE(g.cue, QRectF(tipX - 156, 73.5, 156, 5));
        QCOMPARE(g.cueShadow, QRectF(tipX - 156, 76.5, 156, 7));
        QCOMPARE(g.aimLine, QLineF(ballX + 23, 76, width - 32, 76));
        QCOMPARE(g.hintCenter, QPointF(width / 2, 125));
        const QList<QPointF> sights{{13, 13},  {width / 2, 13},  {width - 13, 13},
                                    {13, 151}, {width / 2, 151}, {width - 13, 151}};
        QCOMPARE(g.sights, sights);
    }
};

QTEST_APPLESS_MAIN(WorkspaceShapesTest)
#include "test_workspace_shapes.moc"
