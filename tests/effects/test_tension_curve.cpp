// The tension curve: worked values, every clamp and fallback, non-finite inputs,
// equality, and that sampling never allocates.

#include "core/TensionCurve.h"
#include "core/TesterController.h"

#include "EffectsFixture.h"

#include <QTest>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <random>

// Counts heap allocations made while `countingAllocations` is set. Under AddressSanitizer
// the sanitizer owns the allocator, so the count is not taken there.
#if defined(__SANITIZE_ADDRESS__)
#define VIBRELLE_COUNTS_ALLOCATIONS 0
#else
#define VIBRELLE_COUNTS_ALLOCATIONS 1
namespace {
std::atomic<bool> countingAllocations{false};
std::atomic<int> allocations{0};
} // namespace

void *operator new(std::size_t size) {
    if (countingAllocations.load()) {
        ++allocations;
    }
    if (void *p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}

#endif

using vibrelle::TensionCurve;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TensionCurve initialCurve() {
    return TensionCurve{1.7, 0.08, 0.8, 8, 55, 0.1, 0.9};
}

// A curve with exponent 1 and the given end points, for checking end-point handling alone.
TensionCurve linear(double li, double hi, double lc, double hc, double ls, double hs) {
    return TensionCurve{1, li, hi, lc, hc, ls, hs};
}

bool sameSample(const TensionCurve::Sample &a, const TensionCurve::Sample &b) {
    return a.intensity == b.intensity && a.cadence == b.cadence && a.sharpness == b.sharpness;
}

QString describe(const TensionCurve::Sample &s) {
    return QStringLiteral("(%1, %2, %3)")
        .arg(s.intensity, 0, 'g', 17)
        .arg(s.cadence, 0, 'g', 17)
        .arg(s.sharpness, 0, 'g', 17);
}

} // namespace

class TensionCurveTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controllerStartsWithTheInitialCurve();
    void workedValues_data();
    void workedValues();
    void chargeZeroAndOneGiveTheEndPointsExactly();
    void nonFiniteAndOutOfRangeCharges_data();
    void nonFiniteAndOutOfRangeCharges();
    void exponentClampsAndFallbacks_data();
    void exponentClampsAndFallbacks();
    void endPointClampsAndFallbacks_data();
    void endPointClampsAndFallbacks();
    void reversedAndFlatRanges();
    void storesOutOfRangeValuesUnchanged();
    void everyInputSamplesInsideTheRanges();
    void equality();
    void samplingAllocatesNothing();
};

void TensionCurveTest::controllerStartsWithTheInitialCurve() {
    vibrelle::testing::EffectsFixture f;
    QVERIFY(f.c().tensionCurve() == initialCurve());
    QVERIFY(TensionCurve{} == initialCurve());
}

void TensionCurveTest::workedValues_data() {
    QTest::addColumn<double>("charge");
    QTest::addColumn<double>("intensity");
    QTest::addColumn<double>("cadence");
    QTest::addColumn<double>("sharpness");
    QTest::newRow("0") << 0.0 << 0.08 << 8.0 << 0.1;
    QTest::newRow("0.25") << 0.25 << 0.1482 << 12.452 << 0.1758;
    QTest::newRow("0.5") << 0.5 << 0.3016 << 22.466 << 0.3462;
    QTest::newRow("0.75") << 0.75 << 0.5215 << 36.821 << 0.5906;
    QTest::newRow("1") << 1.0 << 0.8 << 55.0 << 0.9;
}

void TensionCurveTest::workedValues() {
    QFETCH(double, charge);
    QFETCH(double, intensity);
    QFETCH(double, cadence);
    QFETCH(double, sharpness);
    const auto s = initialCurve().sample(charge);
    // Fractions to four decimals, cadence to three.
    VERIFY_NEAR(s.intensity, intensity, 0.00005);
    VERIFY_NEAR(s.cadence, cadence, 0.0005);
    VERIFY_NEAR(s.sharpness, sharpness, 0.00005);
}

void TensionCurveTest::chargeZeroAndOneGiveTheEndPointsExactly() {
    const TensionCurve curve{2.3, 0.21, 0.77, 3.5, 41, 0.33, 0.66};
    const auto start = curve.sample(0);
    QCOMPARE(start.intensity, 0.21);
    QCOMPARE(start.cadence, 3.5);
    QCOMPARE(start.sharpness, 0.33);
    const auto end = curve.sample(1);
    VERIFY_NEAR(end.intensity, 0.77, 1e-12);
    VERIFY_NEAR(end.cadence, 41, 1e-12);
    VERIFY_NEAR(end.sharpness, 0.66, 1e-12);

    // Strictly rising in between, all three along the same power.
    double previous = -1;
    for (int i = 0; i <= 100; ++i) {
        const double c = i / 100.0;
        const auto s = curve.sample(c);
        const double shape = std::pow(c, 2.3);
        VERIFY_NEAR(s.intensity, 0.21 + 0.56 * shape, 1e-12);
        VERIFY_NEAR(s.cadence, 3.5 + 37.5 * shape, 1e-12);
        VERIFY_NEAR(s.sharpness, 0.33 + 0.33 * shape, 1e-12);
        QVERIFY(s.intensity > previous);
        previous = s.intensity;
    }
}

void TensionCurveTest::nonFiniteAndOutOfRangeCharges_data() {
    QTest::addColumn<double>("charge");
    QTest::addColumn<double>("behavesAs");
    QTest::newRow("NaN") << kNaN << 0.0;
    QTest::newRow("-inf") << -kInf << 0.0;
    QTest::newRow("+inf is not finite, so 0") << kInf << 0.0;
    QTest::newRow("-0.3") << -0.3 << 0.0;
    QTest::newRow("-0") << -0.0 << 0.0;
    QTest::newRow("1.7") << 1.7 << 1.0;
    QTest::newRow("1e300") << 1e300 << 1.0;
    QTest::newRow("just above 1") << std::nextafter(1.0, 2.0) << 1.0;
}

void TensionCurveTest::nonFiniteAndOutOfRangeCharges() {
    QFETCH(double, charge);
    QFETCH(double, behavesAs);
    const auto curve = initialCurve();
    const auto got = curve.sample(charge);
    const auto want = curve.sample(behavesAs);
    QVERIFY2(sameSample(got, want), qPrintable(describe(got) + QStringLiteral(" vs ") + describe(want)));
}

void TensionCurveTest::exponentClampsAndFallbacks_data() {
    QTest::addColumn<double>("exponent");
    QTest::addColumn<double>("effective");
    QTest::newRow("0.1 -> 0.25") << 0.1 << 0.25;
    QTest::newRow("0 -> 0.25") << 0.0 << 0.25;
    QTest::newRow("-3 -> 0.25") << -3.0 << 0.25;
    QTest::newRow("exactly 0.25") << 0.25 << 0.25;
    QTest::newRow("exactly 4") << 4.0 << 4.0;
    QTest::newRow("9 -> 4") << 9.0 << 4.0;
    QTest::newRow("NaN -> 1") << kNaN << 1.0;
    QTest::newRow("+inf -> 1, not 4") << kInf << 1.0;
    QTest::newRow("-inf -> 1, not 0.25") << -kInf << 1.0;
    QTest::newRow("2.5 unchanged") << 2.5 << 2.5;
}

void TensionCurveTest::exponentClampsAndFallbacks() {
    QFETCH(double, exponent);
    QFETCH(double, effective);
    TensionCurve curve = initialCurve();
    curve.exponent = exponent;
    for (double c : {0.0, 0.1, 0.3, 0.5, 0.9, 1.0}) {
        const auto s = curve.sample(c);
        const double shape = std::pow(c, effective);
        VERIFY_NEAR(s.intensity, 0.08 + 0.72 * shape, 1e-12);
        VERIFY_NEAR(s.cadence, 8 + 47 * shape, 1e-10);
        VERIFY_NEAR(s.sharpness, 0.1 + 0.8 * shape, 1e-12);
    }
}

void TensionCurveTest::endPointClampsAndFallbacks_data() {
    QTest::addColumn<double>("li");
    QTest::addColumn<double>("hi");
    QTest::addColumn<double>("lc");
    QTest::addColumn<double>("hc");
    QTest::addColumn<double>("ls");
    QTest::addColumn<double>("hs");
    // What the six fields are brought to before interpolating.
    QTest::addColumn<double>("eli");
    QTest::addColumn<double>("ehi");
    QTest::addColumn<double>("elc");
    QTest::addColumn<double>("ehc");
    QTest::addColumn<double>("els");
    QTest::addColumn<double>("ehs");

    QTest::newRow("in range") << 0.2 << 0.7 << 5.0 << 50.0 << 0.3 << 0.6 << 0.2 << 0.7 << 5.0 << 50.0 << 0.3
                              << 0.6;
    QTest::newRow("lowCadence 0 -> 1, highCadence 90 -> 60")
        << 0.2 << 0.7 << 0.0 << 90.0 << 0.3 << 0.6 << 0.2 << 0.7 << 1.0 << 60.0 << 0.3 << 0.6;
    QTest::newRow("cadences NaN -> 1 and 60")
        << 0.2 << 0.7 << kNaN << kNaN << 0.3 << 0.6 << 0.2 << 0.7 << 1.0 << 60.0 << 0.3 << 0.6;
    QTest::newRow("fractions NaN -> 0 and 1")
        << kNaN << kNaN << 5.0 << 50.0 << kNaN << kNaN << 0.0 << 1.0 << 5.0 << 50.0 << 0.0 << 1.0;
    // An infinite field takes its fallback, not the bound it lies beyond.
    QTest::newRow("start values +inf -> fallback low bound")
        << kInf << 0.7 << kInf << 50.0 << kInf << 0.6 << 0.0 << 0.7 << 1.0 << 50.0 << 0.0 << 0.6;
    QTest::newRow("end values -inf -> fallback high bound")
        << 0.2 << -kInf << 5.0 << -kInf << 0.3 << -kInf << 0.2 << 1.0 << 5.0 << 60.0 << 0.3 << 1.0;
    QTest::newRow("all out of range")
        << -0.5 << 1.5 << -4.0 << 61.0 << -0.1 << 1.5 << 0.0 << 1.0 << 1.0 << 60.0 << 0.0 << 1.0;
    QTest::newRow("start above the top, end below the bottom")
        << 1.2 << -0.2 << 75.0 << 0.5 << 2.0 << -1.0 << 1.0 << 0.0 << 60.0 << 1.0 << 1.0 << 0.0;
    QTest::newRow("exact bounds") << 0.0 << 1.0 << 1.0 << 60.0 << 0.0 << 1.0 << 0.0 << 1.0 << 1.0 << 60.0
                                  << 0.0 << 1.0;
}

void TensionCurveTest::endPointClampsAndFallbacks() {
    QFETCH(double, li);
    QFETCH(double, hi);
    QFETCH(double, lc);
    QFETCH(double, hc);
    QFETCH(double, ls);
    QFETCH(double, hs);
    QFETCH(double, eli);
    QFETCH(double, ehi);
    QFETCH(double, elc);
    QFETCH(double, ehc);
    QFETCH(double, els);
    QFETCH(double, ehs);
    const TensionCurve curve = linear(li, hi, lc, hc, ls, hs);
    for (double c : {0.0, 0.25, 0.5, 1.0}) {
        const auto s = curve.sample(c);
        VERIFY_NEAR(s.intensity, eli + (ehi - eli) * c, 1e-12);
        VERIFY_NEAR(s.cadence, elc + (ehc - elc) * c, 1e-10);
        VERIFY_NEAR(s.sharpness, els + (ehs - els) * c, 1e-12);
    }
    // A curve whose every field is unusable still runs over the full ranges, linearly.
    const TensionCurve broken{kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN};
    const auto mid = broken.sample(0.5);
    VERIFY_NEAR(mid.intensity, 0.5, 1e-12);
    VERIFY_NEAR(mid.cadence, 30.5, 1e-12);
    VERIFY_NEAR(mid.sharpness, 0.5, 1e-12);
}

void TensionCurveTest::reversedAndFlatRanges() {
    // A start value above its end value makes the parameter fall as the charge rises.
    TensionCurve falling = initialCurve();
    falling.lowIntensity = 0.9;
    falling.highIntensity = 0.2;
    QCOMPARE(falling.sample(0).intensity, 0.9);
    VERIFY_NEAR(falling.sample(1).intensity, 0.2, 1e-12);
    double previous = 2;
    for (int i = 0; i <= 20; ++i) {
        const double value = falling.sample(i / 20.0).intensity;
        QVERIFY(value < previous);
        previous = value;
    }
    // The other two parameters are untouched by the reversal.
    VERIFY_NEAR(falling.sample(0.5).cadence, 22.466, 0.0005);

    // Equal start and end values give a constant.
    const TensionCurve flat{1.7, 0.4, 0.4, 20, 20, 0.7, 0.7};
    for (double c : {0.0, 0.13, 0.5, 0.99, 1.0}) {
        const auto s = flat.sample(c);
        QCOMPARE(s.intensity, 0.4);
        QCOMPARE(s.cadence, 20.0);
        QCOMPARE(s.sharpness, 0.7);
    }
}

void TensionCurveTest::storesOutOfRangeValuesUnchanged() {
    TensionCurve curve = initialCurve();
    curve.highSharpness = 1.5;
    curve.exponent = 9;
    curve.lowCadence = -3;
    QCOMPARE(curve.highSharpness, 1.5);
    QCOMPARE(curve.exponent, 9.0);
    QCOMPARE(curve.lowCadence, -3.0);
    QCOMPARE(curve.sample(1).sharpness, 1.0);
    QCOMPARE(curve.sample(0).cadence, 1.0);

    // The controller keeps what it is given as well.
    vibrelle::testing::EffectsFixture f;
    f.c().setTensionCurve(curve);
    QCOMPARE(f.c().tensionCurve().highSharpness, 1.5);
    QCOMPARE(f.c().tensionCurve().exponent, 9.0);
    QCOMPARE(f.c().tensionCurve().lowCadence, -3.0);
}

void TensionCurveTest::everyInputSamplesInsideTheRanges() {
    const double specials[] = {kNaN, kInf, -kInf, -1e300, -2, -0.0, 0, 0.02, 0.5, 1, 1.0000001, 7, 61, 1e300};
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(std::size(specials)) - 1);
    std::uniform_real_distribution<double> any(-100, 100);
    auto draw = [&] { return rng() % 3 == 0 ? any(rng) : specials[pick(rng)]; };
    for (int i = 0; i < 20000; ++i) {
        const TensionCurve curve{draw(), draw(), draw(), draw(), draw(), draw(), draw()};
        const auto s = curve.sample(draw());
        QVERIFY(s.intensity >= 0 && s.intensity <= 1);
        QVERIFY(s.cadence >= 1 && s.cadence <= 60);
        QVERIFY(s.sharpness >= 0 && s.sharpness <= 1);
    }
}

void TensionCurveTest::equality() {
    const TensionCurve a = initialCurve();
    TensionCurve b = initialCurve();
    QVERIFY(a == b);
    QVERIFY(!(a != b));

    double TensionCurve::*const fields[] = {&TensionCurve::exponent,      &TensionCurve::lowIntensity,
                                            &TensionCurve::highIntensity, &TensionCurve::lowCadence,
                                            &TensionCurve::highCadence,   &TensionCurve::lowSharpness,
                                            &TensionCurve::highSharpness};
    for (auto field : fields) {
        TensionCurve changed = a;
        changed.*field += 0.001;
        QVERIFY(!(changed == a));
        QVERIFY(changed != a);

        // A NaN in any one field makes the curve unequal to everything, itself and a copy included.
        TensionCurve withNan = a;
        withNan.*field = kNaN;
        const TensionCurve copy = withNan;
        QVERIFY(!(withNan == withNan));
        QVERIFY(!(withNan == copy));
        QVERIFY(withNan != copy);
    }

    // Float comparison: zero equals minus zero.
    TensionCurve zero = a;
    zero.lowIntensity = 0.0;
    TensionCurve minusZero = a;
    minusZero.lowIntensity = -0.0;
    QVERIFY(zero == minusZero);
}

void TensionCurveTest::samplingAllocatesNothing() {
#if !VIBRELLE_COUNTS_ALLOCATIONS
    QSKIP("allocations are counted only without AddressSanitizer");
#else
    // The counter itself sees an ordinary allocation.
    allocations = 0;
    countingAllocations = true;
    auto probe = std::make_unique<double>(1.0);
    countingAllocations = false;
    QVERIFY(allocations.load() > 0);

    const TensionCurve curves[] = {initialCurve(), TensionCurve{kNaN, kInf, -kInf, 0, 90, -1, 2}};
    double sink = *probe;
    allocations = 0;
    countingAllocations = true;
    for (const auto &curve : curves) {
        for (int i = -10; i <= 30; ++i) {
            const auto s = curve.sample(i / 20.0);
            sink += s.intensity + s.cadence + s.sharpness;
        }
        sink += curve.sample(kNaN).cadence;
    }
    countingAllocations = false;
    QCOMPARE(allocations.load(), 0);
    QVERIFY(sink > 0);
#endif
}

QTEST_GUILESS_MAIN(TensionCurveTest)
#include "test_tension_curve.moc"
