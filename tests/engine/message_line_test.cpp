#include "message_line.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace mirv {
namespace {

// Each step is an event ("set:TEXT", "history:N" with N the state's number, "gateway:0/1",
// "broker:TEXT" with an empty text once connected) and the text the line shows after it.
struct Step {
    std::string event;
    std::string shown;
};

void play(MessageLine& line, const std::string& event) {
    const auto colon = event.find(':');
    const std::string kind = event.substr(0, colon), arg = event.substr(colon + 1);
    if (kind == "set")
        line.set(arg);
    else if (kind == "history")
        line.historyState(static_cast<MessageLine::History>(std::stoi(arg)));
    else if (kind == "broker")
        line.brokerState(arg);
    else
        line.gatewayConnected(arg == "1");
}

TEST(MessageLine, LaidOverTextsGiveBackWhatWasThereInAnyOrder) {
    const std::string waiting = "历史数据写入失败,等待重试";
    const std::string missing = "数据库文件不存在,等待恢复";
    const std::string notSaved = "历史数据写入失败,暂存文件也无法写入,退出将丢失数据!";
    const std::string gateway = "网关未连接,正在重试";
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"history alone",
         {{"set:A", "A"}, {"history:1", waiting}, {"history:2", missing}, {"history:0", "A"}}},
        {"gateway alone",
         {{"set:A", "A"}, {"gateway:0", gateway}, {"gateway:0", gateway}, {"gateway:1", "A"}}},
        {"gateway ends first",
         {{"set:A", "A"},
          {"history:1", waiting},
          {"gateway:0", gateway},
          {"gateway:1", waiting},
          {"history:0", "A"}}},
        {"history ends first",
         {{"set:A", "A"},
          {"history:1", waiting},
          {"gateway:0", gateway},
          {"history:0", gateway},
          {"gateway:1", "A"}}},
        {"gateway under history",
         {{"set:", ""},
          {"gateway:0", gateway},
          {"history:1", waiting},
          {"gateway:1", waiting},
          {"history:0", ""}}},
        {"written with nothing waiting", {{"set:B", "B"}, {"history:0", "B"}}},
        {"broker alone, said again",
         {{"set:A", "A"},
          {"broker:X", "X"},
          {"broker:X", "X"},
          {"broker:Y", "Y"},
          {"broker:", "A"}}},
        {"history changes under the gateway",
         {{"set:A", "A"},
          {"history:1", waiting},
          {"gateway:0", gateway},
          {"history:2", missing},
          {"gateway:1", missing},
          {"history:0", "A"}}},
        {"all three, ending in another order",
         {{"set:A", "A"},
          {"gateway:0", gateway},
          {"broker:X", "X"},
          {"history:1", waiting},
          {"broker:", waiting},
          {"history:0", gateway},
          {"gateway:1", "A"}}},
        {"broker under the gateway",
         {{"set:", ""},
          {"broker:X", "X"},
          {"gateway:0", gateway},
          {"broker:", gateway},
          {"gateway:1", ""}}},
        {"a new text goes under what is laid, which stays until it ends",
         {{"set:A", "A"},
          {"history:3", notSaved},
          {"set:B", notSaved},
          {"history:0", "B"},
          {"broker:X", "X"},
          {"set:", "X"},
          {"broker:", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageLine line;
        for (const Step& s : c.steps) {
            play(line, s.event);
            EXPECT_EQ(line.text(), s.shown) << s.event;
        }
    }
}

} // namespace
} // namespace mirv
