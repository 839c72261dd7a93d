#include "utility/JsonDecode.h"

#include <QtTest>

// Decoding of service replies: well-formed replies fill the records, anything
// malformed is rejected whole.
class TestJsonDecode : public QObject
{
    Q_OBJECT
private slots:
    void checkReply();
    void checkReplyAppendsAndKeepsOldFindings();
    void rejectedCheckReplies_data();
    void rejectedCheckReplies();
    void deepNestingAndHugeBodies();
    void serverReplyOverwritesPresentKeysOnly();
    void rejectedServerReplies_data();
    void rejectedServerReplies();
    void cleanCheckData();
};

void TestJsonDecode::checkReply()
{
    CHECK_DATAS datas;
    std::string code = "old", message = "old";
    const std::string json = R"({"error_code":"","error_msg":"","errors":[
        {"text":"以经","type":17,"spans":[[2,3],[9,10]],"suggestions":[{"text":"已经","count":12},{"text":"已*"}]},
        {"text":"反映","type":1,"spans":[]}]})";
    QVERIFY(JSONToCheckData(json, datas, code, message));
    QCOMPARE(code, std::string());
    QCOMPARE(message, std::string());
    QCOMPARE(datas.size(), size_t(2));
    QCOMPARE(QString::fromStdString(datas[0]->text), QString::fromUtf8("以经"));
    QCOMPARE(datas[0]->type, ERROR_TYPE_TONG_YIN | ERROR_TYPE_YIN_JIN);
    const std::vector<std::pair<int, int>> spans{{2, 3}, {9, 10}};
    QVERIFY(datas[0]->spans == spans);
    QVERIFY(datas[0]->suggestions.has_value());
    QCOMPARE(datas[0]->suggestions->size(), size_t(2));
    QCOMPARE(QString::fromStdString(datas[0]->suggestions->at(0).GetText()), QString::fromUtf8("已经"));
    QCOMPARE(datas[0]->suggestions->at(0).GetCount(), 12);
    QCOMPARE(datas[0]->suggestions->at(1).GetCount(), -1); // no count: none shown
    QVERIFY(!datas[1]->suggestions.has_value());

    QVERIFY(JSONToCheckData(R"({"error_code":"not_found_error","error_msg":"未发现错误。","errors":[]})", datas, code,
                            message));
    QCOMPARE(code, std::string("not_found_error"));
    QCOMPARE(QString::fromStdString(message), QString::fromUtf8("未发现错误。"));
}

void TestJsonDecode::checkReplyAppendsAndKeepsOldFindings()
{
    CHECK_DATAS datas{std::make_shared<CCheckData>()};
    datas[0]->text = "kept";
    std::string code, message;
    QVERIFY(JSONToCheckData(R"({"errors":[{"text":"a","type":1,"spans":[[0,0]]}]})", datas, code, message));
    QCOMPARE(datas.size(), size_t(2));
    QCOMPARE(datas[0]->text, std::string("kept"));
}

void TestJsonDecode::rejectedCheckReplies_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not an object") << QByteArray("[1,2]");
    QTest::newRow("cut short") << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[[0,1]]})");
    QTest::newRow("invalid UTF-8") << QByteArray("{\"errors\":[{\"text\":\"\xc3\x28\",\"type\":1,\"spans\":[]}]}");
    QTest::newRow("code not a string") << QByteArray(R"({"error_code":5})");
    QTest::newRow("errors not an array") << QByteArray(R"({"errors":{}})");
    QTest::newRow("text missing") << QByteArray(R"({"errors":[{"type":1,"spans":[]}]})");
    QTest::newRow("type a string") << QByteArray(R"({"errors":[{"text":"a","type":"1","spans":[]}]})");
    QTest::newRow("type fractional") << QByteArray(R"({"errors":[{"text":"a","type":1.5,"spans":[]}]})");
    QTest::newRow("type negative") << QByteArray(R"({"errors":[{"text":"a","type":-1,"spans":[]}]})");
    QTest::newRow("spans missing") << QByteArray(R"({"errors":[{"text":"a","type":1}]})");
    QTest::newRow("start after end") << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[[4,3]]}]})");
    QTest::newRow("negative start") << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[[-1,3]]}]})");
    QTest::newRow("span of three") << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[[1,2,3]]}]})");
    QTest::newRow("huge offset") << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[[1,1e12]]}]})");
    QTest::newRow("suggestion not object")
        << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[],"suggestions":["b"]}]})");
    QTest::newRow("count a string") << QByteArray(
        R"({"errors":[{"text":"a","type":1,"spans":[],"suggestions":[{"text":"b","count":"2"}]}]})");
    // Qt's parser leaks the first value of a repeated key: such replies are refused.
    QTest::newRow("repeated key, array first") << QByteArray(R"({"errors":[],"errors":[]})");
    QTest::newRow("repeated key in a finding")
        << QByteArray(R"({"errors":[{"text":"a","type":1,"spans":[[0,0]],"spans":[[0,0]]}]})");
    QTest::newRow("repeated key spelt with an escape") << QByteArray(R"({"errors":[],"\u0065rrors":[]})");
    QTest::newRow("nested 65 deep") << QByteArray(R"({"x":)" + QByteArray(64, '[') + QByteArray(64, ']') + "}");
    QTest::newRow("bad second finding") << QByteArray(
        R"({"errors":[{"text":"a","type":1,"spans":[]},{"text":"b","type":1,"spans":[[2,1]]}]})");
}

void TestJsonDecode::rejectedCheckReplies()
{
    QFETCH(QByteArray, json);
    CHECK_DATAS datas{std::make_shared<CCheckData>()};
    std::string code = "c", message = "m";
    QVERIFY(!JSONToCheckData(json.toStdString(), datas, code, message));
    QCOMPARE(datas.size(), size_t(1)); // nothing half-appended
    QCOMPARE(code, std::string("c"));
    QCOMPARE(message, std::string("m"));
}

void TestJsonDecode::deepNestingAndHugeBodies()
{
    CHECK_DATAS datas;
    std::string code, message;
    const std::string deep = "{\"errors\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    QVERIFY(!JSONToCheckData(deep, datas, code, message));

    std::string huge = R"({"errors":[)";
    while (huge.size() < 50u * 1024 * 1024)
        huge += R"({"text":"a","type":1,"spans":[[0,0]]},)";
    huge += R"({"text":"a","type":1,"spans":[[0,0]]}]})";
    QVERIFY(!JSONToCheckData(huge, datas, code, message));
    QVERIFY(datas.empty());

    CServerInfo info;
    QVERIFY(!JSONToServer(std::string(kMaxReplyBytes + 1, ' '), info));
}

void TestJsonDecode::serverReplyOverwritesPresentKeysOnly()
{
    CServerInfo info;
    info.userName = "kept";
    info.accessToken = "old";
    info.pieceLength = 7;
    QVERIFY(JSONToServer("{\"access_token\":\"new\",\"checker_url\":\"http://h/c/\",\"is_vip\":true}", info));
    QCOMPARE(info.accessToken, std::string("new"));
    QCOMPARE(info.checkerUrl, std::string("http://h/c/"));
    QVERIFY(info.isVip);
    QCOMPARE(info.userName, std::string("kept"));
    QCOMPARE(info.pieceLength, 7);

    QVERIFY(JSONToServer(R"({"piece_length":500,"error_code":"auth_error","error_msg":"错","user_name":"张"})", info));
    QCOMPARE(info.pieceLength, 500);
    QCOMPARE(info.errorCode, std::string("auth_error"));
    QCOMPARE(QString::fromStdString(info.userName), QString::fromUtf8("张"));
    info.ClearError();
    QVERIFY(info.errorCode.empty() && info.errorMsg.empty());
    QCOMPARE(info.accessToken, std::string("new"));
}

void TestJsonDecode::rejectedServerReplies_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("not JSON") << QByteArray("<html>");
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("token a number") << QByteArray(R"({"access_token":1})");
    QTest::newRow("vip a string") << QByteArray(R"({"access_token":"t","is_vip":"yes"})");
    QTest::newRow("piece length fractional") << QByteArray(R"({"piece_length":2.5})");
    QTest::newRow("piece length too big") << QByteArray(R"({"piece_length":1e20})");
}

void TestJsonDecode::rejectedServerReplies()
{
    QFETCH(QByteArray, json);
    CServerInfo info;
    info.accessToken = "kept";
    QVERIFY(!JSONToServer(json.toStdString(), info));
    QCOMPARE(info.accessToken, std::string("kept"));
}

void TestJsonDecode::cleanCheckData()
{
    auto make = [](const char* text, int type, int start, const char* suggestion) {
        auto data = std::make_shared<CCheckData>();
        data->text = text;
        data->type = type;
        data->spans = {{start, start + 1}};
        if (suggestion)
            data->suggestions = std::vector<CDataItemValue>{CDataItemValue(suggestion, 1)};
        return data;
    };
    CHECK_DATAS datas{make("a", 1, 0, "x"),    make("", 1, 0, "x"),      make("a", 1, 0, "x"),
                      make("b", 1, 0, "x"),    make("a", 2, 0, "x"),     make("a", 1, 5, "x"),
                      make("a", 1, 0, "y"),    make("a", 1, 0, nullptr), nullptr,
                      make("a", 1, 0, nullptr)};
    CleanCheckData(datas);
    QStringList seen;
    for (const auto& d : datas)
        seen << QString("%1/%2/%3/%4")
                    .arg(QString::fromStdString(d->text))
                    .arg(d->type)
                    .arg(d->spans[0].first)
                    .arg(d->suggestions ? QString::fromStdString(d->suggestions->at(0).GetText()) : "-");
    QCOMPARE(seen, (QStringList{"a/1/0/x", "b/1/0/x", "a/2/0/x", "a/1/5/x", "a/1/0/y", "a/1/0/-"}));
}

QTEST_MAIN(TestJsonDecode)
#include "TestJsonDecode.moc"
