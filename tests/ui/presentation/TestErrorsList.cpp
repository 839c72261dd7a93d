#include "presentation/ErrorLabel.h"
#include "presentation/ErrorsList.h"
#include "presentation/ErrorsListGroup.h"
#include "presentation/ErrorsListItem.h"

#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {

std::shared_ptr<CCheckData> finding(const char* text, int type, std::vector<CDataItemValue> suggestions)
{
    auto data = std::make_shared<CCheckData>();
    data->text = text;
    data->type = type;
    data->suggestions = std::move(suggestions);
    return data;
}

const QString kRed = QStringLiteral("<span style=\"color:#ff0000;\">");
const QString kEnd = QStringLiteral("</span>");
QString grey(int count)
{
    return QStringLiteral(" <span style=\"color: #666666\">(%1)</span>").arg(count);
}

} // namespace

class TestErrorsList : public QObject
{
    Q_OBJECT
private slots:
    void suggestionLabel_data();
    void suggestionLabel();
    void typeText_data();
    void typeText();
    void applyCarriesGroupAndItemIndex();
    void findingWithoutSuggestionsGivesEmptyGroup();
    void titleIsShownAsPlainBoldText();
    void clearReportsZeroEvenWhenEmpty();
    void showReportsSizeOnlyWhenChanged();
    void titleClickTogglesGroup();
    void singleClickDoesNotApply();
};

void TestErrorsList::suggestionLabel_data()
{
    QTest::addColumn<QString>("suggestion");
    QTest::addColumn<QString>("wrongText");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("html");

    QTest::newRow("one character replaced")
        << QStringLiteral("反应") << QStringLiteral("反映") << 3 << QStringLiteral("反") + kRed + "应" + kEnd + grey(3);
    QTest::newRow("star inside a red run")
        << QStringLiteral("A*B") << QStringLiteral("AXB") << 1
        << QStringLiteral("A") + kRed + "</span>...<span style=\"color: #ff0000\">" + kEnd + "B" + grey(1);
    QTest::newRow("star in an equal run")
        << QStringLiteral("A*B") << QStringLiteral("A*BC") << -1 << QStringLiteral("A...B");
    QTest::newRow("equal texts") << QStringLiteral("反应") << QStringLiteral("反应") << 2
                                 << QStringLiteral("反应") + grey(2);
    QTest::newRow("nothing in common") << QStringLiteral("甲乙") << QStringLiteral("丙丁") << 5
                                       << kRed + QStringLiteral("甲乙") + kEnd + grey(5);
    QTest::newRow("count zero shown") << QStringLiteral("好") << QStringLiteral("好") << 0
                                      << QStringLiteral("好") + grey(0);
    QTest::newRow("negative count omitted")
        << QStringLiteral("好") << QStringLiteral("好") << -1 << QStringLiteral("好");
    // Texts from the service are never read as markup.
    QTest::newRow("markup escaped") << QStringLiteral("<b>&") << QStringLiteral("<i>&") << -1
                                    << QStringLiteral("&lt;") + kRed + "b" + kEnd + QStringLiteral("&gt;&amp;");
}

void TestErrorsList::suggestionLabel()
{
    QFETCH(QString, suggestion);
    QFETCH(QString, wrongText);
    QFETCH(int, count);
    QFETCH(QString, html);

    ErrorsListItem item;
    item.setData(suggestion, count, wrongText, 0, 0);
    auto* label = item.findChild<ErrorLabel*>(QStringLiteral("labelText"));
    QVERIFY(label);
    QCOMPARE(label->text(), html);
    QCOMPARE(label->textFormat(), Qt::RichText);
}

void TestErrorsList::typeText_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<QString>("text");
    // No catalogue is installed here: the keys are shown as they are.
    QTest::newRow("none") << 0 << QStringLiteral("error");
    QTest::newRow("tong yin") << 0x01 << QStringLiteral("ERROR_TYPE_TONG_YINerror");
    QTest::newRow("tong yin and xing jin") << 0x09 << QStringLiteral("ERROR_TYPE_TONG_YIN·ERROR_TYPE_XING_JINerror");
    QTest::newRow("all six") << 0x3F
                             << QStringLiteral("ERROR_TYPE_TONG_YIN·ERROR_TYPE_DAN_ZI·ERROR_TYPE_MIN_GAN_CI·"
                                               "ERROR_TYPE_XING_JIN·ERROR_TYPE_YIN_JIN·ERROR_TYPE_SKIPerror");
    QTest::newRow("unknown bits ignored") << 0x40 << QStringLiteral("error");
}

void TestErrorsList::typeText()
{
    QFETCH(int, bits);
    QFETCH(QString, text);
    QCOMPARE(ErrorsList::typeText(bits), text);

    ErrorsList list;
    list.addCheckData(finding("错", bits, {}), 0);
    auto* typeLabel = list.findChild<QLabel*>(QStringLiteral("labelTitle2"));
    QVERIFY(typeLabel);
    QCOMPARE(typeLabel->text(), text);
}

void TestErrorsList::applyCarriesGroupAndItemIndex()
{
    ErrorsList list;
    QSignalSpy spy(&list, &ErrorsList::apply);
    const int position0 = list.addCheckData(finding("反映", 1, {{"反应", 3}, {"返映", 1}}), 0);
    const int position1 = list.addCheckData(finding("在再", 1, {{"再在", 2}}), 2);
    QCOMPARE(position0, 0);
    QCOMPARE(position1, 1);

    const QList<ErrorsListItem*> items = list.findChildren<ErrorsListItem*>();
    QCOMPARE(items.size(), 3);
    ErrorsListItem* second = nullptr;
    for (ErrorsListItem* item : items) {
        if (item->itemTitle() == QStringLiteral("返映"))
            second = item;
    }
    QVERIFY(second);
    second->findChild<QToolButton*>(QStringLiteral("btnApply"))->click();

    ErrorsListItem* other = nullptr;
    for (ErrorsListItem* item : items) {
        if (item->groupTitle() == QStringLiteral("在再"))
            other = item;
    }
    QVERIFY(other);
    QTest::mouseDClick(other->findChild<ErrorLabel*>(QStringLiteral("labelText")), Qt::LeftButton);

    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0), (QVariantList{QStringLiteral("返映"), 1, QStringLiteral("反映"), 0}));
    QCOMPARE(spy.at(1), (QVariantList{QStringLiteral("再在"), 0, QStringLiteral("在再"), 2}));
}

void TestErrorsList::findingWithoutSuggestionsGivesEmptyGroup()
{
    ErrorsList list;
    auto data = finding("敏感", 0x04, {});
    data->suggestions.reset();
    QCOMPARE(list.addCheckData(data, 5), 0);
    QCOMPARE(list.findChildren<ErrorsListGroup*>().size(), 1);
    QCOMPARE(list.findChildren<ErrorsListItem*>().size(), 0);
    QCOMPARE(list.findChild<ErrorsListGroup*>()->groupIndex(), 5);
    QCOMPARE(list.addCheckData(nullptr, 6), -1);
}

void TestErrorsList::titleIsShownAsPlainBoldText()
{
    ErrorsList list;
    list.addCheckData(finding("a<b>&c", 0, {}), 0);
    auto* title = list.findChild<ErrorLabel*>(QStringLiteral("labelTitle"));
    QCOMPARE(title->text(), QStringLiteral("a<b>&c"));
    QCOMPARE(title->textFormat(), Qt::PlainText); // never read as markup
    QVERIFY(title->font().bold());
}

void TestErrorsList::clearReportsZeroEvenWhenEmpty()
{
    ErrorsList list;
    QSignalSpy spy(&list, &ErrorsList::maxHeightChanged);
    list.clear();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), (QVariantList{0, 0}));

    list.addCheckData(finding("反映", 1, {{"反应", 3}}), 0);
    QPointer<ErrorsListGroup> group = list.findChild<ErrorsListGroup*>();
    list.clear();
    QCOMPARE(spy.count(), 2);
    QVERIFY(group); // deleted later, not at once
    QTRY_VERIFY(!group);
}

void TestErrorsList::showReportsSizeOnlyWhenChanged()
{
    ErrorsList list;
    list.resize(200, 300);
    list.addCheckData(finding("反映", 1, {{"反应", 3}, {"返映", 1}}), 0);
    list.addCheckData(finding("在再", 1, {{"再在", 2}}), 1);
    list.addStretch();
    QSignalSpy spy(&list, &ErrorsList::maxHeightChanged);

    list.show();
    QCOMPARE(spy.count(), 1);
    const int height = spy.at(0).at(0).toInt();
    const int width = spy.at(0).at(1).toInt();
    int groupsHeight = 0;
    for (ErrorsListGroup* group : list.findChildren<ErrorsListGroup*>())
        groupsHeight += group->height();
    QCOMPARE(height, groupsHeight);
    QCOMPARE(width, list.findChild<QWidget*>(QStringLiteral("scrollAreaWidgetContents"))->width() + 48);

    list.hide();
    list.show();
    QCOMPARE(spy.count(), 1);
}

void TestErrorsList::titleClickTogglesGroup()
{
    ErrorsList list;
    list.addCheckData(finding("反映", 1, {{"反应", 3}}), 0);
    auto* group = list.findChild<ErrorsListGroup*>();
    QVERIFY(group->isExpanded());
    QTest::mouseClick(group->findChild<ErrorLabel*>(QStringLiteral("labelTitle")), Qt::LeftButton);
    QVERIFY(!group->isExpanded());
    group->findChild<QToolButton*>(QStringLiteral("btnExpendGroup"))->click();
    QVERIFY(group->isExpanded());
    // A right click on the title changes nothing.
    QTest::mouseClick(group->findChild<ErrorLabel*>(QStringLiteral("labelTitle")), Qt::RightButton);
    QVERIFY(group->isExpanded());
}

void TestErrorsList::singleClickDoesNotApply()
{
    ErrorsList list;
    list.addCheckData(finding("反映", 1, {{"反应", 3}}), 0);
    QSignalSpy spy(&list, &ErrorsList::apply);
    auto* label = list.findChild<ErrorsListItem*>()->findChild<ErrorLabel*>(QStringLiteral("labelText"));
    QSignalSpy clicks(label, &ErrorLabel::clicked);
    QTest::mouseClick(label, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(spy.count(), 0);
}

QTEST_MAIN(TestErrorsList)
#include "TestErrorsList.moc"
