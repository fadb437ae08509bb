#include "ImageFormat.h"

#include <QCoreApplication>

#include <array>

namespace {

struct Signature
{
    ImageFormat format;
    QByteArray bytes;
};

const std::array<Signature, 3>& signatures()
{
    static const std::array<Signature, 3> table = {{
        {{".gif", QT_TRANSLATE_NOOP("Varnisk", "GIF-File (*.gif)")}, QByteArray("\x47\x49\x46", 3)},
        {{".jpg", QT_TRANSLATE_NOOP("Varnisk", "JPG-File (*.jpg)")}, QByteArray("\xFF\xD8\xFF", 3)},
        {{".png", QT_TRANSLATE_NOOP("Varnisk", "PNG-File (*.png)")},
         QByteArray("\x89\x50\x4E\x47", 4)},
    }};
    return table;
}

} // namespace

const ImageFormat* ImageFormat::detect(const QByteArray& data)
{
    for (const Signature& signature : signatures()) {
        if (data.startsWith(signature.bytes))
            return &signature.format;
    }
    return nullptr;
}
