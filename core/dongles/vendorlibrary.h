#pragma once

#include "panelcore_global.h"

#include <QLibrary>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <vector>

namespace Dongles {

// A vendor's adapter library, loaded at run time because it may well not be
// installed: without it there are simply no adapters of that kind.
//
// A library may come in more than one file (a bridge library next to the
// vendor's generic driver library): each file is a part, tried in order for
// every symbol. A part's file comes from its environment variable when that
// is set, else from the names the vendor ships; a part is loaded only when
// an earlier one lacks a symbol.
class PANELCORE_EXPORT VendorLibrary
{
public:
    struct Part
    {
        const char *envVar;
        QStringList fileNames;
    };

    VendorLibrary(const char *what, QList<Part> parts);
    ~VendorLibrary();

    VendorLibrary(const VendorLibrary &) = delete;
    VendorLibrary &operator=(const VendorLibrary &) = delete;

    // Resolves fn from the first part that exports name; a symbol found
    // nowhere makes the whole library unusable.
    template<typename Fn>
    void bind(Fn &fn, const char *name)
    {
        fn = reinterpret_cast<Fn>(resolve(name));
    }

    // Resolves fn when some part exports name; a library without it stays
    // usable, and fn stays null.
    template<typename Fn>
    void bindOptional(Fn &fn, const char *name)
    {
        fn = reinterpret_cast<Fn>(resolve(name, false));
    }

    // True when every bound symbol was found. Logs once, at debug level, why
    // the library cannot be used.
    bool finish();

    // The files that were loaded, for messages.
    QStringList loadedFiles() const;

    // The calls of one library, bound on first use and kept for the life of
    // the process; null when the library cannot be used. One per Api type.
    template<typename Api>
    static const Api *loadOnce(const char *what, QList<Part> (*parts)(),
                               void (*bindAll)(VendorLibrary &library, Api &calls))
    {
        static const Api *const loaded = [&]() -> const Api * {
            static VendorLibrary library(what, parts());
            static Api calls;
            bindAll(library, calls);
            return library.finish() ? &calls : nullptr;
        }();
        return loaded;
    }

private:
    QFunctionPointer resolve(const char *name, bool required = true);
    bool loadPart(int index);

    struct LoadedPart
    {
        Part part;
        std::unique_ptr<QLibrary> library;
        bool tried = false;
    };

    QString m_what;
    std::vector<LoadedPart> m_parts;
    QStringList m_missing;
    QStringList m_loadErrors;
};

} // namespace Dongles
