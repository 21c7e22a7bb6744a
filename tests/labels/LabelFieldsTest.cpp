#include "core/RelicLabelExtracted.h"
#include "support/Fixtures.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using R = RelicLabelExtracted;

TEST(LabelFields, TolerantParsingFindsTheObject) {
    struct Case {
        const char* name;
        QString reply;
        std::optional<QString> expectName; // absent: no object
    };
    const std::vector<Case> cases = {
        {"fence, trailing comma, BOM",
         QStringLiteral("\uFEFF```json\n{\"文物名称\":\"玉琮\",\"年代\":\"良渚文化\",}\n```"), "玉琮"},
        {"explanation with a stray brace after", R"(结果：{"文物名称":"鼎"} 说明：字段}齐全)", "鼎"},
        {"braces and escaped quotes inside strings",
         R"(结果：{"文物名称":"鼎}{\"]","其他":"[}"} 注：见{图}二)", R"(鼎}{"])"},
        {"object that never closes before the last brace", R"({"文物名称":"鼎" 注}释)", std::nullopt},
        {"straight quote closing a Chinese quote", QStringLiteral("{\"文物名称\":\"“鼎\"，\",\"其他\":\"\"}"),
         QStringLiteral("“鼎”，")},
        {"well-formed, a “ before a closing quote",
         QStringLiteral("{\"其他\":\"“长5.8\",\"文物名称\":\"鼎\"}"), "鼎"},
        {"empty", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto candidate = R::parseJSONObjectWithCandidate(c.reply);
        ASSERT_EQ(candidate.object.has_value(), c.expectName.has_value()) << candidate.text.toStdString();
        if (candidate.object) {
            EXPECT_EQ(candidate.object->value("文物名称").toString(), *c.expectName);
        }
    }
    const auto sliced = R::parseJSONObjectWithCandidate(R"(答：{"文物名称":"鼎"} 完)");
    EXPECT_EQ(sliced.text, QStringLiteral(R"({"文物名称":"鼎"})"));
}

TEST(LabelFields, QuoteRepairOnlyAfterAChineseOpeningQuote) {
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("“玉琮\"出土"), QStringLiteral("“玉琮”出土")},
        {QStringLiteral("“玉琮\"abc"), QStringLiteral("“玉琮\"abc")},
        {QStringLiteral("\"玉琮\"，"), QStringLiteral("\"玉琮\"，")},
        {QStringLiteral("“甲\"，“乙\"丙"), QStringLiteral("“甲”，“乙”丙")},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(R::repairMisclosedStraightQuotesAfterChineseOpenQuote(in), out);
}

TEST(LabelFields, BuildsTheRecordWithSecondaryKeysAndMuseumRules) {
    struct Case {
        const char* name;
        const char* json;
        R expected;
    };
    const std::vector<Case> cases = {
        {"secondary name and find-spot keys",
         R"({"文物名":"鼎","出土地点":"安阳殷墟","年代":"商"})",
         {"鼎", "安阳殷墟", "商", ""}},
        {"unknown source takes the museum",
         R"({"文物名称":"鼎","文物来源":"来源不明","馆藏地":"湖北省博物馆"})",
         {"鼎", "湖北省博物馆", "", ""}},
        {"find-spot keeps, museum goes to other",
         R"({"文物名称":"鼎","文物来源":"随州擂鼓墩出土","其他":"青铜","馆藏地":"湖北省博物馆"})",
         {"鼎", "随州擂鼓墩出土", "", "青铜\n馆藏地：湖北省博物馆"}},
        {"museum already in other",
         R"({"文物名称":"鼎","文物来源":"随州出土","其他":"湖北省博物馆藏","馆藏地":"湖北省博物馆"})",
         {"鼎", "随州出土", "", "湖北省博物馆藏"}},
        {"find-spot and museum in one source",
         R"({"文物名称":"玉琮","文物来源":"上世纪七十年代出土于常州郑陆镇寺墩遗址，常州博物馆藏"})",
         {"玉琮", "上世纪七十年代出土于常州郑陆镇寺墩遗址", "", ""}},
        {"names normalised, other kept",
         R"({"文物名称":"青铜 鼎/甲","年代":" 商　代 ","其他":" 高 42 厘米 "})",
         {"青铜鼎甲", "", "商代", " 高 42 厘米 "}},
        {"non-string values count as empty",
         R"({"文物名称":42,"文物名":"鼎","年代":null})",
         {"鼎", "", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto object = QJsonDocument::fromJson(QByteArray(c.json)).object();
        EXPECT_EQ(R::parseObject(object), c.expected);
    }
}

TEST(LabelFields, TextRules) {
    EXPECT_EQ(R::preferFindspotOverMuseum(QStringLiteral(" 曾侯乙墓出土、湖北省博物馆/国家博物馆 ")),
              QStringLiteral("曾侯乙墓出土"));
    EXPECT_EQ(R::preferFindspotOverMuseum(QStringLiteral("曾侯乙墓出土；三星堆遗址博物馆；湖北省博物馆")),
              QStringLiteral("曾侯乙墓出土，三星堆遗址博物馆")); // a museum at the find-spot stays

    EXPECT_EQ(
        R::normalizeFieldForPathAndPersistence(QStringLiteral("a /b\\c:d*e?f\"g<h>i|j\tk\nl\u3000m\u00a0n😀")),
        QStringLiteral("abcdefghijklmn😀"));

    struct Sig {
        R record;
        std::optional<QString> signature;
    };
    for (const auto& s : std::vector<Sig>{{{"玉 琮", "寺墩", "良渚", "x"}, QStringLiteral("玉琮|寺墩|良渚")},
                                          {{"玉琮", "来源不明", "良渚", ""}, std::nullopt},
                                          {{"", "寺墩", "良渚", ""}, std::nullopt}})
        EXPECT_EQ(s.record.mergeSignature(), s.signature);

    EXPECT_EQ((R{"玉琮", "", "良渚文化", ""}.newFolderName("12")), QStringLiteral("12 玉琮 良渚文化"));
    EXPECT_EQ((R{"鼎", "", " ", "x"}.withPersistenceDefaultsForAIOutput()), (R{"鼎", "来源不明", " ", "x"}));
}

TEST(LabelFields, SavedForms) {
    const R record{"鼎", "安阳/殷墟", "商", "高 42 厘米\n“铭文”"};
    const auto json = record.toJSONString();
    ASSERT_TRUE(json.has_value());
    EXPECT_TRUE(json->contains("\"文物来源\":\"安阳\\/殷墟\""));
    EXPECT_FALSE(json->contains(' ') && json->contains(": "));
    EXPECT_FALSE(json->contains('\n'));
    const QJsonObject back = QJsonDocument::fromJson(*json).object();
    EXPECT_EQ(back.keys(), QStringList({"其他", "年代", "文物名称", "文物来源"}));
    EXPECT_EQ(back.value("文物来源").toString(), QStringLiteral("安阳/殷墟"));
    EXPECT_EQ(back.value("其他").toString(), record.other);
    EXPECT_EQ(record.toReadableTxt(),
              QStringLiteral("文物名称：鼎\n文物来源：安阳/殷墟\n年代：商\n其他：高 42 厘米\n“铭文”"));
}
