#include "PathList.h"

#include "FileNames.h"

namespace tunedeck {

PathList PathList::fromStringList(const QStringList &names)
{
    PathList list;
    list.reserve(names.size());
    for (const QString &name : names)
        list.append(name);
    return list;
}

QStringList PathList::toStringList() const
{
    QStringList names;
    names.reserve(size());
    for (const QByteArray &name : m_names)
        names.append(fileNameFromBytes(name));
    return names;
}

QString PathList::at(qsizetype index) const
{
    return fileNameFromBytes(m_names.at(index));
}

QString PathList::value(qsizetype index) const
{
    return index >= 0 && index < size() ? at(index) : QString();
}

QString PathList::displayNameAt(qsizetype index) const
{
    return fileNameFromBytes(pathTail(bytesAt(index)));
}

void PathList::append(QStringView name)
{
    QByteArray bytes;
    appendFileNameBytes(bytes, name);
    m_names.append(std::move(bytes));
}

void PathList::appendJoined(QByteArrayView head, QStringView tail)
{
    QByteArray bytes = head.toByteArray();
    appendFileNameBytes(bytes, tail);
    m_names.append(std::move(bytes));
}

void PathList::removeFirst()
{
    if (!m_names.isEmpty())
        m_names.removeFirst();
}

void PathList::removeFlagged(const std::vector<bool> &doomed)
{
    QList<QByteArray> kept;
    kept.reserve(m_names.size());
    for (qsizetype i = 0; i < m_names.size(); ++i) {
        if (i >= qsizetype(doomed.size()) || !doomed[std::size_t(i)])
            kept.append(m_names.at(i));
    }
    m_names = std::move(kept);
}

QByteArray PathList::toLines() const
{
    QByteArray bytes;
    for (const QByteArray &name : m_names)
        bytes.append(name).append("\r\n");
    return bytes;
}

} // namespace tunedeck
