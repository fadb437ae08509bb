#pragma once

#include <QByteArray>

// Recognises the image inside a decrypted .simg file from its first bytes, so that the editor
// and varnisk-cli name the decrypted file alike.
class ImageFormat
{
public:
    const char* extension; // ".gif", ".jpg", ".png"
    const char* filter;    // untranslated file-dialog filter

    // The first format whose signature the data start with, or null.
    static const ImageFormat* detect(const QByteArray& data);
};
