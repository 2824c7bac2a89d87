// TFormPellix's File Zip, Unzip and Open commands over bare zip-tree roots: a Zip opened here is
// one root row that the commands act on, until the zip tree with its entries takes over.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>

#include "workspace/app_settings.h"
#include "workspace/session.h"
#include "workspace/ui/form_pellix.h"
#include "workspace/ui/zip_commands.h"

namespace pellix {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

} // namespace

} // namespace pellix

namespace pellix {

void TFormPellix::OpenZipInTree(const QString& path)
{
    const TZipOpenResult opened = m_zipArchive->Open(S(path));
    if (opened.zip == nullptr) {
        ShowMessage(TRunnerMessageKind::Error, Q(opened.view.message.empty() ? "Cannot open " + S(path) + "."
                                                                             : opened.view.message));
        return;
    }
    auto* model = qobject_cast<QStandardItemModel*>(m_zipTree->model());
    if (model == nullptr) {
        model = new QStandardItemModel(m_zipTree);
        m_zipTree->setModel(model);
    }
    QModelIndex root;
    for (int row = 0; row < model->rowCount() && !root.isValid(); ++row)
        if (model->item(row)->data().toString() == path)
            root = model->index(row, 0);
    if (!root.isValid()) {
        auto* item = new QStandardItem(QFileInfo(path).fileName());
        item->setData(path);
        item->setEditable(false);
        model->appendRow(item);
        root = item->index();
    }
    SwitchView(TView::ZipProperties);
    m_leftPane->setCurrentIndex(0);
    m_zipTree->setCurrentIndex(root);
    m_zipTree->setFocus();
    ApplyEnabling();
}

void TFormPellix::OpenZipCommand()
{
    const QString folder = Q(m_session.App().ZipFolder());
    const QString path = QFileDialog::getOpenFileName(this, "Open Zip File", folder.isEmpty() ? QDir::currentPath() : folder,
                                                      "Zip file (*.ZIP *.zip);;All files (*)", nullptr,
                                                      QFileDialog::DontUseNativeDialog);
    if (!path.isEmpty())
        OpenZipFile(path);
}

namespace {

// Boxes go to the window's message sink when one is set (tests), answered with OK.
TMessageHandler SinkHandler(const TFormPellix::TMessageSink& sink)
{
    if (!sink)
        return {};
    return [sink](QWidget*, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons) {
        sink(icon == QMessageBox::Critical ? TRunnerMessageKind::Error : TRunnerMessageKind::Information, text);
        return QMessageBox::Ok;
    };
}

} // namespace

void TFormPellix::FileZipCommand(bool presetSelected)
{
    TZipWizardPreset preset;
    if (presetSelected) {
        const QModelIndex index = m_zipTree->currentIndex();
        if (!index.isValid())
            return;
        preset.zipPath = S(index.data(Qt::UserRole + 1).toString());
        preset.openExisting = true;
    }
    const TZipWizardJobResult result =
        TZipCommands::FileZip(this, m_session.App(), *m_zipArchive, preset, SinkHandler(m_messageSink));
    if (result.zip != nullptr && QFileInfo::exists(Q(result.zip->path)))
        OpenZipFile(Q(result.zip->path));
}

void TFormPellix::UnzipCommand()
{
    const QModelIndex index = m_zipTree->currentIndex();
    TZipObj* zip = index.isValid() ? m_zipArchive->Find(S(index.data(Qt::UserRole + 1).toString())) : nullptr;
    if (zip == nullptr)
        return;
    TZipCommands::Unzip(this, m_session.App(), *m_zipArchive, *zip, true, {},
                        SinkHandler(m_messageSink));
}

} // namespace pellix
