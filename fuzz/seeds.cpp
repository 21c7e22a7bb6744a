// Writes the seed corpora into DIR/<target>/: replies in every form the parsers accept and small
// valid images of each format, all made here. Usage: fuzz_seeds DIR

#include "support/Fixtures.h"

#include "ai/AIClient.h"
#include "core/Prompts.h"
#include "organize/Plan.h"
#include "platform/Imaging.h"
#include "refine/MoveJournal.h"
#include "samples/Scenes.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <png.h>
#include <turbojpeg.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

void put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    fs::create_directories(dir);
    std::ofstream file(dir / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void put(const fs::path& dir, const std::string& name, const std::string& text) {
    put(dir, name, Bytes(text.begin(), text.end()));
}

Bytes slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void writeReplies(const fs::path& dir, const std::vector<std::string>& replies) {
    for (size_t i = 0; i < replies.size(); ++i)
        put(dir, "reply-" + std::to_string(i), replies[i]);
}

/// Bodies of chat-completions replies; the first byte picks the status (0: 200, 4: 401, 6: 500).
const std::vector<std::string> kChatReplies = {
    std::string(1, '\0') +
        R"({"choices":[{"message":{"role":"assistant","content":"{\"category\":\"label\"}"}}]})",
    std::string(1, '\0') +
        R"({"id":"chatcmpl-1","object":"chat.completion","created":1765000000,"model":"vision-1",)"
        R"("choices":[{"index":0,"message":{"role":"assistant","content":"青铜鼎\n商代晚期\u3000"},)"
        R"("finish_reason":"stop"}],"usage":{"prompt_tokens":812,"completion_tokens":9,"total_tokens":821}})",
    std::string(1, '\0') + R"({"choices":[{"message":{"content":null}}]})",
    std::string(1, '\0') + R"({"choices":[]})",
    std::string(1, '\0') + R"({"choices":[{"message":{"content":[{"type":"text","text":"x"}]}}]})",
    std::string(1, '\4') +
        R"({"error":{"message":"Incorrect API key provided","type":"invalid_request_error"}})",
    std::string(1, '\6') + "<html><body><h1>502 Bad Gateway</h1></body></html>",
    std::string(1, '\6') + "\xff\xfe" + std::string(1, '\0') + "error",
};

const std::vector<std::string> kClassificationReplies = {
    R"({"category":"panel","confidence":0.93})",
    R"({"category":"label","confidence":0.5})",
    R"({"category":"artifact","confidence":1})",
    R"({"category":"LABEL"})",
    R"({"category":"展板","confidence":0.7})",
    R"({"category":"标签","confidence":0.6})",
    R"({"category":"展签"})",
    R"({"category":"文物","confidence":0.2})",
    R"({"category":"文物照片","confidence":"high"})",
    "```json\n{\"category\":\"label\",\"confidence\":0.88}\n```",
    "这是一张展签。\n{\"category\": \"label\", \"confidence\": 0.8}\n以上。",
    R"({"category":"unknown","confidence":0.1})",
    R"({"category":["panel"]})",
    "  {\"category\":\"panel\"}  ",
    "not json at all",
    "{",
};

const std::vector<std::string> kLabelReplies = {
    R"({"文物名称":"玉琮","文物来源":"1986年出土于浙江余杭反山遗址","年代":"良渚文化","其他":"高8.8厘米"})",
    R"({"文物名称":"青铜鼎","文物来源":"随州出土，湖北省博物馆藏","年代":"战国","其他":""})",
    R"({"文物名":"陶罐","出土地点":"西安半坡","年代":"","其他":"彩陶"})",
    R"({"文物名称":"铜镜","出土地":"","馆藏地":"昭陵博物馆藏","年代":"唐"})",
    R"({"文物名称":"瓷瓶","文物来源":"征集","年代":"清","其他":"","馆藏地":"故宫博物院"})",
    "```json\n{\"文物名称\":\"石刻\",\"文物来源\":\"来源不明\",\"年代\":\"年代不明\",\"其他\":\"\"}\n```",
    "\xEF\xBB\xBF{\"文物名称\":\"金印\",\"文物来源\":\"墓葬出土\",\"年代\":\"汉\",\"其他\":\"边长2.3厘米\",}",
    R"({"文物名称":"“天下第一"剑","文物来源":"越王墓出土","年代":"春秋","其他":"铭文“越王鸠浅"，自作用剑"})",
    R"({"文物名称":"砖","文物来源":"遗址","年代":"宋","其他":"题“福"字"})",
    "说明如下：{\"文物名称\":\"俑\",\"文物来源\":\"陕西\",\"年代\":\"秦\",\"其他\":\"陶/彩绘 高 1.8 m\"} "
    "谢谢",
    R"({"文物名称":"钱币","文物来源":"窖藏","年代":"元","其他":["a","b"]} trailing } text)",
    R"({"文物名称":"壶","文物来源":"出土","年代":"周","其他":"x"}{"文物名称":"second"})",
    R"({"文物名称":"a\/b\\c:d*e?f\"g<h>i|j","文物来源":" 北京 ","年代":"明\t代","其他":"行1\n行2"})",
    R"({"文物名称":"😀","文物来源":"\u6f22","年代":"\ud83d\ude00","其他":null})",
    R"({"name":"English keys","source":"x"})",
    "[]",
    "",
};

Bytes jpegWith(const platform::Bitmap& rgb, int subsamp, int flags, int pixelFormat = TJPF_RGB) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    platform::Bitmap source = rgb;
    if (pixelFormat == TJPF_CMYK) {
        source = platform::Bitmap(rgb.rows, rgb.cols, CV_8UC4);
        for (int y = 0; y < rgb.rows; ++y)
            for (int x = 0; x < rgb.cols; ++x) {
                const auto p = rgb.at<cv::Vec3b>(y, x);
                source.at<cv::Vec4b>(y, x) = cv::Vec4b(p[0], p[1], p[2], 255);
            }
    }
    Bytes bytes;
    if (tjCompress2(tj, source.data, source.cols, static_cast<int>(source.step), source.rows, pixelFormat,
                    &out, &size, subsamp, 85, flags) == 0)
        bytes.assign(out, out + size);
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

Bytes pngWith(const platform::Bitmap& rgb, png_uint_32 format) {
    platform::Bitmap pixels;
    if (format == PNG_FORMAT_GA) {
        pixels = platform::Bitmap(rgb.rows, rgb.cols, CV_8UC2);
        for (int y = 0; y < rgb.rows; ++y)
            for (int x = 0; x < rgb.cols; ++x)
                pixels.at<cv::Vec2b>(y, x) = cv::Vec2b(rgb.at<cv::Vec3b>(y, x)[1], uchar(x * 8));
    } else {
        pixels = rgb;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(rgb.cols);
    image.height = png_uint_32(rgb.rows);
    image.format = format;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data, png_int_32(pixels.step), nullptr))
        return {};
    Bytes bytes(size);
    if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data, png_int_32(pixels.step),
                                   nullptr))
        return {};
    bytes.resize(size);
    return bytes;
}

/// Small images of every format the readers meet, with and without capture dates.
std::vector<std::pair<std::string, Bytes>> images(const fs::path& scratch) {
    using fixtures::Dates;
    const Dates both{"2024:05:01 10:20:30", "2024:05:01 10:20:31"};
    std::vector<std::pair<std::string, Bytes>> out;
    auto file = [&](const std::string& name, auto&& write) {
        const fs::path path = scratch / name;
        try {
            write(path);
            out.emplace_back(name, slurp(path));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "fuzz_seeds: skipped %s: %s\n", name.c_str(), e.what());
        }
    };
    file("dated.jpg", [&](const fs::path& p) { fixtures::writeJpeg(p, 24, 16, both, 6); });
    file("original-only.jpg", [&](const fs::path& p) {
        fixtures::writeJpeg(p, 16, 24, {"2023:01:02 03:04:05", {}});
    });
    file("tiff-date-only.jpg", [&](const fs::path& p) {
        fixtures::writeJpeg(p, 16, 16, {{}, "2022:12:31 23:59:59"});
    });
    file("malformed-date.jpg", [&](const fs::path& p) {
        fixtures::writeJpeg(p, 16, 16, {"2024:13:45 99:99:99", {}});
    });
    file("plain.jpg", [&](const fs::path& p) { fixtures::writeJpeg(p, 40, 30); });
    file("plain.png", [&](const fs::path& p) { fixtures::writePng(p, 20, 12); });
    file("dated.heic", [&](const fs::path& p) { fixtures::writeHeic(p, 64, 48, both); });
    file("preview.dng", [&](const fs::path& p) { fixtures::writeDng(p, 32, 24, both, true); });
    file("bare.dng", [&](const fs::path& p) { fixtures::writeDng(p, 16, 16, {}, false); });

    const platform::Bitmap rgb = fixtures::picture(24, 16, 7);
    out.emplace_back("gray.jpg", jpegWith(rgb, TJSAMP_GRAY, 0));
    out.emplace_back("progressive.jpg", jpegWith(rgb, TJSAMP_420, TJFLAG_PROGRESSIVE));
    out.emplace_back("cmyk.jpg", jpegWith(rgb, TJSAMP_444, 0, TJPF_CMYK));
    out.emplace_back("gray-alpha.png", pngWith(rgb, PNG_FORMAT_GA));
    out.emplace_back("rgb.png", pngWith(rgb, PNG_FORMAT_RGB));
    std::erase_if(out, [](const auto& entry) { return entry.second.empty(); });
    return out;
}

/// Journals as organize and refinement runs write them, for the folder the move_journal target
/// undoes: every step and outcome, a non-UTF-8 name, and a last line cut off by a kill.
std::vector<Bytes> journals(const fs::path& scratch) {
    // The writer puts journals in the user's data folder: here, a scratch one.
    qputenv("XDG_DATA_HOME", QFile::encodeName(QString::fromStdString((scratch / "data").string())));
    const fs::path shoot = "/vitrino-fuzz/shoot";
    const fs::path exhibit = shoot / "1 鼎";
    const QDateTime start(QDate(2026, 12, 7), QTime(9, 30));
    std::vector<Bytes> out;
    auto take = [&](std::unique_ptr<MoveJournal::Writer> writer) {
        const fs::path file = writer->file();
        writer.reset();
        out.push_back(slurp(file));
    };

    auto organize = MoveJournal::Writer::create(MoveJournal::Kind::organize, shoot, start);
    if (!organize) return out;
    auto& o = **organize;
    o.willCreateFolder(exhibit);
    const auto label = o.willWrite(exhibit / "1 鼎.json", QByteArray(R"({"name":"鼎"})"));
    if (label) o.finished(*label, true);
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.CR3", "IMG_0002.JPG", "IMG_0003.HEIC"}) {
        const auto id = o.willMove(shoot / name, exhibit / name);
        if (id && std::string(name) != "IMG_0003.HEIC") o.finished(*id, std::string(name) != "IMG_0002.CR3");
    }
    take(std::move(*organize));

    auto refine = MoveJournal::Writer::create(MoveJournal::Kind::refine, shoot, start.addSecs(60));
    if (!refine) return out;
    auto& r = **refine;
    const std::string notUtf8 = "IMG_\xff\xfe.JPG";
    for (const std::string& name : {std::string("IMG_0004.JPG"), notUtf8, std::string("IMG_0005.JPG")}) {
        const auto id = r.willMove(exhibit / name, shoot / "2 簋" / name);
        if (!id) continue;
        r.finished(*id, true);
        if (name == notUtf8) r.undone(*id);
        if (name == "IMG_0005.JPG") r.dropped(*id);
    }
    take(std::move(*refine));

    Bytes cut = out.front();
    const std::string tail = R"({"op":"done","id)";
    cut.insert(cut.end(), tail.begin(), tail.end());
    out.push_back(cut);
    return out;
}

/// Requests as Vitrino's client posts them to the offline engine's service: each prompt with a
/// small JPEG and PNG, then bodies the service refuses.
std::vector<std::string> engineRequests(const std::vector<std::pair<std::string, Bytes>>& files) {
    std::vector<std::string> out;
    for (const auto& [name, bytes] : files) {
        if (name != "plain.jpg" && name != "plain.png") continue;
        const RAWJPEGExporter::PreparedImage image{
            QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())),
            name.ends_with(".png") ? QStringLiteral("image/png") : QStringLiteral("image/jpeg")};
        for (const QString& prompt : {core::prompts::kClassify, core::prompts::kLabel, core::prompts::kOCR})
            if (const auto body = AIClient::requestBody(QStringLiteral("vitrino-local"), prompt, image, 300))
                out.push_back(body->toStdString());
    }
    out.push_back(R"({"messages":[{"role":"user","content":[{"type":"text","text":"?"}]}]})");
    out.push_back(R"({"model":"m","messages":[]})");
    out.push_back("[1,2,3]");
    return out;
}

/// One text line as the engine_page target reads it: flags, height, width, confidence, text.
std::string pageRecord(bool newRow, int height, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const int width = std::min(255, int(text.size()) * height / 2);
    return std::string{char(newRow ? 1 : 0), char(height), char(width), char(200)} + utf8.toStdString() +
           "\n";
}

/// Pages of printed label cards in every layout the renderer knows, a wall panel's prose, and a
/// picture with one word on it.
std::vector<std::string> enginePages() {
    std::vector<std::string> out;
    for (const auto layout : scenes::kLabelLayouts)
        for (unsigned seed : {1u, 2u}) {
            const auto card = scenes::randomPrintedLabel(layout, seed);
            std::string page{char(100), char(75)};
            for (const auto& line : card.lines) {
                const int height = line.style == scenes::PrintedLine::Style::name    ? 60
                                   : line.style == scenes::PrintedLine::Style::prose ? 30
                                                                                     : 36;
                if (!line.field.isEmpty()) page += pageRecord(true, height, line.field);
                page += pageRecord(line.field.isEmpty(), height, line.text);
            }
            out.push_back(page);
        }
    std::string panel{char(100), char(75)};
    panel += pageRecord(true, 80, QStringLiteral("青铜时代的礼与乐"));
    for (int i = 0; i < 10; ++i)
        panel += pageRecord(
            true, 30, QStringLiteral("商周时期的青铜器不仅是日常用具，更是礼制与等级的象征，第%1行").arg(i));
    out.push_back(panel);
    out.push_back(std::string{char(10), char(10)} + pageRecord(true, 40, QStringLiteral("EXIT")));
    return out;
}

/// Plans as a dry run writes them: every kind of group, companions, an emptied group, edited
/// fields with what the field rules remove.
std::vector<std::string> plans() {
    plan::Plan written;
    written.folder = "/vitrino-fuzz/shoot";
    plan::Group label{
        plan::GroupKind::label, "1", RelicLabelExtracted{"鼎", "殷墟", "商", "高 30 厘米\n馆藏"}, {}};
    label.entries.push_back({{"IMG_0003.JPG", {2048, 1714557720000000000}},
                             "label",
                             {{"IMG_0003.DNG", {9000, 1714557720000000000}}}});
    label.entries.push_back({{"IMG_0001.JPG", {1024, 1714557600123456789}}, "artifact", {}});
    label.entries.push_back({{"IMG_0002.MOV", {0, -1}}, "artifact", {}});
    written.groups = {
        {plan::GroupKind::panel, "0", std::nullopt, {{{"IMG_0004.JPG", {1, 2}}, "panel", {}}}},
        label,
        {plan::GroupKind::unreadLabel, "2", std::nullopt, {{{"IMG_0005.HEIC", {4, 5}}, "label", {}}}},
        {plan::GroupKind::leftovers, "3", std::nullopt, {}},
    };
    std::vector<std::string> out;
    out.push_back(plan::toJSON(written).toStdString());
    written.groups[1].label->name = QStringLiteral("青铜/方鼎 ");
    written.groups[3].entries.push_back({{"IMG_0006.PNG", {7, 8}}, "unknown", {}});
    out.push_back(plan::toJSON(written).toStdString());
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const fs::path root = argv[1];
    writeReplies(root / "chat_reply", kChatReplies);
    writeReplies(root / "classification", kClassificationReplies);
    writeReplies(root / "label_json", kLabelReplies);
    writeReplies(root / "app_url", {"vitrino://ocr?path=/A/IMG_1.JPG&path=/A/IMG_2.JPG",
                                    "vitrino://name?path=%2Fhome%2F%E5%B1%95%E8%A7%88%2F1%20%E9%BC%8E",
                                    "VITRINO://OCR?path=/a%26b%23c.jpg&x=1&path=", "vitrino:?path=/x"});
    writeReplies(root / "ocr_reply", {"```\n青铜鼎\n商代晚期\n```", "  第一行\n第二行  ", "", "e\u0301"});

    const auto planFiles = plans();
    for (size_t i = 0; i < planFiles.size(); ++i)
        put(root / "plan_file", "plan-" + std::to_string(i), planFiles[i]);

    const fixtures::TempDir scratch;
    const auto files = images(scratch.path());
    for (const auto& [name, bytes] : files) {
        put(root / "capture_date", name, bytes);
        // image_decode reads its first byte as the file name to use: JPG, PNG, HEIC, DNG, CR3.
        const unsigned char selector = name.ends_with(".png")    ? 1
                                       : name.ends_with(".heic") ? 2
                                       : name.ends_with(".dng")  ? 3
                                                                 : 0;
        Bytes tagged{selector};
        tagged.insert(tagged.end(), bytes.begin(), bytes.end());
        put(root / "image_decode", name, tagged);
    }
    writeReplies(root / "engine_request", engineRequests(files));
    writeReplies(root / "engine_page", enginePages());
    const auto written = journals(scratch.path());
    for (size_t i = 0; i < written.size(); ++i)
        put(root / "move_journal", "journal-" + std::to_string(i), written[i]);
    std::printf("fuzz_seeds: %zu replies, %zu images, %zu journals\n",
                kChatReplies.size() + kClassificationReplies.size() + kLabelReplies.size(), files.size(),
                written.size());
    return files.empty() || written.size() != 3 ? 1 : 0;
}
