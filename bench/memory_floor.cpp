// The floor of the stack under the program: a Qt Widgets program with one
// window of the main window's size, in the program's style, showing one line
// of Japanese text (so the same fonts are opened), and nothing else.
// memory_compare.sh measures it beside the program and Sylpheed.
#include <QApplication>
#include <QLabel>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QLabel window(QStringLiteral("新着メール無し。"));
    window.setWindowTitle(QStringLiteral("memory_floor"));
    // The main window's client area: 6570 x 5745 twips at 15 twips a pixel.
    window.resize(438, 383);
    window.show();
    return QApplication::exec();
}
