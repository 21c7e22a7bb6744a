// The offline engine on rendered label cards of every layout museums print, split by seed into a
// tuning part and a held-out part (the held-out part decides): label photos classified as
// labels, names, periods and sources read exactly, and the share of photographs placed in the
// right exhibit folder after a full organize run (the folder of the exhibit's label, named with
// the card's name, source and period; and, named or not, the folder of its label). Also the
// classification of panels and objects, and the time of one request per prompt kind.
//
//   bench_engine [--quick] [--cards N] [--shows N] [--labels-only] [--split tuning|held-out]
//                [--layout NAME] [--seed-base N] [--verbose]
//
// The tuning part sets its cards in scenes::tuningFamilies(), the held-out part in
// scenes::heldOutFamilies(). Each card is also classified small in the frame (a third of its
// width), so that label recall is reported per type family and per card size; "其他" is compared
// exactly, and so are the exhibit folders' names.
//   bench_engine --dump LAYOUT SEED [FAMILY]   (the printed lines, the rows read, the fields)

#include "support/Bench.h"
#include "support/Fixtures.h"

#include "ai/AIClient.h"
#include "ai/RAWJPEGExporter.h"
#include "ai/RemoteVisionBackend.h"
#include "core/ImageTriClassifier.h"
#include "core/RelicLabelExtracted.h"
#include "engine/Heuristics.h"
#include "engine/LocalAIService.h"
#include "engine/LocalVisionBackend.h"
#include "engine/MuseumTerms.h"
#include "engine/TextReading.h"
#include "labels/Naming.h"
#include "organize/AutoOrganizer.h"
#include "platform/TextRecognition.h"
#include "samples/SampleShoot.h"

#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>

#include <opencv2/imgproc.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

using namespace fixtures;
using bench::Clock;
using Kind = samples::SampleShot::Kind;
using scenes::LabelLayout;

namespace {

struct Tally {
    int total = 0, right = 0;
    double ms = 0;
    void add(bool ok) {
        ++total;
        right += ok;
    }
};

QString percent(const Tally& t) {
    if (t.total == 0) return QStringLiteral("     -     ");
    return QStringLiteral("%1/%2 %3")
        .arg(t.right, 3)
        .arg(t.total, -3)
        .arg(100.0 * t.right / t.total, 5, 'f', 1);
}

struct LayoutTally {
    Tally classified, nameInKeys, nameOutOfKeys, nameKnownTerms, nameUnknownTerms, period, source, other,
        otherSpacing, placed, placedReadable, grouped;
};

/// The type families of a split: the held-out part is set in faces never tuned on.
const QStringList& familiesOf(bool heldOut) {
    return heldOut ? scenes::heldOutFamilies() : scenes::tuningFamilies();
}

/// The recogniser's character list.
std::set<char32_t> recogniserCharacters() {
    std::set<char32_t> keys;
    QFile file(platform::modelsDirectory() + QStringLiteral("/keys.txt"));
    if (!file.open(QIODevice::ReadOnly)) return keys;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')))
        for (const char32_t c : line.toUcs4())
            keys.insert(c);
    return keys;
}

bool allIn(const QString& text, const std::set<char32_t>& keys) {
    for (const char32_t c : text.toUcs4())
        if (!keys.count(c)) return false;
    return true;
}

QString same(const QString& a) {
    return RelicLabelExtracted::normalizeFieldForPathAndPersistence(a);
}

void printFields(const char* what, const RelicLabelExtracted& got, const scenes::LabelCard& want) {
    std::printf("  %s: %s | %s | %s   (want %s | %s | %s)\n", what, got.name.toUtf8().constData(),
                got.source.toUtf8().constData(), got.period.toUtf8().constData(),
                want.name.toUtf8().constData(), want.source.toUtf8().constData(),
                want.period.toUtf8().constData());
}

std::optional<LabelLayout> layoutNamed(const QString& name) {
    for (const auto layout : scenes::kLabelLayouts)
        if (name == QLatin1String(scenes::layoutName(layout))) return layout;
    return std::nullopt;
}

/// Card seeds: the tuning part and the held-out part never share a seed. `--seed-base N` draws
/// the held-out cards from N on instead, for cards no rule was ever looked at on.
unsigned heldOutSeedBase = 50000;
unsigned cardSeed(bool heldOut, int i) {
    return (heldOut ? heldOutSeedBase : 1u) + unsigned(i);
}

int dump(LabelLayout layout, unsigned seed, const QString& family) {
    const auto label = scenes::randomPrintedLabel(layout, seed);
    for (const auto& line : label.lines)
        std::printf("printed: %s%s%s\n", line.field.toUtf8().constData(), line.field.isEmpty() ? "" : " | ",
                    line.text.toUtf8().constData());
    TempDir dir;
    const QStringList faces = family.isEmpty() ? QStringList() : QStringList{family};
    scenes::writePhoto(dir / "card.jpg",
                       scenes::renderPrintedLabel(label, seed * 13u + 5u, 2400, 1600, std::nullopt, faces));
    // What the service is sent: loaded at 2560, toned and compressed as for an upload.
    const auto sent = RAWJPEGExporter::prepareForUpload(dir / "card.jpg");
    if (!sent) return 1;
    const auto image =
        platform::decodeImageBytes(std::vector<unsigned char>(sent->data.begin(), sent->data.end()));
    if (!image) return 1;
    const auto page = engine::readPage(*image);
    if (!page) return 1;
    for (const auto& row : page->rows)
        std::printf("row h=%5.1f l=%6.1f r=%6.1f t=%6.1f: %s\n", row.height(), row.lines.front().left,
                    row.lines.back().left + row.lines.back().width, row.lines.front().top,
                    row.text().toUtf8().constData());
    const auto fields = engine::readLabelFields(*page);
    std::printf("class: %s\n", rawValue(engine::classifyPage(*page).category).toUtf8().constData());
    printFields("fields", fields, label.fields);
    std::printf("other: %s\nwant other: %s\n", fields.other.toUtf8().constData(),
                label.fields.other.join(QLatin1Char('\n')).toUtf8().constData());
    return 0;
}

/// Writes the recogniser's look-alike readings of the lexicon's characters: each lexicon term is
/// set in the label fonts (the tuning type families only), read back, and every character read as
/// another is recorded.
int makeLookAlikes(const QString& out, const std::set<char32_t>& keys) {
    std::map<QChar, std::set<QChar>> pairs; // read → meant
    int terms = 0;
    for (const QString& term : engine::museumTerms()) {
        if (!allIn(term, keys)) continue;
        ++terms;
        // The tuning faces, bold and regular, large and small, sharp and blurred: the ways a card is shot.
        struct Variant {
            const char* family;
            bool bold;
            int size;
            double blur;
        };
        for (const Variant v :
             {Variant{"Noto Serif CJK SC", true, 44, 0}, Variant{"Noto Sans CJK SC", true, 44, 0},
              Variant{"Noto Sans CJK SC", false, 44, 0}, Variant{"Noto Serif CJK SC", true, 44, 1.3},
              Variant{"Noto Sans CJK SC", true, 44, 1.3}, Variant{"Noto Serif CJK SC", false, 22, 0},
              Variant{"Noto Sans CJK SC", true, 22, 0.6}, Variant{"AR PL UMing CN", false, 44, 0},
              Variant{"AR PL UMing CN", true, 22, 0.6}, Variant{"WenQuanYi Zen Hei", false, 44, 0},
              Variant{"WenQuanYi Zen Hei", true, 22, 0.6}, Variant{"AR PL UKai CN", false, 44, 0},
              Variant{"AR PL UKai CN", false, 22, 0.6}}) {
            QFont font{QString::fromLatin1(v.family)};
            font.setPixelSize(v.size);
            font.setBold(v.bold);
            const int w = QFontMetrics(font).horizontalAdvance(term) + v.size, h = v.size * 2;
            QImage image(w, h, QImage::Format_RGB888);
            image.fill(QColor(236, 232, 222));
            {
                QPainter p(&image);
                p.setRenderHint(QPainter::TextAntialiasing);
                p.setFont(font);
                p.setPen(QColor(30, 28, 26));
                p.drawText(v.size / 2, v.size * 4 / 3, term);
            }
            const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
            platform::Bitmap bitmap =
                platform::Bitmap(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar*>(rgb.bits()),
                                 size_t(rgb.bytesPerLine()))
                    .clone();
            if (v.blur > 0) cv::GaussianBlur(bitmap, bitmap, cv::Size(0, 0), v.blur);
            platform::TextBox box;
            const float m = float(v.size) / 5;
            box.corners = {cv::Point2f(m, m), cv::Point2f(float(w) - m, m),
                           cv::Point2f(float(w) - m, float(h) - m), cv::Point2f(m, float(h) - m)};
            box.width = float(w) - 2 * m;
            box.height = float(h) - 2 * m;
            const auto read = platform::recognizeText(bitmap, box);
            if (!read || read->text.size() != term.size()) continue;
            for (qsizetype i = 0; i < term.size(); ++i)
                if (read->text[i] != term[i] && read->text[i].unicode() >= 0x4E00)
                    pairs[read->text[i]].insert(term[i]);
        }
    }
    QString table;
    for (const auto& [read, meant] : pairs)
        for (const QChar m : meant)
            table += QString(read) + m + QLatin1Char(' ');
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
    file.write("// Generated by bench_engine --make-lookalikes from the museum term lexicon: pairs of the\n"
               "// character the recogniser read and the lexicon character that was printed.\n");
    file.write(
        QStringLiteral("inline constexpr char16_t kLookAlikes[] = u\"%1\";\n").arg(table.trimmed()).toUtf8());
    std::printf("%d terms read, %d look-alike pairs\n", terms, int(table.size() / 3));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto value = [&](const char* flag) {
        const qsizetype i = args.indexOf(QLatin1String(flag));
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
    };
    if (!value("--make-lookalikes").isEmpty())
        return makeLookAlikes(value("--make-lookalikes"), recogniserCharacters());
    if (const qsizetype i = args.indexOf("--dump"); i >= 0 && i + 2 < args.size()) {
        const auto layout = layoutNamed(args[i + 1]);
        return layout ? dump(*layout, args[i + 2].toUInt(), args.value(i + 3)) : 2;
    }
    const bool quick = args.contains("--quick"), verbose = args.contains("--verbose");
    if (value("--seed-base").toUInt() > 0) heldOutSeedBase = value("--seed-base").toUInt();
    const int cardsPerLayout = quick ? 4 : value("--cards").toInt() > 0 ? value("--cards").toInt() : 10;
    const int shows = quick ? 1 : value("--shows").toInt() > 0 ? value("--shows").toInt() : 2;
    std::vector<LabelLayout> layouts(std::begin(scenes::kLabelLayouts), std::end(scenes::kLabelLayouts));
    if (const auto only = layoutNamed(value("--layout"))) layouts = {*only};
    std::vector<bool> splits = {false, true};
    if (value("--split") == QLatin1String("tuning")) splits = {false};
    if (value("--split") == QLatin1String("held-out")) splits = {true};

    engine::LocalAIServer server;
    if (!server.start().ok()) return 1;
    engine::LocalVisionBackend inProcess;
    const ai::AISettings settings{server.url(), engine::kApiKey, engine::kModelID};
    const auto keys = recogniserCharacters();
    TempDir work;

    std::map<bool, std::map<LabelLayout, LayoutTally>> results;
    std::map<bool, std::map<QString, Tally>> otherClasses;
    std::map<QString, Tally> requests;
    std::map<bool, Tally> panelsPlaced, foldersNamed, calledLabel;
    std::map<bool, std::map<QString, std::map<QString, Tally>>> recall; // split → family → size
    Tally pageMs, fieldsMs, classifyWithZoom, classifyWithoutZoom;
    auto classify = [&](const fs::path& file) {
        const auto t = Clock::now();
        const auto reply = AIClient::chatWithImage(file, ImageTriClassifier::kPrompt, settings, 128);
        requests["classify"].ms += bench::msSince(t);
        ++requests["classify"].total;
        return reply ? rawValue(ImageTriClassifier::parse(*reply).category) : QString();
    };

    for (const bool heldOut : splits) {
        for (const auto layout : layouts) {
            LayoutTally& tally = results[heldOut][layout];
            for (int i = 0; i < cardsPerLayout; ++i) {
                const unsigned seed = cardSeed(heldOut, i);
                const auto label = scenes::randomPrintedLabel(layout, seed);
                const QStringList& faces = familiesOf(heldOut);
                const QString family = faces[(i + int(layout)) % faces.size()];
                const fs::path file = work / ("card.jpg");
                scenes::writePhoto(file, scenes::renderPrintedLabel(label, seed * 13u + 5u, 2400, 1600,
                                                                    std::nullopt, {family}));
                const bool isLabel = classify(file) == QLatin1String("label");
                tally.classified.add(isLabel);
                recall[heldOut][family][QStringLiteral("as drawn")].add(isLabel);
                {
                    // The same card a third of the frame's width.
                    const fs::path smallFile = work / ("small.jpg");
                    const scenes::CardPose pose{0.33, double(int(seed % 9)) - 4.0};
                    scenes::writePhoto(smallFile, scenes::renderPrintedLabel(label, seed * 13u + 5u, 2400,
                                                                             1600, pose, {family}));
                    const bool smallIsLabel = classify(smallFile) == QLatin1String("label");
                    recall[heldOut][family][QStringLiteral("a third")].add(smallIsLabel);
                    // The engine before the enlarged detection of small text, in process.
                    const auto decoded = platform::decodeImageBytes([&] {
                        std::ifstream in(smallFile, std::ios::binary);
                        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
                    }());
                    if (decoded) {
                        const auto enhanced = RAWJPEGExporter::enhanceForAPI(*decoded);
                        const auto page = engine::readPage(enhanced, engine::kClassifyReadLimit,
                                                           engine::worthReadingToClassify, false);
                        recall[heldOut][family][QStringLiteral("a third, no zoom")].add(
                            page && engine::classifyPage(*page).category == MediaCategory::label);
                    }
                    if (verbose && !smallIsLabel)
                        std::printf("small card not a label: %s seed %u %s\n", scenes::layoutName(layout),
                                    seed, family.toUtf8().constData());
                }
                {
                    // The engine's own cost: reading the page, then choosing the fields.
                    const auto decoded = platform::decodeImageBytes([&] {
                        std::ifstream in(file, std::ios::binary);
                        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
                    }());
                    if (decoded) {
                        auto t0 = Clock::now();
                        const auto page = engine::readPage(*decoded);
                        pageMs.ms += bench::msSince(t0);
                        ++pageMs.total;
                        if (page) {
                            t0 = Clock::now();
                            for (int k = 0; k < 20; ++k)
                                (void)engine::readLabelFields(*page);
                            fieldsMs.ms += bench::msSince(t0) / 20;
                            ++fieldsMs.total;
                        }
                    }
                }
                const auto t = Clock::now();
                const auto read = ai::RemoteVisionBackend(settings).readLabel(file);
                requests["label read"].ms += bench::msSince(t);
                ++requests["label read"].total;
                const RelicLabelExtracted got = read ? *read : RelicLabelExtracted{};
                const auto& want = label.fields;
                const bool name = same(got.name) == same(want.name);
                const bool readable = allIn(want.name, keys);
                (readable ? tally.nameInKeys : tally.nameOutOfKeys).add(name);
                if (readable)
                    (engine::coveredByTerms(want.name) ? tally.nameKnownTerms : tally.nameUnknownTerms)
                        .add(name);
                tally.period.add(same(got.period) == same(want.period));
                tally.source.add(same(got.source) == same(want.source));
                const QString wantOther = want.other.join(QLatin1Char('\n'));
                tally.other.add(got.other == wantOther);
                // The same, apart from the spaces inside a line (a typesetter's, which a recogniser
                // cannot tell from the glyphs' own spacing: "高 40 厘米" read as "高40厘米").
                static const QRegularExpression blanks(QStringLiteral("[ \\t\\x{3000}]+"));
                tally.otherSpacing.add(QString(got.other).remove(blanks) ==
                                       QString(wantOther).remove(blanks));
                if (verbose && got.other != wantOther)
                    std::printf("%s seed %u other: %s\n   want: %s\n", scenes::layoutName(layout), seed,
                                QString(got.other).replace('\n', " / ").toUtf8().constData(),
                                QString(wantOther).replace('\n', " / ").toUtf8().constData());
                if (verbose && (!name || same(got.period) != same(want.period) ||
                                same(got.source) != same(want.source))) {
                    std::printf("%s seed %u\n", scenes::layoutName(layout), seed);
                    printFields("read", got, want);
                }
            }
        }
        if (args.contains("--labels-only")) continue;

        // Small exhibitions whose exhibits take the layouts in turn, organized end to end.
        for (int show = 0; show < shows; ++show) {
            const fs::path dir = work / (std::string(heldOut ? "held" : "tune") + std::to_string(show));
            const unsigned showSeed = (heldOut ? 7000u : 300u) + unsigned(show);
            std::vector<LabelLayout> order = layouts;
            std::rotate(order.begin(), order.begin() + long(size_t(show) % order.size()), order.end());
            QStringList faces = familiesOf(heldOut);
            std::rotate(faces.begin(), faces.begin() + show % faces.size(), faces.end());
            const auto shoot = samples::makeSampleShoot(dir, int(order.size()), showSeed, order, faces);
            // The engine's classification read of every photograph, with the enlarged second
            // detection of small text and without it (the engine before it), in turn.
            for (const auto& shot : shoot.shots) {
                if (shot.kind == Kind::raw || shot.kind == Kind::video) continue;
                const auto decoded = platform::decodeImageBytes([&] {
                    std::ifstream in(dir / shot.fileName, std::ios::binary);
                    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
                }());
                if (!decoded) continue;
                for (const bool zoom : {true, false}) {
                    const auto t0 = Clock::now();
                    (void)engine::readPage(*decoded, engine::kClassifyReadLimit,
                                           engine::worthReadingToClassify, zoom);
                    Tally& t = zoom ? classifyWithZoom : classifyWithoutZoom;
                    t.ms += bench::msSince(t0);
                    ++t.total;
                }
            }
            for (const auto& shot : shoot.shots)
                if (shot.kind == Kind::panel || shot.kind == Kind::object) {
                    const QString want = shot.kind == Kind::panel ? "panel" : "artifact";
                    const QString got = classify(dir / shot.fileName);
                    otherClasses[heldOut][want].add(got == want);
                    calledLabel[heldOut].add(got == QLatin1String("label"));
                }
            (void)AutoOrganizer::run(dir, inProcess, core::logOnly([](const QString&) {}), {});
            std::map<std::string, std::string> folderOf; // file name → folder
            for (const auto& entry : fs::recursive_directory_iterator(dir))
                if (entry.is_regular_file())
                    folderOf[entry.path().filename().string()] =
                        fs::relative(entry.path().parent_path(), dir).string();
            // Right: the exhibit's photos share one folder, and its name carries the card's fields.
            std::map<int, std::string> exhibitFolder, labelFolder;
            for (const auto& shot : shoot.shots)
                if (shot.kind == Kind::label) {
                    const std::string folder = folderOf[shot.fileName];
                    const auto& card = shoot.labels[size_t(shot.exhibit)];
                    const QString name = QString::fromStdString(folder);
                    const bool named = name.contains(same(card.name)) && name.contains(same(card.source)) &&
                                       name.contains(same(card.period));
                    exhibitFolder[shot.exhibit] = named ? folder : std::string();
                    labelFolder[shot.exhibit] = folder;
                    RelicLabelExtracted stated{card.name, card.source, card.period, {}};
                    const QString exact =
                        Naming::fitFolderName(stated.newFolderName(QString::number(shot.exhibit + 1)));
                    foldersNamed[heldOut].add(name == exact);
                    if (verbose && name != exact)
                        std::printf("folder \"%s\", want \"%s\" (%s)\n", folder.c_str(),
                                    exact.toUtf8().constData(),
                                    shoot.families[size_t(shot.exhibit)].toUtf8().constData());
                    if (verbose && !named)
                        std::printf("exhibit %d (%s) in \"%s\", want %s | %s | %s\n", shot.exhibit,
                                    scenes::layoutName(shoot.layouts[size_t(shot.exhibit)]), folder.c_str(),
                                    card.name.toUtf8().constData(), card.source.toUtf8().constData(),
                                    card.period.toUtf8().constData());
                }
            for (const auto& shot : shoot.shots) {
                const std::string want = shot.kind == Kind::panel ? "0 展板" : exhibitFolder[shot.exhibit];
                const bool right = folderOf[shot.fileName] == want && !want.empty() && want != ".";
                if (shot.kind == Kind::panel)
                    panelsPlaced[heldOut].add(right);
                else {
                    LayoutTally& t = results[heldOut][shoot.layouts[size_t(shot.exhibit)]];
                    t.placed.add(right);
                    if (allIn(shoot.labels[size_t(shot.exhibit)].name, keys)) t.placedReadable.add(right);
                    const std::string& label = labelFolder[shot.exhibit];
                    t.grouped.add(folderOf[shot.fileName] == label && !label.empty() && label != ".");
                }
            }
        }
    }

    const char* header = "  %-16s %-17s %-17s %-17s %-17s %-17s %-17s %-17s %-17s %-17s\n";
    for (const bool heldOut : splits) {
        std::printf("\n%s part (%d cards per layout, seeds %u–%u; organize: %d exhibitions, one exhibit per "
                    "layout each)\n",
                    heldOut ? "held-out" : "tuning", cardsPerLayout, cardSeed(heldOut, 0),
                    cardSeed(heldOut, cardsPerLayout - 1), shows);
        std::printf(header, "layout", "classified", "name (in keys)", "name (not in keys)", "period",
                    "source", "其他 exact", "right folder", "(names in keys)", "with its label");
        LayoutTally all;
        auto sum = [](Tally& a, const Tally& b) {
            a.total += b.total;
            a.right += b.right;
        };
        for (const auto& [layout, t] : results[heldOut]) {
            std::printf(
                header, scenes::layoutName(layout), percent(t.classified).toUtf8().constData(),
                percent(t.nameInKeys).toUtf8().constData(), percent(t.nameOutOfKeys).toUtf8().constData(),
                percent(t.period).toUtf8().constData(), percent(t.source).toUtf8().constData(),
                percent(t.other).toUtf8().constData(), percent(t.placed).toUtf8().constData(),
                percent(t.placedReadable).toUtf8().constData(), percent(t.grouped).toUtf8().constData());
            sum(all.classified, t.classified);
            sum(all.other, t.other);
            sum(all.otherSpacing, t.otherSpacing);
            sum(all.nameInKeys, t.nameInKeys);
            sum(all.nameOutOfKeys, t.nameOutOfKeys);
            sum(all.nameKnownTerms, t.nameKnownTerms);
            sum(all.nameUnknownTerms, t.nameUnknownTerms);
            sum(all.period, t.period);
            sum(all.source, t.source);
            sum(all.placed, t.placed);
            sum(all.grouped, t.grouped);
            sum(all.placedReadable, t.placedReadable);
        }
        std::printf(
            header, "all", percent(all.classified).toUtf8().constData(),
            percent(all.nameInKeys).toUtf8().constData(), percent(all.nameOutOfKeys).toUtf8().constData(),
            percent(all.period).toUtf8().constData(), percent(all.source).toUtf8().constData(),
            percent(all.other).toUtf8().constData(), percent(all.placed).toUtf8().constData(),
            percent(all.placedReadable).toUtf8().constData(), percent(all.grouped).toUtf8().constData());
        std::printf("  其他 the same apart from spaces inside a line: %s\n",
                    percent(all.otherSpacing).toUtf8().constData());
        std::printf("  label cards classified as labels, per type family and card size:\n");
        std::map<QString, Tally> bySize;
        for (const auto& [family, sizes] : recall[heldOut])
            for (const auto& [size, t] : sizes) {
                std::printf("    %-22s %-9s %s\n", family.toUtf8().constData(), size.toUtf8().constData(),
                            percent(t).toUtf8().constData());
                bySize[size].total += t.total;
                bySize[size].right += t.right;
            }
        for (const auto& [size, t] : bySize)
            std::printf("    %-22s %-9s %s\n", "all", size.toUtf8().constData(),
                        percent(t).toUtf8().constData());
        std::printf("  exhibit folders named exactly: %s\n",
                    percent(foldersNamed[heldOut]).toUtf8().constData());
        std::printf("  panels and objects called a label: %s\n",
                    percent(calledLabel[heldOut]).toUtf8().constData());
        std::printf(
            "  names in keys made wholly of the correction lexicon's terms: %s; with other words: %s\n",
            percent(all.nameKnownTerms).toUtf8().constData(),
            percent(all.nameUnknownTerms).toUtf8().constData());
        std::printf("  panels placed in 0 展板: %s\n", percent(panelsPlaced[heldOut]).toUtf8().constData());
        for (const auto& [name, t] : otherClasses[heldOut])
            std::printf("  %-9s classified %s\n", name.toUtf8().constData(), percent(t).toUtf8().constData());
    }
    std::printf("\nmean time per request (2 cores)\n");
    for (const auto& [name, t] : requests)
        std::printf("  %-18s %6.0f ms\n", name.toUtf8().constData(), t.ms / std::max(1, t.total));
    std::printf("  in process: reading a card's page %.0f ms, choosing its fields %.2f ms\n",
                pageMs.ms / std::max(1, pageMs.total), fieldsMs.ms / std::max(1, fieldsMs.total));
    const double with = classifyWithZoom.ms / std::max(1, classifyWithZoom.total),
                 without = classifyWithoutZoom.ms / std::max(1, classifyWithoutZoom.total);
    std::printf("  classification read per photograph of the shows (%d): %.0f ms without the enlarged "
                "detection of small text, %.0f ms with it (ratio %.2f)\n",
                classifyWithZoom.total, without, with, without / std::max(1e-9, with));
    return 0;
}
