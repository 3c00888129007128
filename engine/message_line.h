#pragma once

#include <string>
#include <vector>

namespace mirv {

// The text of the station's message line. Start-up and the settings write their texts on it;
// the history's state, the gateway's and the MQTT broker's lay their own over it while they
// last, the latest on top, and what was under one comes back when it ends, in any order.
class MessageLine {
  public:
    enum class History { Written, Waiting, DatabaseMissing, NotSaved };

    const std::string& text() const { return laid_.empty() ? base_ : laid_.back().text; }
    // The line's own text; shown at once unless a state laid over it still lasts, which would
    // not say itself again (a Save during a database outage must not hide the outage).
    void set(std::string text);
    void historyState(History state);
    void gatewayConnected(bool connected);
    // The broker's trouble while it lasts; empty once connected again.
    void brokerState(const std::string& text);

  private:
    enum class Source { History, Gateway, Broker };
    struct Laid {
        Source source;
        std::string text;
    };
    // Puts `text` on top for `source`, unless it already shows that text; empty lifts it.
    void lay(Source source, const std::string& text);

    std::string base_;
    std::vector<Laid> laid_; // oldest first
};

} // namespace mirv
