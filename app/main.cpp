// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QIcon>

#include "Captions.h"
#include "NX260AB.h"
#include "Widgets.h"

namespace {

void describeOptions(QCommandLineParser &parser, const QCommandLineOption &portOption)
{
    parser.setApplicationDescription(QStringLiteral("NX260-HGW gateway configuration tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(portOption);
}

// --help and --version answer without a display (e.g. over ssh): they are
// handled before the window system is touched.
void answerInfoOptions(int argc, char *argv[], const QCommandLineOption &portOption)
{
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    describeOptions(parser, portOption);
    // Qt's own window-system options are unknown here; leave those command
    // lines to the full parse below.
    if (!parser.parse(QCoreApplication::arguments()))
        return;
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("NX260-HGW"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NX260_VERSION));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Serial port to show in the Serial Port box."),
                                        QStringLiteral("NAME"));
    answerInfoOptions(argc, argv, portOption);

    QApplication app(argc, argv);
    // Ties the window to its desktop entry, so the desktop shows its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(NX_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(NX_APP_ID)));
    QCommandLineParser parser;
    describeOptions(parser, portOption);
    parser.process(app);

    // The window speaks the system's language (View -> Language changes it).
    captions::useLanguage(captions::systemLanguage());
    TForm1 form(nullptr, TForm1Options{.rememberChoices = true});
    if (parser.isSet(portOption)) {
        if (auto *port = form.findChild<QComboBox *>(QStringLiteral("SPREALCOM")))
            port->setEditText(parser.value(portOption));
    }
    form.show();
    return app.exec();
}
