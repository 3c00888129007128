#include "frame_monitor_model.h"

#include <QDateTime>

namespace mirv {

namespace {

const char* const kHeaders[] = {"时间", "仪表", "收发", "判定", "长度", "报文"};

QString verdictText(FrameVerdict v) {
    switch (v) {
    case FrameVerdict::Request:
        return QStringLiteral("请求");
    case FrameVerdict::Answer:
        return QStringLiteral("应答");
    case FrameVerdict::CrcWrong:
        return QStringLiteral("CRC错误");
    case FrameVerdict::LengthWrong:
        return QStringLiteral("长度错误");
    case FrameVerdict::Foreign:
        return QStringLiteral("非本表");
    case FrameVerdict::Late:
        return QStringLiteral("迟到");
    case FrameVerdict::Exception:
        return QStringLiteral("异常应答");
    }
    return {};
}

QString hexText(const MonitorFrame& f) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const auto bytes = f.kept();
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size() * 3 + 2));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            text += QLatin1Char(' ');
        text += QLatin1Char(kDigits[bytes[i] >> 4]);
        text += QLatin1Char(kDigits[bytes[i] & 0x0F]);
    }
    if (f.length > bytes.size())
        text += QStringLiteral(" …");
    return text;
}

} // namespace

void FrameMonitorModel::take(const FrameRing& ring) {
    frames_.resize(ring.size());
    for (std::size_t i = 0; i < ring.size(); ++i)
        frames_[i] = ring.at(i);
    select();
}

void FrameMonitorModel::setMeter(int meter) {
    meter_ = meter;
    select();
}

void FrameMonitorModel::select() {
    beginResetModel();
    shown_.clear();
    for (std::size_t i = 0; i < frames_.size(); ++i)
        if (meter_ == 0 || frames_[i].meter == meter_)
            shown_.push_back(static_cast<std::uint32_t>(i));
    endResetModel();
}

int FrameMonitorModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int FrameMonitorModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString FrameMonitorModel::cellText(int row, int column) const {
    const MonitorFrame& f = frames_.at(shown_.at(static_cast<std::size_t>(row)));
    switch (column) {
    case TimeColumn:
        return QDateTime::fromMSecsSinceEpoch(f.wallUs / 1000)
            .toString(QStringLiteral("HH:mm:ss.zzz"));
    case MeterColumn:
        return f.meter ? QString::number(f.meter) : QStringLiteral("-");
    case DirectionColumn:
        return f.out ? QStringLiteral("发") : QStringLiteral("收");
    case VerdictColumn:
        return verdictText(f.verdict);
    case LengthColumn:
        return QString::number(f.length);
    case BytesColumn:
        return hexText(f);
    }
    return {};
}

QStringList FrameMonitorModel::rowTexts(int row) const {
    QStringList texts;
    for (int c = 0; c < ColumnCount; ++c)
        texts << cellText(row, c);
    return texts;
}

QVariant FrameMonitorModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cellText(index.row(), index.column());
}

QVariant FrameMonitorModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kHeaders[section]);
}

QString FrameMonitorModel::text() const {
    QStringList headers;
    for (const char* h : kHeaders)
        headers << QString::fromUtf8(h);
    QString out = headers.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (int r = 0; r < rowCount(); ++r)
        out += rowTexts(r).join(QLatin1Char('\t')) + QLatin1Char('\n');
    return out;
}

} // namespace mirv
