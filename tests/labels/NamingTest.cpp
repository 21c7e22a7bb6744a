#include "labels/Naming.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

namespace {

TEST(Naming, LeadingSerialIsTheNumberAFolderNameStartsWith) {
    const std::pair<const char*, std::optional<QString>> cases[] = {
        {"12-3玉琮", QStringLiteral("12-3")},
        {"12-", std::nullopt}, // a trailing hyphen is not part of a serial
        {"玉琮12", std::nullopt},
        {"  12\t玉琮\n", QStringLiteral("12")},
        {"１２ 玉琮", QStringLiteral("１２")}, // full-width digits are digits
        {"-12 玉琮", std::nullopt},
    };
    for (const auto& [folder, serial] : cases)
        EXPECT_EQ(Naming::leadingSerial(QString::fromUtf8(folder)), serial) << folder;
}

TEST(Naming, TitleJoinsTheNormalisedFieldsWithDefaults) {
    const std::pair<RelicLabelExtracted, QString> cases[] = {
        {{"玉琮", "", "", ""}, QStringLiteral("玉琮 来源不明 年代不明")},
        {{"青铜 / 鼎", "湖北:随州", "战 国", ""}, QStringLiteral("青铜鼎 湖北随州 战国")},
        {{"", "良渚", "", ""}, QStringLiteral("良渚 年代不明")},
        {{"  ", " ", "\t", ""}, QString()}, // blank, not empty: no default, nothing left
    };
    for (const auto& [label, title] : cases)
        EXPECT_EQ(Naming::title(label), title) << label.name.toStdString();
}

TEST(Naming, FolderNameKeepsTheSerialInFrontOfTheTitle) {
    const std::tuple<std::optional<QString>, QString, QString> cases[] = {
        {QStringLiteral("12"), QStringLiteral("玉/琮"), QStringLiteral("12 玉_琮")},
        {std::nullopt, QStringLiteral(" a\\b:c*d?e\"f<g>h|i "), QStringLiteral("a_b_c_d_e_f_g_h_i")},
        {std::nullopt, QStringLiteral("   "), QString()}, // the caller must not use it
        {std::nullopt, QStringLiteral(".."), QStringLiteral("_")},
    };
    for (const auto& [serial, title, name] : cases)
        EXPECT_EQ(Naming::folderName(serial, title), name) << title.toStdString();
}

TEST(Naming, ArtifactFileNameIsTitleAndTheCamerasLastNumber) {
    const QString title = QStringLiteral("玉琮 良渚文化");
    const std::pair<const char*, QString> cases[] = {
        {"/a/IMG_0457.JPG", QStringLiteral("玉琮 良渚文化 0457.JPG")},
        {"/a/scan.png", QStringLiteral("玉琮 良渚文化 scan.png")},
        {"/a/DSC01234-2.jpeg", QStringLiteral("玉琮 良渚文化 2.jpeg")}, // the last run no digit follows
        {"/a/a:b.heic", QStringLiteral("玉琮 良渚文化 a_b.heic")},
    };
    for (const auto& [path, name] : cases)
        EXPECT_EQ(Naming::artifactFileName(title, path), name) << path;
    EXPECT_EQ(Naming::artifactFileName(QStringLiteral("a/b"), "/x/IMG_1.JPG"), QStringLiteral("a_b 1.JPG"));
}

TEST(Naming, LongNamesAreCutInTheTitleOnly) {
    const QString longTitle = QString(120, QChar(0x7389)); // 360 bytes
    const QString artifact = Naming::artifactFileName(longTitle, "/a/IMG_0457.JPG");
    EXPECT_TRUE(artifact.endsWith(QStringLiteral(" 0457.JPG")));
    // Room is left for "-N", so a uniquified name still fits, also when the whole name would.
    const QString full = Naming::artifactFileName(QString(82, QChar(0x7389)), "/a/IMG_0457.JPG"); // 255 bytes
    QSet<QString> used{artifact, full};
    EXPECT_LE(Naming::uniquify(artifact, used).toUtf8().size(), Naming::kMaxNameBytes);
    EXPECT_LE(Naming::uniquify(full, used).toUtf8().size(), Naming::kMaxNameBytes);
    EXPECT_GT(artifact.toUtf8().size(), Naming::kMaxNameBytes - 9);

    const QString folder = Naming::folderName(QStringLiteral("2024-05-01"), longTitle);
    EXPECT_LE(folder.toUtf8().size(), Naming::kMaxNameBytes);
    EXPECT_TRUE(folder.startsWith(QStringLiteral("2024-05-01 玉")));
    // A second run computes the same names from the shortened ones.
    EXPECT_EQ(Naming::artifactFileName(longTitle, "/a/" + artifact.toStdString()), artifact);

    // Characters outside the Basic Multilingual Plane are never cut in half.
    const QString emoji = QString::fromUtf8("😀").repeated(80);
    EXPECT_EQ(Naming::fitFolderName(QStringLiteral("1 ") + emoji).toUtf8().size(), 2 + 63 * 4);

    // A planned folder name stays one component within the limit.
    const QString fitted = Naming::fitFolderName(QStringLiteral("12 ") + longTitle + longTitle);
    EXPECT_TRUE(fitted.startsWith(QStringLiteral("12 玉玉")));
    EXPECT_EQ(fitted.toUtf8().size(), 3 + 84 * 3);
    EXPECT_EQ(Naming::fitFolderName(QStringLiteral("..")), QStringLiteral("_"));
}

TEST(Naming, UniquifyCountsUpBeforeTheExtension) {
    struct Case {
        QString name;
        QSet<QString> used;
        QString expected;
    };
    const Case cases[] = {
        {"a.jpg", {"a.jpg"}, "a-2.jpg"},
        {"a.jpg", {"a.jpg", "a-2.jpg"}, "a-3.jpg"},
        {"a.tar.gz", {"a.tar.gz"}, "a.tar-2.gz"},
        {".hidden", {".hidden"}, ".hidden-2"},
        {"A.JPG", {"a.jpg"}, "A.JPG"}, // exact comparison
    };
    for (Case c : cases) {
        const QString got = Naming::uniquify(c.name, c.used);
        EXPECT_EQ(got, c.expected) << c.name.toStdString();
        EXPECT_TRUE(c.used.contains(got));
    }
}

} // namespace
