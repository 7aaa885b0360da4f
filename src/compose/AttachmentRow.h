#pragma once

#include <QString>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace kestra {

// The attachment row shared by the compose and reply windows: a button for the
// first file, one for further files, one that drops them all, the box with the
// full paths joined by "," (no blank, in the order picked) and the list that
// shows one path per line.
struct AttachmentRow {
    QPushButton *first;
    QPushButton *more;
    QPushButton *dropAll;
    QLineEdit *paths;
    QListWidget *list;

    // Enables "more", asks for a file (added after any paths already there), and
    // disables itself whatever the dialog returned.
    void pickFirst() const;
    // Shows the list; asks for a further file only while a path exists.
    void pickMore() const;
    // Empties the paths and the list, hides the list, disables "more" and
    // "drop", enables "first".
    void drop() const;
    // After drop(): the files of `joined` (paths joined by ",") attached again,
    // the buttons as after picking them.
    void restore(const QString &joined) const;
};

} // namespace kestra
