#pragma once

class QString;

// Puts the program into the user's language: our own texts and Qt's (standard buttons, file
// dialogs), chosen by the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG). English is the source
// language and needs no file. Both varnisk and varnisk-cli call it once, right after creating
// their application object and before any text is shown.
class Translations
{
public:
    static void install();

    // The folder that holds our .qm files: installed beside the executables' folder (in the
    // build tree too), so it follows wherever the installation was put.
    static QString directory();
};
