#include "utility/TextUtil.h"

#include <QtTest>

class TestTextUtil : public QObject
{
    Q_OBJECT
private slots:
    void punctuation_data();
    void punctuation();
    void replaceAll_data();
    void replaceAll();
    void appPath();
};

void TestTextUtil::punctuation_data()
{
    QTest::addColumn<QString>("chars");
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<bool>("western");
    QTest::newRow("Chinese marks") << QString::fromUtf8("。，、；：？！“”‘’（）《》〈〉【】「」『』…—·～") << true
                                   << false;
    QTest::newRow("Western marks") << QString(".,;:?!\"'()[]{}-/<>") << false << true;
    QTest::newRow("neither") << QString::fromUtf8("字a1 \u3000\n中Z") << false << false;
}

void TestTextUtil::punctuation()
{
    QFETCH(QString, chars);
    QFETCH(bool, chinese);
    QFETCH(bool, western);
    for (const QChar c : chars) {
        QVERIFY2(IsCNPunctuation(c.unicode()) == chinese, qPrintable(QString(c)));
        QVERIFY2(IsENPunctuation(c.unicode()) == western, qPrintable(QString(c)));
    }
}

void TestTextUtil::replaceAll_data()
{
    QTest::addColumn<QString>("s");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("expected");
    QTest::newRow("every occurrence") << "a*b*c"
                                      << "*"
                                      << "..."
                                      << "a...b...c";
    QTest::newRow("replacement contains the pattern") << "aa"
                                                      << "a"
                                                      << "aa"
                                                      << "aaaa";
    QTest::newRow("empty pattern is a no-op") << "abc"
                                              << ""
                                              << "x"
                                              << "abc";
    QTest::newRow("to empty") << QString::fromUtf8("以经以经") << QString::fromUtf8("经") << ""
                              << QString::fromUtf8("以以");
}

void TestTextUtil::replaceAll()
{
    QFETCH(QString, s);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdWString(ReplaceAllW(s.toStdWString(), from.toStdWString(), to.toStdWString())), expected);
}

void TestTextUtil::appPath()
{
    // The folder of the utility library itself, found from one of its functions.
    const QString folder = QString::fromStdWString(GetAppPath(reinterpret_cast<const void*>(&ReplaceAllW)));
#ifdef Q_OS_WIN
    QVERIFY(QFileInfo::exists(folder + "/utility.dll"));
#else
    QVERIFY(QFileInfo::exists(folder + "/libutility.so"));
#endif
    QVERIFY(GetAppPath(nullptr).empty());
}

QTEST_MAIN(TestTextUtil)
#include "TestTextUtil.moc"
