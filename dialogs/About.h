#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class About;
}

// The program's information window: splash image, name and version, web page and licence.
// Run with exec() and closed with Escape or the title bar; it has no buttons.
class About : public QDialog
{
    Q_OBJECT

public:
    explicit About(QWidget* parent);
    ~About() override;

private:
    std::unique_ptr<Ui::About> ui;
};
