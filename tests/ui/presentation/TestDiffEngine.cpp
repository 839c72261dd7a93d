#include "presentation/DiffEngine.h"

#include <QRandomGenerator>
#include <QtTest>

#include <chrono>

Q_DECLARE_METATYPE(DiffList)

namespace {

std::u16string u16(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

QString describe(const DiffList& diffs)
{
    static const char* names[] = {"DELETE", "INSERT", "EQUAL"};
    QStringList parts;
    for (const Diff& d : diffs)
        parts << QStringLiteral("%1 \"%2\"")
                     .arg(QLatin1String(names[d.operation]), QString::fromUtf16(d.text.data(), int(d.text.size())));
    return parts.join(QStringLiteral(", "));
}

Diff run(DiffOperation op, const QString& text)
{
    return {op, u16(text)};
}

// The first text is EQUAL+DELETE, the second EQUAL+INSERT.
std::pair<std::u16string, std::u16string> rebuild(const DiffList& diffs)
{
    std::u16string first;
    std::u16string second;
    for (const Diff& d : diffs) {
        if (d.operation != DIFF_INSERT)
            first += d.text;
        if (d.operation != DIFF_DELETE)
            second += d.text;
    }
    return {first, second};
}

} // namespace

class TestDiffEngine : public QObject
{
    Q_OBJECT
private slots:
    void diffMain_data();
    void diffMain();
    void randomPairsRebuildBothTexts();
    void longTextsUseLineModeAndStillRebuild();
    void timeoutGivesValidRuns();
    void commonOverlap_data();
    void commonOverlap();
    void halfMatch();
    void cleanupMerge_data();
    void cleanupMerge();
    void cleanupSemanticFactorsOutOverlap();
};

void TestDiffEngine::diffMain_data()
{
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<DiffList>("expected");

    QTest::newRow("one character replaced")
        << QStringLiteral("反应") << QStringLiteral("反映")
        << DiffList{run(DIFF_EQUAL, "反"), run(DIFF_DELETE, "应"), run(DIFF_INSERT, "映")};
    QTest::newRow("equal") << QStringLiteral("反应") << QStringLiteral("反应") << DiffList{run(DIFF_EQUAL, "反应")};
    QTest::newRow("both empty") << QString() << QString() << DiffList{};
    QTest::newRow("first empty") << QString() << QStringLiteral("映") << DiffList{run(DIFF_INSERT, "映")};
    QTest::newRow("second empty") << QStringLiteral("应") << QString() << DiffList{run(DIFF_DELETE, "应")};
    QTest::newRow("first inside second") << QStringLiteral("ab") << QStringLiteral("xaby")
                                         << DiffList{run(DIFF_INSERT, "x"), run(DIFF_EQUAL, "ab"),
                                                     run(DIFF_INSERT, "y")};
    QTest::newRow("second inside first") << QStringLiteral("xaby") << QStringLiteral("ab")
                                         << DiffList{run(DIFF_DELETE, "x"), run(DIFF_EQUAL, "ab"),
                                                     run(DIFF_DELETE, "y")};
    QTest::newRow("two different units each")
        << QStringLiteral("ab") << QStringLiteral("cd") << DiffList{run(DIFF_DELETE, "ab"), run(DIFF_INSERT, "cd")};
    // U+20000 and U+20001 share their high surrogate.
    const QString a = QStringLiteral("a") + QString::fromUcs4(U"\U00020000");
    const QString b = QStringLiteral("a") + QString::fromUcs4(U"\U00020001");
    QTest::newRow("non-BMP differs in second unit")
        << a << b
        << DiffList{run(DIFF_EQUAL, QStringLiteral("a") + QChar(0xD840)), run(DIFF_DELETE, QString(QChar(0xDC00))),
                    run(DIFF_INSERT, QString(QChar(0xDC01)))};
    QTest::newRow("bisection") << QStringLiteral("cat") << QStringLiteral("map")
                               << DiffList{run(DIFF_DELETE, "c"), run(DIFF_INSERT, "m"), run(DIFF_EQUAL, "a"),
                                           run(DIFF_DELETE, "t"), run(DIFF_INSERT, "p")};
    QTest::newRow("star suggestion") << QStringLiteral("A*B") << QStringLiteral("AXB")
                                     << DiffList{run(DIFF_EQUAL, "A"), run(DIFF_DELETE, "*"), run(DIFF_INSERT, "X"),
                                                 run(DIFF_EQUAL, "B")};
    QTest::newRow("half match") << QStringLiteral("1234567890") << QStringLiteral("a345678z")
                                << DiffList{run(DIFF_DELETE, "12"), run(DIFF_INSERT, "a"), run(DIFF_EQUAL, "345678"),
                                            run(DIFF_DELETE, "90"), run(DIFF_INSERT, "z")};
}

void TestDiffEngine::diffMain()
{
    QFETCH(QString, text1);
    QFETCH(QString, text2);
    QFETCH(DiffList, expected);
    const DiffList actual = DiffEngine().diff_main(u16(text1), u16(text2), true);
    QVERIFY2(actual == expected, qPrintable(describe(actual) + " != " + describe(expected)));
}

void TestDiffEngine::randomPairsRebuildBothTexts()
{
    const QString alphabet = QStringLiteral("的一是在不了有和人这中大为上个国我以要他反应映错误ab cx,.");
    QRandomGenerator random(20261207);
    const auto randomText = [&] {
        QString s;
        const int n = random.bounded(0, 13);
        for (int i = 0; i < n; ++i)
            s += alphabet.at(random.bounded(alphabet.size()));
        return s;
    };
    DiffEngine engine;
    for (int i = 0; i < 4000; ++i) {
        const QString a = randomText();
        const QString b = randomText();
        const DiffList diffs = engine.diff_main(u16(a), u16(b), true);
        const auto [first, second] = rebuild(diffs);
        QVERIFY2(first == u16(a), qPrintable(a + " / " + b + ": " + describe(diffs)));
        QVERIFY2(second == u16(b), qPrintable(a + " / " + b + ": " + describe(diffs)));
        const Diff* previous = nullptr;
        for (const Diff& d : diffs) {
            QVERIFY2(!d.text.empty(), qPrintable(describe(diffs)));
            QVERIFY2(!previous || previous->operation != d.operation, qPrintable(describe(diffs)));
            previous = &d;
        }
    }
}

void TestDiffEngine::longTextsUseLineModeAndStillRebuild()
{
    // More than 100 units each, many lines: the line-level pass runs first.
    QString a;
    QString b;
    for (int i = 0; i < 60; ++i) {
        a += QStringLiteral("第%1行文字，内容相同。\n").arg(i);
        b += (i % 7 == 3) ? QStringLiteral("第%1行文宇，内容不同。\n").arg(i)
                          : QStringLiteral("第%1行文字，内容相同。\n").arg(i);
    }
    b += QStringLiteral("末尾新增一行");
    const DiffList diffs = DiffEngine().diff_main(u16(a), u16(b), true);
    const auto [first, second] = rebuild(diffs);
    QVERIFY(first == u16(a));
    QVERIFY(second == u16(b));
    // The replacements were diffed again unit by unit: only 字→宇 and 相→不 of each changed line.
    int changed = 0;
    for (const Diff& d : diffs) {
        if (d.operation == DIFF_DELETE)
            changed += int(d.text.size());
    }
    QCOMPARE(changed, 9 * 2); // lines 3, 10, …, 59
}

void TestDiffEngine::timeoutGivesValidRuns()
{
    // Long texts with no line structure and few common runs make the bisection
    // slow; a tiny time-out must still give a run list that rebuilds both texts.
    QRandomGenerator random(7);
    QString a;
    QString b;
    for (int i = 0; i < 20000; ++i) {
        a += QChar(0x4E00 + random.bounded(40));
        b += QChar(0x4E00 + random.bounded(40));
    }
    DiffEngine engine;
    engine.diffTimeout = 0.05;
    const auto start = std::chrono::steady_clock::now();
    const DiffList diffs = engine.diff_main(u16(a), u16(b), false);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const auto [first, second] = rebuild(diffs);
    QVERIFY(first == u16(a));
    QVERIFY(second == u16(b));
    // Generous bound: the deadline is checked once per edit distance step.
    QVERIFY(elapsed < std::chrono::seconds(20));
}

void TestDiffEngine::commonOverlap_data()
{
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<int>("overlap");
    QTest::newRow("empty") << QString() << QStringLiteral("abc") << 0;
    QTest::newRow("whole") << QStringLiteral("abc") << QStringLiteral("abcd") << 3;
    QTest::newRow("none") << QStringLiteral("123456") << QStringLiteral("abcd") << 0;
    QTest::newRow("partial") << QStringLiteral("123456xxx") << QStringLiteral("xxxabcd") << 3;
    QTest::newRow("later occurrence") << QStringLiteral("abxab") << QStringLiteral("abyy") << 2;
}

void TestDiffEngine::commonOverlap()
{
    QFETCH(QString, text1);
    QFETCH(QString, text2);
    QFETCH(int, overlap);
    QCOMPARE(DiffEngine::diff_commonOverlap(u16(text1), u16(text2)), overlap);
}

void TestDiffEngine::halfMatch()
{
    DiffEngine engine;
    QVERIFY(!engine.diff_halfMatch(u"1234567890", u"abcdef"));
    QVERIFY(!engine.diff_halfMatch(u"12345", u"23"));

    auto hm = engine.diff_halfMatch(u"1234567890", u"a345678z");
    QVERIFY(hm);
    QVERIFY(hm->text1A == u"12" && hm->text1B == u"90" && hm->text2A == u"a" && hm->text2B == u"z");
    QVERIFY(hm->common == u"345678");

    // The halves go back to their own texts when the second text is the longer.
    hm = engine.diff_halfMatch(u"a345678z", u"1234567890");
    QVERIFY(hm);
    QVERIFY(hm->text1A == u"a" && hm->text1B == u"z" && hm->text2A == u"12" && hm->text2B == u"90");

    // Without a time limit the minimal diff is wanted: no half match.
    engine.diffTimeout = 0;
    QVERIFY(!engine.diff_halfMatch(u"1234567890", u"a345678z"));
}

void TestDiffEngine::cleanupMerge_data()
{
    QTest::addColumn<DiffList>("input");
    QTest::addColumn<DiffList>("expected");
    QTest::newRow("merge equalities") << DiffList{run(DIFF_EQUAL, "a"), run(DIFF_EQUAL, "b"), run(DIFF_EQUAL, "c")}
                                      << DiffList{run(DIFF_EQUAL, "abc")};
    QTest::newRow("merge interweave") << DiffList{run(DIFF_DELETE, "a"), run(DIFF_INSERT, "b"), run(DIFF_DELETE, "c"),
                                                  run(DIFF_INSERT, "d"), run(DIFF_EQUAL, "e"),  run(DIFF_EQUAL, "f")}
                                      << DiffList{run(DIFF_DELETE, "ac"), run(DIFF_INSERT, "bd"),
                                                  run(DIFF_EQUAL, "ef")};
    QTest::newRow("prefix and suffix detection")
        << DiffList{run(DIFF_DELETE, "a"), run(DIFF_INSERT, "abc"), run(DIFF_DELETE, "dc")}
        << DiffList{run(DIFF_EQUAL, "a"), run(DIFF_DELETE, "d"), run(DIFF_INSERT, "b"), run(DIFF_EQUAL, "c")};
    QTest::newRow("slide edit left") << DiffList{run(DIFF_EQUAL, "a"), run(DIFF_INSERT, "ba"), run(DIFF_EQUAL, "c")}
                                     << DiffList{run(DIFF_INSERT, "ab"), run(DIFF_EQUAL, "ac")};
    QTest::newRow("slide edit right") << DiffList{run(DIFF_EQUAL, "c"), run(DIFF_INSERT, "ab"), run(DIFF_EQUAL, "a")}
                                      << DiffList{run(DIFF_EQUAL, "ca"), run(DIFF_INSERT, "ba")};
    QTest::newRow("empty edits dropped") << DiffList{run(DIFF_DELETE, "b"), run(DIFF_INSERT, "ab"),
                                                     run(DIFF_EQUAL, "c")}
                                         << DiffList{run(DIFF_INSERT, "a"), run(DIFF_EQUAL, "bc")};
}

void TestDiffEngine::cleanupMerge()
{
    QFETCH(DiffList, input);
    QFETCH(DiffList, expected);
    DiffEngine::Runs runs(input.begin(), input.end());
    DiffEngine::diff_cleanupMerge(runs);
    const DiffList actual(runs.begin(), runs.end());
    QVERIFY2(actual == expected, qPrintable(describe(actual) + " != " + describe(expected)));
}

void TestDiffEngine::cleanupSemanticFactorsOutOverlap()
{
    DiffEngine::Runs runs{run(DIFF_DELETE, "abcxxx"), run(DIFF_INSERT, "xxxdef")};
    DiffEngine::diff_cleanupSemantic(runs);
    const DiffList actual(runs.begin(), runs.end());
    const DiffList expected{run(DIFF_DELETE, "abc"), run(DIFF_EQUAL, "xxx"), run(DIFF_INSERT, "def")};
    QVERIFY2(actual == expected, qPrintable(describe(actual)));

    // A short equality between two larger edits is absorbed into them.
    runs = {run(DIFF_DELETE, "ab"), run(DIFF_EQUAL, "cd"), run(DIFF_DELETE, "e"), run(DIFF_EQUAL, "f"),
            run(DIFF_INSERT, "g")};
    DiffEngine::diff_cleanupSemantic(runs);
    const DiffList absorbed(runs.begin(), runs.end());
    const DiffList expectedAbsorbed{run(DIFF_DELETE, "abcdef"), run(DIFF_INSERT, "cdfg")};
    QVERIFY2(absorbed == expectedAbsorbed, qPrintable(describe(absorbed)));
}

QTEST_GUILESS_MAIN(TestDiffEngine)
#include "TestDiffEngine.moc"
