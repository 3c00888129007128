// The Meters table on 系统设置: shown from the database, stored with Save.
#include "main_window.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTableWidget>
#include <algorithm>
#include <map>

namespace mirv {

namespace {

enum Column { AddressColumn, ProfileColumn, NameColumn, PolledColumn };

// The profiles the program folder offers, by name.
QStringList profileNames(const QString& programDir) {
    QStringList names;
    for (const QString& file : QDir(programDir + QStringLiteral("/profiles"))
                                   .entryList({QStringLiteral("*.json")}, QDir::Files))
        names << file.chopped(5);
    if (!names.contains(QStringLiteral("default")))
        names.prepend(QStringLiteral("default"));
    return names;
}

} // namespace

void MainWindow::showMeterEntries() {
    const QStringList profiles = profileNames(programDir_);
    const auto stored = readMeterEntries(databasePath().toStdString());
    // A table that cannot be read now is not shown empty, or Save would store it so.
    meterTable->setEnabled(stored.has_value());
    metersShown_ = stored.has_value();
    const std::vector<PlannedMeter> entries = stored.value_or(std::vector<PlannedMeter>{});
    std::map<int, std::string> byAddress;
    for (const PlannedMeter& m : entries)
        byAddress.emplace(m.address, m.name);
    const MeterNames names(byAddress);
    for (int r = 0; r < kMeters; ++r) {
        const int row = r + 1;
        const auto entry = std::find_if(entries.begin(), entries.end(),
                                        [row](const PlannedMeter& m) { return m.row == row; });
        const bool there = entry != entries.end();
        meterTable->setVerticalHeaderItem(r, new QTableWidgetItem(QString::number(row)));
        meterTable->setItem(
            r, AddressColumn,
            new QTableWidgetItem(there ? QString::number(entry->address) : QString()));
        auto* profile = new QComboBox;
        profile->addItems(profiles);
        profile->setCurrentText(there ? QString::fromStdString(entry->profile)
                                      : QStringLiteral("default"));
        meterTable->setCellWidget(r, ProfileColumn, profile);
        meterTable->setItem(
            r, NameColumn,
            new QTableWidgetItem(there ? QString::fromStdString(entry->name) : QString()));
        auto* polled = new QTableWidgetItem;
        polled->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        polled->setCheckState(!there || entry->polled ? Qt::Checked : Qt::Unchecked);
        meterTable->setItem(r, PolledColumn, polled);
        showBoardName(r, there ? std::optional<int>(entry->address) : std::nullopt, names);
    }
}

void MainWindow::showBoardName(int r, std::optional<int> address, const MeterNames& names) {
    QLabel* nameLabel = meterNames[static_cast<std::size_t>(r)];
    const QString name =
        address ? QString::fromStdString(names.nameOf(std::to_string(*address))) : QString();
    nameLabel->setText(
        nameLabel->fontMetrics().elidedText(name, Qt::ElideRight, nameLabel->width()));
    nameLabel->setToolTip(address ? QString::fromStdString(names.label(*address)) : QString());
    meterNumbers[static_cast<std::size_t>(r)]->setToolTip(nameLabel->toolTip());
}

// A row with an address, another kind than the default, a name or not polled is an entry; an
// address must be a whole number from 1 to 247, and no two rows may share one.
std::optional<std::vector<PlannedMeter>> MainWindow::meterEntries(QString& refusal) const {
    std::vector<PlannedMeter> entries;
    for (int r = 0; r < kMeters; ++r) {
        const int row = r + 1;
        const QString address = meterTable->item(r, AddressColumn)
                                    ? meterTable->item(r, AddressColumn)->text().trimmed()
                                    : QString();
        const auto* profileBox = qobject_cast<QComboBox*>(meterTable->cellWidget(r, ProfileColumn));
        const QString profile = profileBox ? profileBox->currentText() : QStringLiteral("default");
        const QString name = meterTable->item(r, NameColumn)
                                 ? meterTable->item(r, NameColumn)->text().trimmed()
                                 : QString();
        const bool polled = !meterTable->item(r, PolledColumn) ||
                            meterTable->item(r, PolledColumn)->checkState() == Qt::Checked;
        if (address.isEmpty() && profile == QStringLiteral("default") && name.isEmpty() && polled)
            continue;
        bool whole = false;
        const int value = address.isEmpty() ? row : address.toInt(&whole);
        if ((!address.isEmpty() && !whole) || value < 1 || value > 247) {
            refusal = QStringLiteral("第%1行仪表地址必须是1到247之间的整数").arg(row);
            return std::nullopt;
        }
        for (const PlannedMeter& m : entries)
            if (m.address == value) {
                refusal = QStringLiteral("第%1行与第%2行仪表地址相同").arg(row).arg(m.row);
                return std::nullopt;
            }
        entries.push_back({row, value, profile.toStdString(), name.toStdString(), polled});
    }
    return entries;
}

} // namespace mirv
