// Receives the logger's DDE pokes on the session bus and prints each as one
// line "topic<TAB>item<TAB>value", flushed at once so a pipe sees it at once.
// Backslash, tab, CR and LF inside a text are written as \\, \t, \r and \n, so
// a multi-line alarm stays on its line.

#include "dde.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <cstdio>

namespace {

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        default:
            out += c;
        }
    }
    return out;
}

class DDEReceiver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillet.DDE")

public:
    explicit DDEReceiver(bool answer) : m_answer(answer) {}

public slots:
    bool Poke(const QString &topic, const QString &item, const QString &value)
    {
        const QByteArray line = (escaped(topic) + QLatin1Char('\t') + escaped(item) +
                                 QLatin1Char('\t') + escaped(value) + QLatin1Char('\n'))
                                    .toUtf8();
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
        return m_answer;
    }

private:
    bool m_answer;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillet-ddereceiver"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Takes the DDE pokes of the Quillet logger on the session bus and prints "
                       "each as one line: topic<TAB>item<TAB>value."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("busname"),
        QStringLiteral("The bus name to register, e.g. com.example.Display."),
        QStringLiteral("[busname]"));
    const QCommandLineOption application(
        {QStringLiteral("a"), QStringLiteral("application")},
        QStringLiteral("Register the bus name the logger pokes for APPLICATION=<name> "
                       "(instead of giving a bus name)."),
        QStringLiteral("name"));
    const QCommandLineOption answerFalse(
        QStringLiteral("answer-false"),
        QStringLiteral("Refuse every poke: print it, then answer false."));
    parser.addOption(application);
    parser.addOption(answerFalse);
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() + (parser.isSet(application) ? 1 : 0) != 1) {
        std::fprintf(stderr, "quillet-ddereceiver: give one bus name or --application\n");
        return 2;
    }
    const QString busName = parser.isSet(application)
                                ? quillet::DDEBusName(parser.value(application))
                                : positional.first();
    if (!quillet::IsValidDDEBusName(busName)) {
        std::fprintf(stderr, "quillet-ddereceiver: not a valid bus name: %s\n",
                     qPrintable(busName));
        return 2;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "quillet-ddereceiver: no session bus: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    DDEReceiver receiver(!parser.isSet(answerFalse));
    if (!bus.registerObject(quillet::kDDEObjectPath, &receiver, QDBusConnection::ExportAllSlots)) {
        std::fprintf(stderr, "quillet-ddereceiver: cannot export the receiver object\n");
        return 1;
    }
    // Refuse to queue behind another owner: two receivers would split the pokes.
    const auto reply =
        bus.interface()->registerService(busName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        std::fprintf(stderr, "quillet-ddereceiver: cannot register %s: %s\n", qPrintable(busName),
                     reply.isValid() ? "the name has another owner"
                                     : qPrintable(reply.error().message()));
        return 1;
    }
    std::fprintf(stderr, "quillet-ddereceiver: listening as %s\n", qPrintable(busName));
    std::fflush(stderr);
    return QCoreApplication::exec();
}

#include "main.moc"
