#include <QApplication>
#include <QCommandLineParser>

#include "NX260AB.h"
#include "Widgets.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("NX260-HGW"));
    QApplication::setApplicationVersion(QStringLiteral(NX260_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("NX260-HGW gateway configuration tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Serial port to show in the Serial Port box."),
                                        QStringLiteral("NAME"));
    parser.addOption(portOption);
    parser.process(app);

    TForm1 form;
    if (parser.isSet(portOption))
        form.SPREALCOM->setEditText(parser.value(portOption));
    form.show();
    return app.exec();
}
