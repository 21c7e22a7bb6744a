// The chat-completions reply reader over any body a server or proxy may send. The first byte
// picks the HTTP status the body comes with; the rest is the body.

#include "ai/AIClient.h"

#include <array>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static constexpr std::array<int, 8> kStatuses{200, 200, 200, 200, 401, 429, 500, 204};
    const int status = kStatuses[data[0] % kStatuses.size()];
    const QByteArray body(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const auto reply = AIClient::readReply(status, body);
    using Kind = AIClient::ClientError::Kind;
    if (reply) {
        if (status != 200) std::abort();
        return 0;
    }
    const AIClient::ClientError& error = reply.error();
    // Every other status is the API's error with its code; a 200 that says nothing usable is
    // "无法解析 API 返回".
    if (status == 200
            ? error.kind != Kind::responseParseFailed || error.description() != AIClient::kResponseParseFailed
            : error.kind != Kind::apiError || error.statusCode != status ||
                  !error.description().startsWith(QStringLiteral("API 错误 %1: ").arg(status)))
        std::abort();
    return 0;
}
