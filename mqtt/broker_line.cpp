#include "broker_line.h"

namespace mirv {

std::string brokerLineText(BrokerTrouble trouble, const std::string& where) {
    const std::string broker = "MQTT服务器 " + where + " ";
    switch (trouble) {
    case BrokerTrouble::None:
        break;
    case BrokerTrouble::Unreachable:
        return broker + "无法连接,正在重试";
    case BrokerTrouble::LoginRefused:
        return broker + "拒绝登录(用户名或密码),正在重试";
    case BrokerTrouble::CertificateRefused:
        return broker + "证书验证失败,正在重试";
    case BrokerTrouble::Refused:
        return broker + "拒绝连接,正在重试";
    }
    return {};
}

} // namespace mirv
