// TdlgAbout: the About dialog: the program's name and version, what it does, and the libraries
// it is built on.
#pragma once

#include <QDialog>

class QLabel;
class QTabWidget;

namespace pellix {

class TPXApp;

class TdlgAbout final : public QDialog {
    Q_OBJECT
public:
    explicit TdlgAbout(TPXApp& app, QWidget* parent = nullptr);

    QTabWidget* tabs = nullptr;
    QLabel* lblVersion = nullptr;
};

} // namespace pellix
