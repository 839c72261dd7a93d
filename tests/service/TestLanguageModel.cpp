#include "LanguageModel.h"
#include "WordModel.h"

#include <QtTest>

#include <numeric>
#include <random>

using namespace quillet;

// The language model as Debian's sunpinyin-data installs it, the word model
// as libime-data-language-model installs it, and what the service does when
// they are missing or damaged.
class TestLanguageModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void prefersTheRightWordInContext_data();
    void prefersTheRightWordInContext();
    void variantsCostWhatTheWholeTextCosts();
    void missingModelIsAClearError();
    void serviceRefusesToStartWithoutModel();
    void serviceKeepsAnsweringWhenTheModelIsTruncated();
    void wordModelPrefersTheRightWords_data();
    void wordModelPrefersTheRightWords();
    void damagedWordModelIsAClearError();

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

void TestLanguageModel::variantsCostWhatTheWholeTextCosts()
{
    // Random windows of real text with one character replaced, unknown
    // characters and longer words among them: scoring the variant from the
    // shared start gives exactly the cost of the changed text scored afresh.
    const std::u32string text = U"我们已经完成了今年的全部任务下载以后再安装这个软件"
                                U"你应该早点休息患者入院时体温升高伴有咳嗽㐀𠀀中华人民共和国";
    const std::u32string replacements = U"以经在再的地得安按应因体休㐀国人";
    std::mt19937 random(11);
    LanguageModel::Variants variants;
    for (int round = 0; round < 500; ++round) {
        const size_t n = 1 + random() % 12;
        const size_t start = random() % (text.size() - n + 1);
        std::u32string window = text.substr(start, n);
        variants.reset(m_model, window.data(), n);
        QCOMPARE(variants.cost(), m_model.cost(window));
        for (int k = 0; k < 4; ++k) {
            const size_t at = random() % n;
            const char32_t c = replacements[random() % replacements.size()];
            std::u32string changed = window;
            changed[at] = c;
            QCOMPARE(variants.costWith(at, c), m_model.cost(changed));
        }
        // The text itself is left as it was.
        QCOMPARE(variants.costWith(0, window[0]), variants.cost());
    }
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

void TestLanguageModel::serviceKeepsAnsweringWhenTheModelIsTruncated()
{
    // The service checks with a model of its own folder; a package upgrade
    // rewrites the files under it (here: truncated to nothing, then half
    // written). Every line is still answered, and as before.
    // The word model, where installed, is read from a copy of its own too.
    QTemporaryDir model, data;
    QStringList files = {"lm_sc.t3g", "pydict_sc.bin"};
    for (const QString& name : files)
        QVERIFY(QFile::copy(QStringLiteral("%1/%2").arg(LanguageModel::kDefaultFolder, name), model.filePath(name)));
    QStringList arguments = {
        "check", "--data", data.path(), "--model", model.path(), "--lexicon", QStringLiteral(QUILLET_LEXICON_PATH)};
    if (WordModel::supported() && QFile::exists(WordModel::kDefaultPath)) {
        QVERIFY(QFile::copy(WordModel::kDefaultPath, model.filePath("zh_CN.lm")));
        files << "zh_CN.lm";
        arguments << "--word-model" << model.filePath("zh_CN.lm");
    }
    QProcess service;
    service.start(QStringLiteral(QUILLET_SERVICE_BINARY), arguments);
    QVERIFY(service.waitForStarted(30000));
    const QByteArray sentence = QStringLiteral("我们以经完成了今年的全部任务，你因该早点休息。\n").toUtf8();
    auto answer = [&]() -> QByteArray {
        service.write(sentence);
        QByteArray line;
        while (!line.endsWith('\n') && service.state() == QProcess::Running &&
               (service.bytesAvailable() > 0 || service.waitForReadyRead(30000)))
            line += service.readLine();
        return line;
    };
    const QByteArray before = answer();
    QVERIFY2(before.contains("\"已经\"") && before.contains("\"应该\""), before.constData());
    for (const QString& name : files) {
        QFile file(model.filePath(name));
        QVERIFY(file.resize(0));
    }
    QCOMPARE(answer(), before);
    for (const QString& name : files) {
        QFile file(model.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QVERIFY(file.write(QByteArray(4096, '\x7f')) == 4096);
    }
    QCOMPARE(answer(), before);
    service.closeWriteChannel();
    QVERIFY(service.waitForFinished(30000));
    QCOMPARE(service.exitStatus(), QProcess::NormalExit);
    QCOMPARE(service.exitCode(), 0);
}

void TestLanguageModel::wordModelPrefersTheRightWords_data()
{
    QTest::addColumn<QString>("right");
    QTest::addColumn<QString>("wrong");
    QTest::newRow("这导") << QStringLiteral("我知道了") << QStringLiteral("我这导了");
    QTest::newRow("他门") << QStringLiteral("他们说得对") << QStringLiteral("他门说得对");
    QTest::newRow("收到") << QStringLiteral("我昨天收到了你的信") << QStringLiteral("我昨天受到了你的信");
    QTest::newRow("unknown character") << QStringLiteral("我们已经完成了") << QStringLiteral("我们已经完成㐀");
}

void TestLanguageModel::wordModelPrefersTheRightWords()
{
    WordModel words;
    std::string error;
    if (!words.load(WordModel::kDefaultPath, &error))
        QSKIP(error.c_str());
    QFETCH(QString, right);
    QFETCH(QString, wrong);
    const std::u32string r = right.toStdU32String();
    const std::u32string w = wrong.toStdU32String();
    const double rightCost = words.cost(r.data(), r.size());
    const double wrongCost = words.cost(w.data(), w.size());
    QVERIFY2(rightCost > 0 && rightCost + 2.0 < wrongCost,
             qPrintable(QStringLiteral("%1 vs %2").arg(rightCost).arg(wrongCost)));
    // The same on a second call, and nothing for no text.
    QCOMPARE(words.cost(r.data(), r.size()), rightCost);
    QCOMPARE(words.cost(r.data(), 0), 0.0);
}

void TestLanguageModel::damagedWordModelIsAClearError()
{
    QTemporaryDir dir;
    WordModel words;
    std::string error;
    QVERIFY(!words.load(dir.filePath("zh_CN.lm").toStdString(), &error));
    QVERIFY(!words.loaded());
    QCOMPARE(words.cost(U"我们", 2), 0.0);
    if (!WordModel::supported()) {
        QVERIFY2(error.find("without libime") != std::string::npos, error.c_str());
        QSKIP("built without libime");
    }
    QVERIFY2(error.find("libime-data-language-model") != std::string::npos, error.c_str());
    QVERIFY2(error.find(dir.path().toStdString()) != std::string::npos, error.c_str());
    if (!QFile::exists(WordModel::kDefaultPath))
        QSKIP("no word model (libime-data-language-model) installed");
    // Another file, and the model cut short (a damaged install), are refused
    // with the package to reinstall.
    QFile source(WordModel::kDefaultPath);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray whole = source.readAll();
    const QByteArray other = QByteArray("\\data\\\nngram 1=1\n\n\\1-grams:\n-1.0\t<unk>\n\n\\end\\\n");
    for (const QByteArray& content :
         {QByteArray(), QByteArray(5000, 'x'), other, whole.left(1000), whole.left(4000000)}) {
        QFile target(dir.filePath("zh_CN.lm"));
        QVERIFY(target.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(target.write(content), qint64(content.size()));
        target.close();
        QVERIFY(!words.load(target.fileName().toStdString(), &error));
        QVERIFY(!words.loaded());
        QVERIFY2(error.find("reinstall the Debian package libime-data-language-model") != std::string::npos,
                 error.c_str());
    }
    QVERIFY(words.load(WordModel::kDefaultPath, &error));
    QVERIFY(words.cost(U"我们", 2) > 0);
}

QTEST_APPLESS_MAIN(TestLanguageModel)
#include "TestLanguageModel.moc"
