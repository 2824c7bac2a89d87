// TZipPageModel: the "Pages" tab.
#include "workspace/ui/zip_page_model.h"

namespace pellix {

void TZipPageModel::SetPages(std::vector<TPage> pages) {
    beginResetModel();
    m_pages = std::move(pages);
    endResetModel();
}

std::string TZipPageModel::EntryAt(int row) const {
    return row >= 0 && row < static_cast<int>(m_pages.size()) ? m_pages[static_cast<std::size_t>(row)].entry
                                                               : std::string();
}

int TZipPageModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_pages.size());
}

QVariant TZipPageModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(m_pages.size()))
        return {};
    const TPage& page = m_pages[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromStdString(page.caption);
    if (role == Qt::ToolTipRole || role == Qt::UserRole)
        return QString::fromStdString(page.entry);
    return {};
}

} // namespace pellix
