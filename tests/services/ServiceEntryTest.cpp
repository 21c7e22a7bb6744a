#include "services/ServiceEntry.h"

#include <gtest/gtest.h>

using ServiceEntry::Request;
using Kind = FinderWorkItem::Kind;
namespace fs = std::filesystem;

TEST(ServiceEntry, ParsesApplicationURLs) {
    struct Case {
        const char* url;
        std::optional<Request> expected;
    };
    const Case cases[] = {
        {"VITRINO://Ocr?path=/a.jpg", Request{Kind::ocrImage, {"/a.jpg"}}},
        // Any other host, or none, names folders.
        {"vitrino://name?path=/shoot/3%20%E9%93%9C%E9%BC%8E", Request{Kind::nameFolder, {"/shoot/3 铜鼎"}}},
        {"vitrino:?path=/d", Request{Kind::nameFolder, {"/d"}}},
        // Encoded "&", "#", "=", quotes and "+" are part of the path.
        {"vitrino://ocr?path=/a%26b/c%23d%3De%22f%27.jpg&path=/x+y.jpg",
         Request{Kind::ocrImage, {"/a&b/c#d=e\"f'.jpg", "/x+y.jpg"}}},
        // Empty values, other names and relative paths are skipped; order is kept.
        {"vitrino://ocr?path=&other=/z&path=/2.jpg&PATH=/y&path=rel.jpg&path=/1.jpg&path",
         Request{Kind::ocrImage, {"/2.jpg", "/1.jpg"}}},
        // A raw (unencoded) space or CJK character is still understood.
        {"vitrino://ocr?path=/照片/a b.jpg", Request{Kind::ocrImage, {"/照片/a b.jpg"}}},
        {"vitrino://ocr", std::nullopt},
        {"vitrino://ocr?path=relative.jpg", std::nullopt},
        {"file:///a.jpg?path=/a.jpg", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const auto got = ServiceEntry::parseOpenURL(QString::fromUtf8(c.url));
        EXPECT_EQ(ServiceEntry::isOpenURL(QString::fromUtf8(c.url)),
                  QByteArray(c.url).toLower().startsWith("vitrino:"));
        EXPECT_EQ(got, c.expected);
    }
}

TEST(ServiceEntry, BuiltURLsCarryAnyPathUnchanged) {
    const Request request{Kind::ocrImage,
                          {"/home/u/展览 2024/IMG 1 (copy).JPG", "/a&b/c#d%20e?f=g+h;'\"`$\\.jpg",
                           "/\xff\xfe not utf8/x.png", "/plain/x.jpg"}};
    const QString url = ServiceEntry::openURL(request);
    // One line of printable ASCII, so it passes through any command line and desktop file.
    for (QChar c : url)
        EXPECT_TRUE(c.unicode() > 0x20 && c.unicode() < 0x7f) << url.toStdString();
    EXPECT_EQ(ServiceEntry::parseOpenURL(url), request);
}
