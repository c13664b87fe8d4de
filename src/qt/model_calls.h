/* The toolkit's own C++ file system model calls, in a small library of their
 * own (built from model_calls.cpp) that links Qt. The module loads it beside
 * its own file, only once the toolkit has loaded Qt, and reaches it through
 * this table alone: the module itself never needs Qt to load, and this header
 * holds no Qt or Python type.
 *
 * Every function here is called with the interpreter lock held, as the
 * toolkit calls them. None throws: a failure (memory) is a negative result.
 */
#ifndef EXPLORERVIEW_QT_MODEL_CALLS_H
#define EXPLORERVIEW_QT_MODEL_CALLS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Grows only by appending members; `size` says how much of it a library has. */
typedef struct ExplorerviewModelCalls {
    size_t size;                    /* sizeof(ExplorerviewModelCalls) where it was built */
    long compiledQtVersion;         /* QT_VERSION it was compiled against */
    const char* (*runtimeQtVersion)(void);  /* qVersion() of the Qt it runs on */
    const void* fileSystemModelMetaObject;  /* &QFileSystemModel::staticMetaObject it sees */

    /* Where a name lives while it is compared: bytes the caller provides. */
    size_t nameSize, nameAlignment;

    /* QFileSystemModel::isDir(index): 1 or 0, or -1 when it failed. */
    int (*isDir)(const void* model, const void* index);
    /* QFileSystemModel::fileName(index) into `name` (nameSize bytes): its
     * UTF-16 units and their count are set; 0, or -1 when it failed (nothing
     * to release then). */
    int (*fileName)(const void* model, const void* index, void* name, const unsigned short** units,
                    size_t* length);
    /* Ends the life of a name that fileName made. */
    void (*releaseName)(void* name);

    /* For tests: how many model calls took each path. The module counts. */
    unsigned long long* callsInC;       /* the toolkit's C++ called directly */
    unsigned long long* callsInPython;  /* the method Python found called as usual */
} ExplorerviewModelCalls;

/* The one exported function of the library. */
const ExplorerviewModelCalls* explorerview_model_calls(void);

#ifdef __cplusplus
}
#endif

#endif
