// Small helpers shared by the windows that edit a profile's controls (the task editor and the
// profile editor): names for tests and the accessibility tree, list contents, check states.
#pragma once

#include <QListWidget>
#include <QString>

#include <string>
#include <vector>

#include "links/file_type_tree.h"

namespace pellix::form {

inline QString Q(const std::string& text) { return QString::fromStdString(text); }

template <typename TWidget>
TWidget* Named(TWidget* widget, const char* object, const QString& accessible)
{
    widget->setObjectName(object);
    widget->setAccessibleName(accessible);
    return widget;
}

inline std::vector<std::string> ListItems(const QListWidget* list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list->count(); ++i)
        items.push_back(list->item(i)->text().toStdString());
    return items;
}

inline void SetListItems(QListWidget* list, const std::vector<std::string>& items)
{
    list->clear();
    for (const std::string& item : items)
        list->addItem(Q(item));
}

inline Qt::CheckState CheckStateOf(int state)
{
    switch (state) {
    case kCheckChecked: return Qt::Checked;
    case kCheckPartial: return Qt::PartiallyChecked;
    default: return Qt::Unchecked;
    }
}

} // namespace pellix::form
