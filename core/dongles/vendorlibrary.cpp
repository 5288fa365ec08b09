#include "vendorlibrary.h"

#include <QDebug>

namespace Dongles {

VendorLibrary::VendorLibrary(const char *what, QList<Part> parts)
    : m_what(QString::fromLatin1(what))
{
    m_parts.reserve(size_t(parts.size()));
    for (Part &part : parts)
        m_parts.push_back({ std::move(part), nullptr, false });
}

// The library stays loaded: adapters found through it may be in use until
// the process ends.
VendorLibrary::~VendorLibrary() = default;

bool VendorLibrary::loadPart(int index)
{
    LoadedPart &loaded = m_parts[size_t(index)];
    if (loaded.tried)
        return loaded.library != nullptr;
    loaded.tried = true;

    // A file named by the environment replaces the vendor's names: it is
    // how a particular installation, or a test's stand-in, is chosen.
    const QString chosen = qEnvironmentVariable(loaded.part.envVar);
    const QStringList candidates = chosen.isEmpty() ? loaded.part.fileNames : QStringList{ chosen };
    for (const QString &fileName : candidates) {
        auto library = std::make_unique<QLibrary>(fileName);
        if (library->load()) {
            loaded.library = std::move(library);
            return true;
        }
        m_loadErrors << library->errorString();
    }
    return false;
}

QFunctionPointer VendorLibrary::resolve(const char *name, bool required)
{
    for (int i = 0; i < int(m_parts.size()); ++i) {
        if (!loadPart(i))
            continue;
        if (const QFunctionPointer fn = m_parts[size_t(i)].library->resolve(name))
            return fn;
    }
    if (required)
        m_missing << QString::fromLatin1(name);
    return nullptr;
}

bool VendorLibrary::finish()
{
    if (m_missing.isEmpty())
        return true;
    if (loadedFiles().isEmpty())
        qDebug().noquote() << QStringLiteral("%1 library not available, no %1 adapters (%2)")
                                  .arg(m_what, m_loadErrors.join(QStringLiteral("; ")));
    else
        qDebug().noquote() << QStringLiteral("%1 library %2 lacks %3, no %1 adapters")
                                  .arg(m_what, loadedFiles().join(QStringLiteral(", ")),
                                       m_missing.join(QStringLiteral(", ")));
    return false;
}

QStringList VendorLibrary::loadedFiles() const
{
    QStringList files;
    for (const LoadedPart &loaded : m_parts) {
        if (loaded.library)
            files << loaded.library->fileName();
    }
    return files;
}

} // namespace Dongles
