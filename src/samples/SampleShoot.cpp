#include "samples/SampleShoot.h"

#include "platform/FileSystem.h"
#include "samples/RawWriter.h"

#include <QDateTime>

#include <opencv2/imgproc.hpp>

#include <fstream>
#include <random>

namespace samples {
namespace {

constexpr int kWidth = 2400, kHeight = 1600;

} // namespace

SampleShoot makeSampleShoot(const std::filesystem::path& dir, int exhibits, unsigned seed) {
    return makeSampleShoot(dir, exhibits, seed, {});
}

SampleShoot makeSampleShoot(const std::filesystem::path& dir, int exhibits, unsigned seed,
                            const std::vector<scenes::LabelLayout>& layouts) {
    return makeSampleShoot(dir, exhibits, seed, layouts, {});
}

SampleShoot makeSampleShoot(const std::filesystem::path& dir, int exhibits, unsigned seed,
                            const std::vector<scenes::LabelLayout>& layouts, const QStringList& families) {
    std::filesystem::create_directories(dir);
    std::mt19937 rng(seed);
    SampleShoot shoot;
    QDateTime clock(QDate(2024, 5, 1), QTime(10, 0), Qt::LocalTime);
    int number = 1;
    auto nextName = [&](const char* ext) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.%s", number++, ext);
        return std::string(name);
    };
    auto stamp = [&]() {
        clock = clock.addSecs(15 + int(rng() % 40));
        return clock.toString(QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    };
    auto add = [&](const std::string& name, SampleShot::Kind kind, int exhibit) {
        shoot.shots.push_back(SampleShot{name, kind, exhibit});
    };

    for (int e = 0; e < exhibits; ++e) {
        if (e % 4 == 0) {
            const std::string name = nextName("JPG");
            scenes::writePhoto(dir / name, scenes::renderPanel(seed * 1000u + unsigned(e), kWidth, kHeight),
                               stamp());
            add(name, SampleShot::Kind::panel, -1);
        }
        const unsigned objectSeed = seed * 1000u + 100u + unsigned(e);
        const auto kind = static_cast<scenes::ObjectKind>(rng() % 4);
        const int views = 2 + int(rng() % 3);
        for (int v = 0; v < views; ++v) {
            const std::string name = nextName("JPG");
            const auto image = scenes::renderObject(kind, objectSeed, kWidth, kHeight, unsigned(v));
            const QString date = stamp();
            scenes::writePhoto(dir / name, image, date);
            add(name, SampleShot::Kind::object, e);
            if ((e + v) % 5 == 0) {
                // A RAW companion of the same frame.
                platform::Bitmap small;
                cv::resize(image, small, cv::Size(kWidth / 4, kHeight / 4), 0, 0, cv::INTER_AREA);
                std::string raw = name.substr(0, name.size() - 3) + "DNG";
                writeDng(dir / raw, small, date);
                add(raw, SampleShot::Kind::raw, e);
            }
        }
        if (e == exhibits / 2) {
            // A short clip of the object; only its name and time matter here.
            const std::string name = nextName("MOV");
            std::ofstream(dir / name, std::ios::binary) << "sample clip " << name;
            stamp();
            platform::setFileTime(dir / name, clock.toSecsSinceEpoch());
            add(name, SampleShot::Kind::video, e);
        }
        const std::string name = nextName("JPG");
        const unsigned labelSeed = seed * 1000u + unsigned(e);
        if (layouts.empty()) {
            const scenes::LabelCard card = scenes::randomLabel(labelSeed);
            scenes::writePhoto(dir / name, scenes::renderLabel(card, objectSeed + 7u, kWidth, kHeight),
                               stamp());
            shoot.labels.push_back(card);
            shoot.layouts.push_back(scenes::LabelLayout::classic);
        } else {
            const auto layout = layouts[size_t(e) % layouts.size()];
            const auto label = scenes::randomPrintedLabel(layout, labelSeed);
            const QStringList& faces = families.isEmpty() ? scenes::tuningFamilies() : families;
            const QString family = faces[e % faces.size()];
            scenes::writePhoto(
                dir / name,
                scenes::renderPrintedLabel(label, objectSeed + 7u, kWidth, kHeight, std::nullopt, {family}),
                stamp());
            shoot.labels.push_back(label.fields);
            shoot.layouts.push_back(layout);
            shoot.families.push_back(family);
        }
        add(name, SampleShot::Kind::label, e);
    }
    return shoot;
}

} // namespace samples
