#pragma once

#include <string>

namespace mirv {

// The text of the station's message line. Start-up and the settings write their texts on it;
// the history's state and the gateway's lay their own over it while they last, and what was
// there before comes back when they end, also when the two overlap.
class MessageLine {
  public:
    enum class History { Written, Waiting, DatabaseMissing, NotSaved };

    const std::string& text() const { return text_; }
    void set(std::string text) { text_ = std::move(text); }
    void historyState(History state);
    void gatewayConnected(bool connected);

  private:
    static bool isHistoryText(const std::string& text);

    std::string text_;
    std::string beforeBacklog_;
    std::string beforeGateway_;
};

} // namespace mirv
