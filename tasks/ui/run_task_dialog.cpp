#include "tasks/ui/run_task_dialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace pellix {

namespace {

constexpr TRunMode kModes[] = {kRunRestart, kRunResume, kRunSmartUpdate, kRunSmartRecovery};

QString Q(const std::string& text) { return QString::fromStdString(text); }

} // namespace

TdlgRunTask::TdlgRunTask(const TPXTask& task, QWidget* parent) : QDialog(parent), m_choice(task)
{
    setObjectName("dlgRunTask");
    setWindowTitle(Q(m_choice.Caption()));

    Label1 = new QLabel(Q(m_choice.Heading()), this);
    Label1->setObjectName("Label1");
    Label1->setWordWrap(true);

    // Read-only, with the headings above the three count columns and the row captions first.
    lvSummary = new QTableWidget(4, 4, this);
    lvSummary->setObjectName("lvSummary");
    lvSummary->setAccessibleName("Summary");
    lvSummary->setHorizontalHeaderLabels({"", "Pages", "Media", "Total"});
    lvSummary->verticalHeader()->hide();
    lvSummary->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvSummary->setSelectionMode(QAbstractItemView::NoSelection);
    lvSummary->setFocusPolicy(Qt::NoFocus);
    lvSummary->setShowGrid(true);
    lvSummary->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < 4; ++column)
        lvSummary->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    for (int row = 0; row < 4; ++row) {
        const TRunSummaryRow& summary = m_choice.Summary()[row];
        lvSummary->setItem(row, 0, new QTableWidgetItem(Q(summary.caption)));
        for (int cell = 0; cell < 3; ++cell) {
            auto* item = new QTableWidgetItem(Q(summary.cells[cell]));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            lvSummary->setItem(row, cell + 1, item);
        }
    }
    lvSummary->resizeRowsToContents();
    int height = lvSummary->horizontalHeader()->sizeHint().height() + 2 * lvSummary->frameWidth();
    for (int row = 0; row < 4; ++row)
        height += lvSummary->rowHeight(row);
    lvSummary->setFixedHeight(height);
    lvSummary->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvSummary->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* group = new QGroupBox(this);
    auto* radios = new QVBoxLayout(group);
    const auto radio = [&](TRunMode mode, const char* name) {
        auto* button = new QRadioButton(Q(TRunTaskChoice::ModeCaption(mode)), group);
        button->setObjectName(name);
        button->setAccessibleName(button->text());
        button->setEnabled(m_choice.ModeEnabled(mode));
        connect(button, &QRadioButton::clicked, this, &TdlgRunTask::actShowDescriptionExecute);
        radios->addWidget(button);
        return button;
    };
    rbRestart = radio(kRunRestart, "rbRestart");
    rbResume = radio(kRunResume, "rbResume");
    rbSmartUpdate = radio(kRunSmartUpdate, "rbSmartUpdate");
    rbSmartRecovery = radio(kRunSmartRecovery, "rbSmartRecovery");

    lblDesc = new QLabel(this);
    lblDesc->setObjectName("lblDesc");
    lblDesc->setWordWrap(true);
    lblDesc->setMinimumHeight(lblDesc->fontMetrics().lineSpacing() * 2);
    lblDesc->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* choice = new QHBoxLayout;
    choice->addWidget(group);
    choice->addWidget(lblDesc, 1);

    auto* buttons = new QDialogButtonBox(this);
    btnRun = buttons->addButton("&Run", QDialogButtonBox::AcceptRole);
    btnRun->setObjectName("btnRun");
    btnRun->setAccessibleName("Run");
    btnRun->setDefault(true);
    btnCancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setAccessibleName("Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(lvSummary);
    layout->addLayout(choice);
    layout->addWidget(buttons);
    setMinimumWidth(420);

    Button(TRunTaskChoice::kInitialMode)->setChecked(true);
    // The arrow keys move the choice from the checked mode, not from the first button.
    Button(TRunTaskChoice::kInitialMode)->setFocus();
    actShowDescriptionExecute();
}

TdlgRunTask::~TdlgRunTask() = default;

QRadioButton* TdlgRunTask::Button(TRunMode mode) const
{
    switch (mode) {
    case kRunRestart: return rbRestart;
    case kRunSmartUpdate: return rbSmartUpdate;
    case kRunSmartRecovery: return rbSmartRecovery;
    default: return rbResume;
    }
}

TRunMode TdlgRunTask::SelectedMode() const
{
    for (const TRunMode mode : kModes)
        if (Button(mode)->isChecked())
            return mode;
    return TRunTaskChoice::kInitialMode;
}

void TdlgRunTask::actShowDescriptionExecute()
{
    lblDesc->setText(Q(TRunTaskChoice::ModeDescription(SelectedMode())));
}

} // namespace pellix
