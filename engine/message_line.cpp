#include "message_line.h"

#include <algorithm>
#include <array>

namespace mirv {

namespace {

const std::array<std::string, 4> kHistoryTexts{
    "",
    "历史数据写入失败,等待重试",
    "数据库文件不存在,等待恢复",
    "历史数据写入失败,暂存文件也无法写入,退出将丢失数据!",
};

const std::string kGatewayRetrying = "网关未连接,正在重试";

} // namespace

void MessageLine::set(std::string text) {
    base_ = std::move(text);
}

void MessageLine::historyState(History state) {
    lay(Source::History, kHistoryTexts[static_cast<std::size_t>(state)]);
}

void MessageLine::gatewayConnected(bool connected) {
    lay(Source::Gateway, connected ? std::string() : kGatewayRetrying);
}

void MessageLine::brokerState(const std::string& text) {
    lay(Source::Broker, text);
}

void MessageLine::lay(Source source, const std::string& text) {
    const auto same = [source](const Laid& l) { return l.source == source; };
    const auto found = std::find_if(laid_.begin(), laid_.end(), same);
    if (found != laid_.end() && found->text == text)
        return;
    if (found != laid_.end())
        laid_.erase(found);
    if (!text.empty())
        laid_.push_back({source, text});
}

} // namespace mirv
