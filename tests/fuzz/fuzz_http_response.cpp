// Response heads come from the network: the engine's head split, header lookup, date parsing
// and file-name rule must take any bytes safely, and so must the update server's request
// parser. The first byte picks the maximum value length, so short limits are exercised too.
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/update_server.h"
#include "update/http_transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t max = data[0];
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::size_t body = update::FindHeadEnd(text);
    if (body != std::string_view::npos && body > text.size()) __builtin_trap();
    std::string value;
    for (const char* name : {"vd-message:", "content-length:", "vd-upgrade:", "vd-filename:",
                             "last-modified:", "vd-filedate:"}) {
        if (update::FindHeaderValue(text, name, value, max) && value.size() > max) __builtin_trap();
        std::string date, time;
        std::uint32_t dosDate = 0, dosTime = 0;
        update::ParseHttpDate(value, &date, &time, &dosDate, &dosTime);
        update::IsAcceptableDownloadName(value);
    }
    std::string date, time;
    update::ParseHttpDate(text, &date, &time, nullptr, nullptr);
    if (update::IsAcceptableDownloadName(text) &&
        (text.find('/') != std::string_view::npos || text.size() > 64))
        __builtin_trap();

    updateserver::HttpRequest request;
    std::size_t length = 0;
    if (updateserver::ParseRequestHead(text, request, length) ==
        updateserver::ParseResult::kComplete) {
        if (length > text.size()) __builtin_trap();
        updateserver::DownloadNumber(request.target);
        updateserver::LogLine(0, "peer", request, 200, 0);
    }
    return 0;
}
