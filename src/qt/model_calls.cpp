// The toolkit's own QFileSystemModel calls, compiled against Qt: isDir is
// Qt's exported function, fileName what the inline that the toolkit's
// wrapper compiles does (it asks the index's model's virtual data(), so a
// subclass that overrides data() is asked here as it is there).
//
// This library carries no search path for Qt: it must bind to the very Qt
// libraries that the toolkit loaded before it, never to a Qt of its own.
#include "qt/model_calls.h"

#include <new>

#include <QtCore/QtGlobal>
#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtGui/QFileSystemModel>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
// A thread that the interpreter ends while the model runs Python code (a
// data() override) leaves by a forced unwind, which must pass.
#define EXPLORERVIEW_LET_FORCED_UNWIND_PASS \
    catch (abi::__forced_unwind&) {         \
        throw;                              \
    }
#else
#define EXPLORERVIEW_LET_FORCED_UNWIND_PASS
#endif

#if defined(_WIN32)
#define EXPLORERVIEW_EXPORT __declspec(dllexport)
#else
#define EXPLORERVIEW_EXPORT __attribute__((visibility("default")))
#endif

namespace {

const QFileSystemModel& modelAt(const void* model) { return *static_cast<const QFileSystemModel*>(model); }
const QModelIndex& indexAt(const void* index) { return *static_cast<const QModelIndex*>(index); }

int isDir(const void* model, const void* index) {
    try {
        return modelAt(model).isDir(indexAt(index)) ? 1 : 0;
    }
    EXPLORERVIEW_LET_FORCED_UNWIND_PASS
    catch (...) {  // std::bad_alloc: Qt reports nothing else by exceptions
        return -1;
    }
}

// fileName(index) is index.data(Qt::DisplayRole).toString(). The name is
// read where the variant holds it, the very text that toString() would copy
// out of a string; anything else is converted by toString(), as there.
int fileName(const void*, const void* index, void* name, const unsigned short** units, size_t* length) {
    try {
        QVariant* data = new (name) QVariant(indexAt(index).data(Qt::DisplayRole));
        if (data->metaType() != QMetaType::fromType<QString>()) {
            try {
                *data = QVariant(data->toString());
            } catch (...) {  // the forced unwind too, once the variant is let go
                data->~QVariant();
                throw;
            }
        }
        const QString& text = *static_cast<const QString*>(data->constData());
        *units = reinterpret_cast<const unsigned short*>(text.constData());
        *length = static_cast<size_t>(text.size());
        return 0;
    }
    EXPLORERVIEW_LET_FORCED_UNWIND_PASS
    catch (...) {
        return -1;
    }
}

void releaseName(void* name) { static_cast<QVariant*>(name)->~QVariant(); }

const char* runtimeQtVersion() { return qVersion(); }

unsigned long long callsInC = 0, callsInPython = 0;

const ExplorerviewModelCalls calls = {
    sizeof(ExplorerviewModelCalls),
    QT_VERSION,
    runtimeQtVersion,
    &QFileSystemModel::staticMetaObject,
    sizeof(QVariant),
    alignof(QVariant),
    isDir,
    fileName,
    releaseName,
    &callsInC,
    &callsInPython,
};

}  // namespace

extern "C" EXPLORERVIEW_EXPORT const ExplorerviewModelCalls* explorerview_model_calls(void) { return &calls; }
