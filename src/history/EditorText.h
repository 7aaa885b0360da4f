#pragma once

#include "common/Result.h"

#include <QString>

namespace kestra {

// 1-based position of the first occurrence of `what` in `text` at or after
// character `start` (1-based), comparing characters exactly; 0 when there is
// none, when `text` is empty or when `start` lies past its end. An empty `what`
// is found at `start`.
int findFrom(int start, const QString &text, const QString &what);

// The text up to and including its last folder separator ("\" or "/"); the
// whole text when it holds none.
QString FolderPart(const QString &path);

// A text file as the editor opens it: code page 932, read line by line (CR LF,
// CR or LF end a line) and joined again with each line followed by CR LF.
// Bytes that are not code page 932 become replacement characters.
Result<QString> readEditorTextFile(const QString &path);

// A code page 932 text file as it stands (the editor's current file on loading).
Result<QString> readCp932File(const QString &path);

// The editor's text as a file holds it: line ends as CR LF, code page 932.
QByteArray editorTextBytes(const QString &text);

} // namespace kestra
