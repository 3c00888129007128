#include "mail_text.h"

#include <QByteArray>

namespace mirv {

namespace {

std::string base64(const std::string& text) {
    return QByteArray::fromStdString(text).toBase64().toStdString();
}

} // namespace

std::string eventLine(const EventRow& e) {
    std::string line = e.localTime + "  ";
    line += e.meter == 0 ? std::string("站点") : "仪表" + std::to_string(e.meter);
    line += "  " + e.text;
    if (!e.detail.empty())
        line += "(" + e.detail + ")";
    if (!e.user.empty())
        line += "  " + e.user;
    return line;
}

std::string mailText(const std::string& from, const std::vector<std::string>& to,
                     const std::vector<EventRow>& events, const std::string& dateRfc2822) {
    std::string toList;
    for (const auto& a : to)
        toList += (toList.empty() ? "" : ", ") + a;
    const std::string subject = "监测站事件 " + std::to_string(events.size()) + " 条";
    std::string body;
    for (const auto& e : events)
        body += eventLine(e) + "\r\n";
    std::string encoded = base64(body);
    std::string wrapped;
    for (std::size_t i = 0; i < encoded.size(); i += 76)
        wrapped += encoded.substr(i, 76) + "\r\n";
    return "Date: " + dateRfc2822 + "\r\nFrom: " + from + "\r\nTo: " + toList +
           "\r\nSubject: =?UTF-8?B?" + base64(subject) +
           "?=\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           wrapped;
}

} // namespace mirv
