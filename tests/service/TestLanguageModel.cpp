#include "LanguageModel.h"

#include <QtTest>

#include <numeric>

using namespace quillet;

// The language model as Debian's sunpinyin-data installs it, and what the
// service does when it is missing.
class TestLanguageModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void prefersTheRightWordInContext_data();
    void prefersTheRightWordInContext();
    void missingModelIsAClearError();
    void serviceRefusesToStartWithoutModel();

private:
    LanguageModel m_model;
};

void TestLanguageModel::initTestCase()
{
    std::string error;
    QVERIFY2(m_model.load(LanguageModel::kDefaultFolder, &error), error.c_str());
    QVERIFY(m_model.wordCount() > 50000);
}

void TestLanguageModel::prefersTheRightWordInContext_data()
{
    QTest::addColumn<QString>("right");
    QTest::addColumn<QString>("wrong");
    QTest::addColumn<QString>("word"); // a word the right sentence must be read with
    QTest::newRow("以经") << QStringLiteral("我们已经完成了今年的全部任务")
                          << QStringLiteral("我们以经完成了今年的全部任务") << QStringLiteral("已经");
    QTest::newRow("因该") << QStringLiteral("你应该早点休息") << QStringLiteral("你因该早点休息")
                          << QStringLiteral("应该");
    QTest::newRow("按装") << QStringLiteral("下载以后再安装这个软件") << QStringLiteral("下载以后再按装这个软件")
                          << QStringLiteral("安装");
    QTest::newRow("在/再") << QStringLiteral("我们明天再讨论这个问题") << QStringLiteral("我们明天在讨论这个问题")
                           << QStringLiteral("讨论");
}

void TestLanguageModel::prefersTheRightWordInContext()
{
    QFETCH(QString, right);
    QFETCH(QString, wrong);
    QFETCH(QString, word);
    const std::u32string r = right.toStdU32String();
    const std::u32string w = wrong.toStdU32String();
    std::vector<size_t> lengths;
    const double rightCost = m_model.cost(r.data(), r.size(), &lengths);
    const double wrongCost = m_model.cost(w);
    QVERIFY2(rightCost + 1.0 < wrongCost, qPrintable(QStringLiteral("%1 vs %2").arg(rightCost).arg(wrongCost)));
    // The segmentation covers the sentence and reads the word as one.
    QCOMPARE(std::accumulate(lengths.begin(), lengths.end(), size_t(0)), r.size());
    bool found = false;
    for (size_t i = 0, at = 0; i < lengths.size(); at += lengths[i++])
        found = found || r.compare(at, lengths[i], word.toStdU32String()) == 0;
    QVERIFY(found);
    // The cost of a sentence does not depend on an earlier call.
    QCOMPARE(m_model.cost(r), rightCost);
}

void TestLanguageModel::missingModelIsAClearError()
{
    QTemporaryDir dir;
    LanguageModel model;
    std::string error;
    QVERIFY(!model.load(dir.path().toStdString(), &error));
    QVERIFY(!model.loaded());
    QVERIFY2(error.find("sunpinyin-data") != std::string::npos, error.c_str());
    QVERIFY2(error.find(dir.path().toStdString()) != std::string::npos, error.c_str());
    // An unloaded model scores nothing and does not crash.
    QCOMPARE(model.cost(U"我们"), 0.0);
    // One of the two files alone is not enough either.
    QVERIFY(QFile::copy(QStringLiteral("%1/pydict_sc.bin").arg(LanguageModel::kDefaultFolder),
                        dir.filePath("pydict_sc.bin")));
    QVERIFY(!model.load(dir.path().toStdString(), &error));
    QVERIFY2(error.find("lm_sc.t3g") != std::string::npos, error.c_str());

    // Truncated files (a damaged install) are refused, not read past their end.
    auto truncatedCopy = [&](const char* name, qint64 bytes) {
        QFile source(QStringLiteral("%1/%2").arg(LanguageModel::kDefaultFolder, name));
        QFile target(dir.filePath(name));
        target.remove();
        return source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly) &&
               target.write(bytes < 0 ? source.readAll() : source.read(bytes)) >= 0;
    };
    for (const char* name : {"lm_sc.t3g", "pydict_sc.bin"}) {
        QVERIFY(truncatedCopy("lm_sc.t3g", -1) && truncatedCopy("pydict_sc.bin", -1));
        QVERIFY(model.load(dir.path().toStdString(), &error));
        for (qint64 bytes : {0, 10, 1000, 3000000}) {
            QVERIFY(truncatedCopy(name, bytes));
            QVERIFY2(!model.load(dir.path().toStdString(), &error), name);
            QVERIFY2(error.find("reinstall the Debian package sunpinyin-data") != std::string::npos, error.c_str());
        }
    }
}

void TestLanguageModel::serviceRefusesToStartWithoutModel()
{
    QTemporaryDir data, empty;
    QProcess service;
    service.start(QStringLiteral(QUILLET_SERVICE_BINARY),
                  {"serve", "--listen", "127.0.0.1:0", "--data", data.path(), "--model", empty.path()});
    QVERIFY(service.waitForFinished(30000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 1);
    const QString out = QString::fromUtf8(service.readAllStandardOutput());
    const QString err = QString::fromUtf8(service.readAllStandardError());
    QVERIFY2(err.contains(QStringLiteral("install the Debian package sunpinyin-data")), qPrintable(err));
    QVERIFY2(!out.contains(QStringLiteral("listening")), qPrintable(out));
}

QTEST_APPLESS_MAIN(TestLanguageModel)
#include "TestLanguageModel.moc"
