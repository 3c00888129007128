#include "meter_field.h"

#include <QCompleter>
#include <QLineEdit>
#include <QStringListModel>

namespace mirv {

void offerMeterLabels(QLineEdit* field, const MeterNames& names) {
    QStringList labels;
    for (const std::string& label : names.labels())
        labels << QString::fromStdString(label);
    auto* completer = field->completer();
    if (!completer) {
        completer = new QCompleter(new QStringListModel(field), field);
        completer->setFilterMode(Qt::MatchContains);
        completer->setCaseSensitivity(Qt::CaseInsensitive);
        field->setCompleter(completer);
    }
    if (auto* model = qobject_cast<QStringListModel*>(completer->model()))
        model->setStringList(labels);
}

} // namespace mirv
