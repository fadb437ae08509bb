#pragma once

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWidget>

// The main window's form, built in code the way a form generator would lay it out.
class Ui_VarniskClass
{
public:
    QAction* action_New;
    QAction* action_Open;
    QAction* action_Save;
    QAction* action_Save_As;
    QAction* action_Settings;
    QAction* action_Quit;
    QAction* action_Line_Wrap;
    QAction* action_Find;
    QAction* action_Encrypt;
    QAction* action_Decrypt;
    QAction* action_About;
    QAction* action_Type_Selection;
    QAction* action_Close;
    QAction* action_Tab_Width;
    QAction* action_Type_Selection_TAB;
    QAction* action_Type_Selection_ENTER;
    QWidget* centralWidget;
    QVBoxLayout* verticalLayout;
    QPlainTextEdit* seTextEdit;
    QMenuBar* menuBar;
    QMenu* menu_File;
    QMenu* menu_Edit;
    QMenu* menu_Extras;
    QMenu* menu_Help;
    QStatusBar* statusBar;
    QToolBar* toolBar;

    void setupUi(QMainWindow* window)
    {
        if (window->objectName().isEmpty())
            window->setObjectName(QString::fromUtf8("VarniskClass"));
        window->resize(600, 400);
        window->setWindowIcon(QIcon(QString::fromUtf8(":/Varnisk/Resources/logo48.png")));

        action_New = makeAction(window, "action_New", "new32.png");
        action_Open = makeAction(window, "action_Open", "open32.png");
        action_Save = makeAction(window, "action_Save", "save32.png");
        action_Save_As = makeAction(window, "action_Save_As", "saveAs32.png");
        action_Settings = makeAction(window, "action_Settings", "secretsFolder32.png");
        action_Quit = makeAction(window, "action_Quit", nullptr);
        action_Line_Wrap = makeAction(window, "action_Line_Wrap", nullptr);
        action_Line_Wrap->setCheckable(true);
        action_Find = makeAction(window, "action_Find", "find32.png");
        action_Encrypt = makeAction(window, "action_Encrypt", "encrypt32.png");
        action_Decrypt = makeAction(window, "action_Decrypt", "decrypt32.png");
        action_About = makeAction(window, "action_About", "help32.png");
        action_Type_Selection = makeAction(window, "action_Type_Selection", "type32.png");
        action_Close = makeAction(window, "action_Close", nullptr);
        action_Tab_Width = makeAction(window, "action_Tab_Width", nullptr);
        action_Type_Selection_TAB =
            makeAction(window, "action_Type_Selection_TAB", "typeTab32.png");
        action_Type_Selection_ENTER =
            makeAction(window, "action_Type_Selection_ENTER", "typeReturn32.png");

        centralWidget = new QWidget(window);
        centralWidget->setObjectName(QString::fromUtf8("centralWidget"));
        verticalLayout = new QVBoxLayout(centralWidget);
        verticalLayout->setSpacing(0);
        verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));
        verticalLayout->setContentsMargins(1, 1, 1, 1);
        seTextEdit = new QPlainTextEdit(centralWidget);
        seTextEdit->setObjectName(QString::fromUtf8("seTextEdit"));
        verticalLayout->addWidget(seTextEdit);
        window->setCentralWidget(centralWidget);

        menuBar = new QMenuBar(window);
        menuBar->setObjectName(QString::fromUtf8("menuBar"));
        menuBar->setGeometry(QRect(0, 0, 600, 21));
        menu_File = makeMenu("menu_File");
        menu_Edit = makeMenu("menu_Edit");
        menu_Extras = makeMenu("menu_Extras");
        menu_Help = makeMenu("menu_Help");
        window->setMenuBar(menuBar);
        statusBar = new QStatusBar(window);
        statusBar->setObjectName(QString::fromUtf8("statusBar"));
        window->setStatusBar(statusBar);
        toolBar = new QToolBar(window);
        toolBar->setObjectName(QString::fromUtf8("toolBar"));
        window->addToolBar(Qt::TopToolBarArea, toolBar);

        menuBar->addAction(menu_File->menuAction());
        menuBar->addAction(menu_Edit->menuAction());
        menuBar->addAction(menu_Extras->menuAction());
        menuBar->addAction(menu_Help->menuAction());
        menu_File->addAction(action_New);
        menu_File->addAction(action_Open);
        menu_File->addAction(action_Save);
        menu_File->addAction(action_Save_As);
        menu_File->addAction(action_Close);
        menu_File->addSeparator();
        menu_File->addAction(action_Settings);
        menu_File->addSeparator();
        menu_File->addAction(action_Quit);
        menu_Edit->addAction(action_Line_Wrap);
        menu_Edit->addAction(action_Tab_Width);
        menu_Edit->addSeparator();
        menu_Edit->addAction(action_Find);
        menu_Extras->addAction(action_Encrypt);
        menu_Extras->addAction(action_Decrypt);
        menu_Extras->addSeparator();
        menu_Extras->addAction(action_Type_Selection);
        menu_Extras->addAction(action_Type_Selection_TAB);
        menu_Extras->addAction(action_Type_Selection_ENTER);
        menu_Help->addAction(action_About);

        retranslateUi(window);
    }

    void retranslateUi(QMainWindow* window)
    {
        window->setWindowTitle(tr("Varnisk"));
        setTexts(action_New, "&New", "Ctrl+N");
        setTexts(action_Open, "&Open...", "Ctrl+O");
        setTexts(action_Save, "&Save", "Ctrl+S");
        setTexts(action_Save_As, "Save As...", nullptr);
        setTexts(action_Settings, "Secrets &Directory...", nullptr);
        setTexts(action_Quit, "&Quit", "Ctrl+Q");
        setTexts(action_Line_Wrap, "Line &Wrap", nullptr);
        setTexts(action_Find, "&Find...", "Ctrl+F");
        setTexts(action_Encrypt, "&Encrypt File...", nullptr);
        setTexts(action_Decrypt, "&Decrypt File...", nullptr);
        setTexts(action_About, "&About", nullptr);
        setTexts(action_Type_Selection, "&Type Selection...", "F8");
        setTexts(action_Close, "&Close", "Ctrl+W");
        setTexts(action_Tab_Width, "&Tab Width...", nullptr);
        setTexts(action_Type_Selection_TAB, "Type Selection + TAB...", "F9");
        setTexts(action_Type_Selection_ENTER, "Type Selection + ENTER", "F10");
        menu_File->setTitle(tr("&File"));
        menu_Edit->setTitle(tr("&Edit"));
        menu_Extras->setTitle(tr("E&xtras"));
        menu_Help->setTitle(tr("&?"));
        toolBar->setWindowTitle(tr("toolBar"));
    }

private:
    static QString tr(const char* text) { return QApplication::translate("VarniskClass", text); }

    static QAction* makeAction(QMainWindow* window, const char* name, const char* icon)
    {
        auto* action = new QAction(window);
        action->setObjectName(QString::fromUtf8(name));
        if (icon != nullptr) {
            QIcon image;
            image.addFile(QString::fromUtf8(":/Varnisk/Resources/") + QString::fromUtf8(icon),
                          QSize(), QIcon::Normal, QIcon::Off);
            action->setIcon(image);
        }
        return action;
    }

    QMenu* makeMenu(const char* name)
    {
        auto* menu = new QMenu(menuBar);
        menu->setObjectName(QString::fromUtf8(name));
        return menu;
    }

    static void setTexts(QAction* action, const char* caption, const char* shortcut)
    {
        action->setText(tr(caption));
        if (shortcut != nullptr)
            action->setShortcut(QKeySequence(tr(shortcut)));
    }
};

namespace Ui {
class VarniskClass : public Ui_VarniskClass
{
};
} // namespace Ui
