// TFormExtract: the "Unzip" dialog: destination folder, which files and the two options;
// TUnzipDialog runs it.
#pragma once

#include <QDialog>
#include <QWidget>

#include <optional>

#include "workspace/unzip_choice.h"

class QCheckBox;
class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeView;

namespace pellix {

class TPXApp;

class TFormExtract final : public QDialog {
    Q_OBJECT
public:
    TFormExtract(TPXApp& app, bool allFiles, QWidget* parent = nullptr);
    ~TFormExtract() override;

    // Set when the dialog was confirmed with "&Unzip".
    const std::optional<TUnzipChoice>& Choice() const { return m_choice; }

    QTreeView* tvFolders = nullptr;
    QLineEdit* edUnzipTo = nullptr;
    QRadioButton* rbAllFiles = nullptr;
    QRadioButton* rbSelectedFiles = nullptr;
    QCheckBox* cbUsePaths = nullptr;
    QCheckBox* cbOverwrite = nullptr;
    QPushButton* btnUnzip = nullptr;
    QPushButton* btnCancel = nullptr;

private slots:
    void btnUnzipClick();
    void tvFoldersClicked();
    void edUnzipToChanged();

private:
    void MoveTreeTo(const QString& folder);

    TPXApp& m_app;
    QFileSystemModel* m_folders = nullptr;
    std::optional<TUnzipChoice> m_choice;
};

class TUnzipDialog final {
public:
    // Modal; allFiles presets "All Files" (a root is selected) or "Selected Files". Nothing when
    // the user cancelled. Reads and writes the dialog's settings in app.
    static std::optional<TUnzipChoice> Run(QWidget* parent, TPXApp& app, bool allFiles);
};

} // namespace pellix
