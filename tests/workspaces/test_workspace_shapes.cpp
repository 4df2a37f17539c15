#include "ui/pads/CuePadGeometry.h"
#include "ui/pads/ImpulseTrace.h"

#include <QtTest>

#include <algorithm>
#include <limits>

using namespace vibrelle::ui;

class WorkspaceShapesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void traceCheckValues_data();
    void traceCheckValues();
    void traceDipsBelowBaselineOnlyWhenCrisp_data();
    void traceDipsBelowBaselineOnlyWhenCrisp();
    void tracePathStartsOnBaselineAndRunsThroughEveryPoint();

    void cuePadGeometry_data();
    void cuePadGeometry();
    void cuePadKeepsTheCueWithinItsTravel_data();
    void cuePadKeepsTheCueWithinItsTravel();
    void cuePadSightsAndRail();
};

namespace {

const QSizeF traceBox(200, 44);

double fractionOfHeight(const QPointF &point) {
    return point.y() / traceBox.height();
}

} // namespace

void WorkspaceShapesTest::traceCheckValues_data() {
    QTest::addColumn<double>("softness");
    QTest::addColumn<double>("atMiddle"); // i = 40, t = 0.5
    QTest::addColumn<double>("first");    // i = 0
    QTest::addColumn<double>("peak");     // i = 34, the highest point
    QTest::newRow("crisp") << 0.0 << 0.7654 << 0.8000 << 0.1087;
    QTest::newRow("natural") << 0.5 << 0.3306 << 0.8000 << 0.1014;
    QTest::newRow("soft") << 1.0 << 0.1934 << 0.7969 << 0.1005;
}

void WorkspaceShapesTest::traceCheckValues() {
    QFETCH(double, softness);
    QFETCH(double, atMiddle);
    QFETCH(double, first);
    QFETCH(double, peak);

    const QList<QPointF> points = impulseTracePoints(softness, traceBox);
    QCOMPARE(points.size(), 81);
    QVERIFY(qAbs(fractionOfHeight(points.at(40)) - atMiddle) < 1e-4);
    QCOMPARE(points.at(40).x(), 100.0);
    QVERIFY(qAbs(fractionOfHeight(points.at(0)) - first) < 1e-4);
    QVERIFY(qAbs(fractionOfHeight(points.at(34)) - peak) < 1e-4);

    // y grows downward: the peak is the smallest y of the whole trace.
    const auto highest = std::min_element(points.begin(), points.end(),
                                          [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
    QCOMPARE(std::distance(points.begin(), highest), 34);
}

void WorkspaceShapesTest::traceDipsBelowBaselineOnlyWhenCrisp_data() {
    QTest::addColumn<double>("softness");
    QTest::addColumn<bool>("dips");
    QTest::newRow("crisp") << 0.0 << true;
    QTest::newRow("natural") << 0.5 << false;
    QTest::newRow("soft") << 1.0 << false;
}

void WorkspaceShapesTest::traceDipsBelowBaselineOnlyWhenCrisp() {
    QFETCH(double, softness);
    QFETCH(bool, dips);

    const QList<QPointF> points = impulseTracePoints(softness, traceBox);
    const double baseline = 0.8 * traceBox.height();
    const auto lowest = std::max_element(points.begin(), points.end(),
                                         [](const QPointF &a, const QPointF &b) { return a.y() < b.y(); });
    if (dips) {
        QCOMPARE(std::distance(points.begin(), lowest), 46);
        QVERIFY(qAbs(fractionOfHeight(*lowest) - 0.9388) < 1e-4);
    } else {
        QVERIFY(lowest->y() <= baseline + 1e-9);
    }
}

void WorkspaceShapesTest::tracePathStartsOnBaselineAndRunsThroughEveryPoint() {
    for (const double softness : {0.0, 0.5, 1.0}) {
        const QPainterPath path = impulseTracePath(softness, traceBox);
        QVERIFY(path.elementAt(0).isMoveTo());
        QCOMPARE(QPointF(path.elementAt(0)), QPointF(0, 0.8 * traceBox.height()));

        // One straight segment to each point; a zero-length first segment (the crisp and
        // natural traces start exactly on the baseline) leaves no element of its own.
        QList<QPointF> expected{QPointF(0, 0.8 * traceBox.height())};
        for (const QPointF &point : impulseTracePoints(softness, traceBox)) {
            if (point != expected.last()) {
                expected.append(point);
            }
        }
        QCOMPARE(path.elementCount(), expected.size());
        for (int i = 1; i < path.elementCount(); ++i) {
            QVERIFY(path.elementAt(i).isLineTo());
            QCOMPARE(QPointF(path.elementAt(i)), expected.at(i));
        }
        // Open: it ends at the right edge, not back at the start.
        QCOMPARE(QPointF(path.elementAt(path.elementCount() - 1)).x(), traceBox.width());
    }
}

void WorkspaceShapesTest::cuePadGeometry_data() {
    QTest::addColumn<double>("charge");
    QTest::addColumn<double>("pulledBack");
    QTest::newRow("rest") << 0.0 << 0.0;
    QTest::newRow("half") << 0.5 << 45.0;
    QTest::newRow("full") << 1.0 << 90.0;
}

void WorkspaceShapesTest::cuePadGeometry() {
    QFETCH(double, charge);
    QFETCH(double, pulledBack);

    const CuePadGeometry g = vibrelle::ui::cuePadGeometry(500, charge);
    QCOMPARE(g.bounds, QRectF(0, 0, 500, 164));
    QCOMPARE(g.ballCenter, QPointF(345, 76));
    QCOMPARE(g.tip.center(), QPointF(324 - pulledBack, 76));
    QCOMPARE(g.tip.size(), QSizeF(5, 5));
    QCOMPARE(g.cue.left(), 168 - pulledBack);
    QCOMPARE(g.cue.right(), 324 - pulledBack);
    QCOMPARE(g.cue.center().y(), 76.0);
    QCOMPARE(g.cue.height(), 5.0);
    QCOMPARE(g.cueShadow.center(), QPointF(g.cue.center().x(), 80));
    QCOMPARE(g.cueShadow.size(), QSizeF(156, 7));
    // The aim line runs from just right of the ball to 32 short of the right edge and never moves.
    QCOMPARE(g.aimLine, QLineF(368, 76, 468, 76));
    QCOMPARE(g.hintCenter, QPointF(250, 125));
}

void WorkspaceShapesTest::cuePadKeepsTheCueWithinItsTravel_data() {
    QTest::addColumn<double>("charge");
    QTest::addColumn<double>("tipX");
    QTest::newRow("negative") << -0.4 << 324.0;
    QTest::newRow("beyond full") << 1.7 << 234.0;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 324.0;
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << 324.0;
}

void WorkspaceShapesTest::cuePadKeepsTheCueWithinItsTravel() {
    QFETCH(double, charge);
    QFETCH(double, tipX);
    QCOMPARE(vibrelle::ui::cuePadGeometry(500, charge).tip.center().x(), tipX);
}

void WorkspaceShapesTest::cuePadSightsAndRail() {
    const CuePadGeometry g = vibrelle::ui::cuePadGeometry(500, 0);
    const QList<QPointF> expected{{13, 13}, {250, 13}, {487, 13}, {13, 151}, {250, 151}, {487, 151}};
    QCOMPARE(g.sights, expected);
    QCOMPARE(g.rail, QRectF(10, 10, 480, 144));
    // The ball follows the width; the sights stay 13 from the edges.
    const CuePadGeometry narrow = vibrelle::ui::cuePadGeometry(300, 0);
    QCOMPARE(narrow.ballCenter.x(), 207.0);
    QCOMPARE(narrow.sights.at(2), QPointF(287, 13));
}

QTEST_APPLESS_MAIN(WorkspaceShapesTest)
#include "test_workspace_shapes.moc"
