#include "message_line.h"

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

bool MessageLine::isHistoryText(const std::string& text) {
    for (std::size_t i = 1; i < kHistoryTexts.size(); ++i)
        if (text == kHistoryTexts[i])
            return true;
    return false;
}

void MessageLine::historyState(History state) {
    const bool shown = isHistoryText(text_);
    if (state == History::Written) {
        if (shown)
            text_ = beforeBacklog_;
        else if (isHistoryText(beforeGateway_))
            beforeGateway_ = beforeBacklog_; // under the gateway's text
        return;
    }
    // What the line held before the rows began to wait comes back once they are written.
    if (!shown)
        beforeBacklog_ = text_;
    text_ = kHistoryTexts[static_cast<std::size_t>(state)];
}

void MessageLine::gatewayConnected(bool connected) {
    if (!connected && text_ != kGatewayRetrying) {
        beforeGateway_ = text_;
        text_ = kGatewayRetrying;
    } else if (connected && text_ == kGatewayRetrying) {
        text_ = beforeGateway_;
    } else if (connected && beforeBacklog_ == kGatewayRetrying) {
        beforeBacklog_ = beforeGateway_; // under the history's text
    }
}

} // namespace mirv
