#include "scanoutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>

namespace cli {

namespace {

bool unprintable(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

} // namespace

QString printableText(const QString &text, bool blanksToo)
{
    QString out = text;
    for (QChar &c : out) {
        if (unprintable(c) || (blanksToo && c.isSpace()))
            c = QLatin1Char('?');
    }
    return out;
}

QString alignedColumns(const QVector<QStringList> &rows)
{
    if (rows.isEmpty())
        return QString();
    const int columns = rows.first().size();
    QVector<int> widths(columns, 0);
    for (const QStringList &row : rows) {
        for (int c = 0; c + 1 < columns; ++c)
            widths[c] = qMax(widths[c], row.at(c).size());
    }
    QString out;
    for (const QStringList &row : rows) {
        for (int c = 0; c + 1 < columns; ++c)
            out += row.at(c).leftJustified(widths[c]) + QLatin1String("  ");
        out += row.last() + QLatin1Char('\n');
    }
    return out;
}

namespace {

double ageSeconds(const HeardModule &module, qint64 nowMs)
{
    return std::round(double(nowMs - module.lastHeardMs) / 100.0) / 10.0;
}

} // namespace

QString scanTable(const QVector<HeardModule> &modules, qint64 nowMs)
{
    QVector<QStringList> rows;
    rows.append({QStringLiteral("IP"), QStringLiteral("DATA"), QStringLiteral("AT"), QStringLiteral("AGE"),
                 QStringLiteral("HOSTNAME")});
    for (const HeardModule &m : modules) {
        const discovery::Announcement &a = m.announcement;
        const QString age = m.heard ? QString::number(ageSeconds(m, nowMs), 'f', 1) : QStringLiteral("known");
        rows.append({printableText(a.hostIp, true), printableText(a.dataPort, true), printableText(a.atPort, true), age,
                     printableText(a.hostName, false)});
    }
    return alignedColumns(rows);
}

QByteArray scanJson(const QVector<HeardModule> &modules, qint64 nowMs)
{
    QJsonArray list;
    for (const HeardModule &m : modules) {
        const discovery::Announcement &a = m.announcement;
        list.append(QJsonObject{{QStringLiteral("ip"), a.hostIp},
                                {QStringLiteral("dataPort"), a.dataPort},
                                {QStringLiteral("atPort"), a.atPort},
                                {QStringLiteral("hostname"), a.hostName},
                                {QStringLiteral("secondsSinceHeard"),
                                 m.heard ? QJsonValue(ageSeconds(m, nowMs)) : QJsonValue(QJsonValue::Null)},
                                {QStringLiteral("known"), m.known}});
    }
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

} // namespace cli
