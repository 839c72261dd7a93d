#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
};

QList<Message> readCatalogue(const QString& path)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context;
    Message current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            current.source = xml.readElementText();
        else if (xml.name() == QLatin1String("translation")) {
            current.context = context;
            current.translation = xml.readElementText();
            messages << current;
        }
    }
    return xml.hasError() ? QList<Message>() : messages;
}

QStringList placeholders(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("%(\\d+|d)"));
    QStringList found;
    auto it = pattern.globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(0);
    found.sort();
    return found;
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT
private slots:
    void entriesPerContext();
    void everyEntryTranslatedAndPlaceholdersKept();
    void tellingTranslations_data();
    void tellingTranslations();
    void hostCatalogueLoads();
    void missingCatalogueLeavesSourceTexts();

private:
    QList<Message> m_messages = readCatalogue(QStringLiteral(QUILLET_SCHOLIA_TS));
};

void TestCatalogue::entriesPerContext()
{
    QMap<QString, int> counts;
    QSet<QPair<QString, QString>> keys;
    for (const Message& m : m_messages) {
        ++counts[m.context];
        keys.insert({m.context, m.source});
    }
    const QMap<QString, int> expected{
        {"Revisor", 10},      {"ContextShow", 10}, {"DialogAbout", 4},     {"DialogClient", 36},
        {"DialogContact", 5}, {"DialogLogin", 5},  {"DialogProgress", 3},  {"DialogReportError", 5},
        {"DialogShow", 2},    {"ErrorsList", 8},   {"ErrorsListGroup", 2}, {"ErrorsListItem", 3},
    };
    QCOMPARE(counts, expected);
    QCOMPARE(m_messages.size(), 93);
    QCOMPARE(keys.size(), 93); // no entry twice
}

void TestCatalogue::everyEntryTranslatedAndPlaceholdersKept()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/translations/scholia_zh_CN.qm")));
    QCOMPARE(translator.language(), QStringLiteral("zh_CN"));
    for (const Message& m : m_messages) {
        const QString what = m.context + QStringLiteral(": ") + m.source;
        QVERIFY2(!m.translation.isEmpty(), qPrintable(what));
        QCOMPARE(placeholders(m.translation), placeholders(m.source));
        // The compiled catalogue gives the same text.
        QCOMPARE(translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData()), m.translation);
    }
}

void TestCatalogue::tellingTranslations_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("chinese");
    const QList<QStringList> rows{
        {"ErrorsList", "ERROR_TYPE_TONG_YIN", "同音字"},
        {"ErrorsList", "ERROR_TYPE_YIN_JIN", "音近字"},
        {"ErrorsList", "ERROR_TYPE_XING_JIN", "形近字"},
        {"ErrorsList", "ERROR_TYPE_DAN_ZI", "不应出现单字"},
        {"ErrorsList", "ERROR_TYPE_MIN_GAN_CI", "敏感词"},
        {"ErrorsList", "ERROR_TYPE_SKIP", "搭配"},
        {"ErrorsList", "ERROR_TYPE_UNKOWN", "未知"},
        {"ErrorsList", "error", "错误"},
        {"DialogClient", "Tong Yin", "同音字错误"},
        {"DialogClient", "Xing Jin", "形近字错误"},
        {"DialogClient", "Min Gan Ci", "敏感词"},
        {"DialogClient", "Check Skip", "检查搭配错误"},
        {"DialogClient", "Show Error Tip", "显示错误提示窗口"},
        {"DialogClient", "Stays on top", "窗口最前显示"},
        {"DialogClient", "Check Current Page", "校对本页"},
        {"DialogClient", "Check Next %1 Pages", "校对后%1页"},
        {"DialogClient", "Remove All", "清除结果"},
        {"DialogClient", "Update", "检查更新"},
        {"DialogClient", "Web", "Quillet网站"},
        {"DialogClient", "Revisor", "Quillet-校对助手"},
        {"DialogClient", "Can't attach WPS or Word!", "没有探测到 WPS 或 Word 文档！"},
        {"DialogClient", "Can't attach LibreOffice Writer!", "没有探测到 LibreOffice Writer 文档！"},
        {"DialogClient", "Can't Get Current Page Text", "没有取到当前页文字！Quillet不支持绿色版的 WORD 或 WPS。"},
        {"DialogClient", "Can't Get All Page Text", "没有取到所有页文字！Quillet不支持绿色版的 WORD 或 WPS。"},
        {"DialogClient", " <span style='color:red;'>( %1 Errors ) </span>",
         " <span style='color:red;'>( %1 个错误 ) </span>"},
        {"DialogClient", "<span style='color:red;'>Found %1 Errors</span>",
         "<span style='color:red;'>找到 %1 个错误</span>"},
        {"Revisor", "Max %d words!", "一次最多校对 %d 个字！超出此范围的字将不校对。"},
        {"Revisor", "Parse JSON Data Error!", "解析 JSON 数据失败，请升级到最新版本，或联系我们。"},
        {"Revisor", "checking, please wait.", "正在校对，请稍候 ..."},
        {"Revisor", "Thanks for the feedback!", "感谢您的反馈，我们会尽快处理。"},
        {"Revisor", "Add to dict succeed!", "已成功添加到用户词库！"},
        {"Revisor", "quillet", "Quillet-校对助手"},
        {"DialogLogin", "copyright msg.",
         "本插件需要发送要校对的文字到服务器进行校对。这些文字我们不会存储，更不会交给第三方。"},
        {"DialogContact", "Email:", "邮箱、QQ或者微信（可选）"},
        {"DialogReportError", "Error", "识别错误"},
        {"DialogReportError", "Sentence:", "原始句子："},
        {"ErrorsListGroup", "Find in Dict", "词典收录查询"},
        {"ContextShow", "Spell Error", "错误"},
    };
    for (const QStringList& row : rows)
        QTest::newRow(qPrintable(row[0] + "/" + row[1])) << row[0] << row[1] << row[2];
}

void TestCatalogue::tellingTranslations()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, chinese);
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/translations/scholia_zh_CN.qm")));
    QCOMPARE(translator.translate(context.toUtf8().constData(), source.toUtf8().constData()), chinese);
}

void TestCatalogue::hostCatalogueLoads()
{
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(":/translations/revisor_zh_CN.qm")));
    QCOMPARE(translator.translate("WordHelper", "Apply suggestion"), QString::fromUtf8("采用修改建议"));
}

void TestCatalogue::missingCatalogueLeavesSourceTexts()
{
    QTranslator translator;
    QVERIFY(!translator.load(QStringLiteral(":/translations/none_zh_CN.qm")));
    QCOMPARE(QCoreApplication::translate("ContextShow", "Spell Error"), QStringLiteral("Spell Error"));
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "TestCatalogue.moc"
