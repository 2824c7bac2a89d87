// TZipPageModel: the "Pages" tab: the entries of the selected Zip file whose file type group is
// "HTML", captioned like the zip tree's file nodes.
#pragma once

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace pellix {

class TZipPageModel final : public QAbstractListModel {
    Q_OBJECT
public:
    struct TPage {
        std::string entry;
        std::string caption;
    };

    using QAbstractListModel::QAbstractListModel;

    void SetPages(std::vector<TPage> pages);
    const std::vector<TPage>& Pages() const { return m_pages; }
    std::string EntryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<TPage> m_pages;
};

} // namespace pellix
