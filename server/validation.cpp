#include "validation.h"

#include "wiretime.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QTextCodec>

#include <atomic>

namespace {

// The test clock: the mapped counter, or nullptr for the system clock.
std::atomic<const qint64 *> g_pTestClock{nullptr};

} // namespace

// Checked by hand: Qt's parser consults the local time zone, which costs a system
// call and a global lock.
bool Validation::isMoment(const QString &str)
{
    if (str.size() != 19)
        return false;
    auto number = [&](int nFrom, int nLength) {
        int n = 0;
        for (int i = nFrom; i < nFrom + nLength; ++i) {
            const QChar c = str.at(i);
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            n = n * 10 + (c.unicode() - '0');
        }
        return n;
    };
    if (str.at(4) != QLatin1Char('-') || str.at(7) != QLatin1Char('-')
        || str.at(10) != QLatin1Char(' ') || str.at(13) != QLatin1Char(':')
        || str.at(16) != QLatin1Char(':'))
        return false;
    const int nYear = number(0, 4), nMonth = number(5, 2), nDay = number(8, 2);
    const int nHour = number(11, 2), nMinute = number(14, 2), nSecond = number(17, 2);
    return nYear >= 1 && QDate::isValid(nYear, nMonth, nDay) && nHour >= 0 && nHour < 24
           && nMinute >= 0 && nMinute < 60 && nSecond >= 0 && nSecond < 60;
}

bool Validation::isDay(const QString &str)
{
    return str.size() == 10 && isMoment(str + QStringLiteral(" 00:00:00"));
}

bool Validation::isHex(const QString &str, int nSize)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-fA-F]*$"));
    return str.size() == nSize && re.match(str).hasMatch();
}

bool Validation::isUuid(const QString &str)
{
    static const QRegularExpression re(QStringLiteral(
        "^\\{?[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}\\}?$"));
    if (!re.match(str).hasMatch())
        return false;
    return str.startsWith(QLatin1Char('{')) == str.endsWith(QLatin1Char('}'));
}

qint64 Validation::parseId(const QString &str)
{
    if (str.isEmpty())
        return 0;
    bool bOk = false;
    const qint64 n = str.toLongLong(&bOk);
    return bOk && n > 0 && n <= 0x7fffffff ? n : -1;
}

QString Validation::nowMoment()
{
    return WireTime::keptForm(QDateTime::fromSecsSinceEpoch(nowSecs(), Qt::UTC));
}

qint64 Validation::nowSecs()
{
    if (const qint64 *pClock = g_pTestClock)
        return reinterpret_cast<const std::atomic<qint64> *>(pClock)->load();
    return QDateTime::currentSecsSinceEpoch();
}

bool Validation::useTestClock(const QString &strFile)
{
    // Kept open and mapped for the life of the process.
    static QFile s_file;
    s_file.setFileName(strFile);
    if (!s_file.open(QIODevice::ReadWrite))
        return false;
    uchar *pData = s_file.map(0, sizeof(qint64));
    if (!pData)
        return false;
    g_pTestClock = reinterpret_cast<const qint64 *>(pData);
    return true;
}

QString Validation::keptTime(const QString &str)
{
    if (WireTime::hasZone(str))
        return WireTime::toKept(str, QTimeZone::utc());
    // The older form: checked by hand first, the zone is consulted only for a real time.
    if (!isMoment(str))
        return QString();
    return WireTime::toKept(str, QTimeZone::systemTimeZone());
}

QString Validation::answerTime(const QString &strKept, bool bWire)
{
    if (!isMoment(strKept))
        return strKept;
    if (bWire) {
        QString str = strKept;
        str[10] = QLatin1Char('T');
        return str + QLatin1Char('Z');
    }
    const QString strLocal = WireTime::keptToLocal(strKept, QTimeZone::systemTimeZone());
    return strLocal.isEmpty() ? strKept : strLocal;
}

QString Validation::nameKey(const QString &strName)
{
    return strName.normalized(QString::NormalizationForm_KC).toLower();
}

QString Validation::nameProblem(const QString &strName)
{
    if (strName.trimmed().isEmpty())
        return QStringLiteral("The name is empty.");
    bool bLatin = false, bGreek = false, bCyrillic = false;
    for (int i = 0; i < strName.size(); ++i) {
        const uint nCode = strName.at(i).isHighSurrogate() && i + 1 < strName.size()
                               ? QChar::surrogateToUcs4(strName.at(i), strName.at(i + 1))
                               : strName.at(i).unicode();
        switch (QChar::category(nCode)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_NotAssigned:
        case QChar::Other_PrivateUse:
        case QChar::Other_Surrogate:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return QStringLiteral("The name must not contain control or invisible characters.");
        case QChar::Separator_Space:
            if (nCode != ' ')
                return QStringLiteral("The name must not contain control or invisible characters.");
            break;
        default:
            break;
        }
        switch (QChar::script(nCode)) {
        case QChar::Script_Latin:
            bLatin = true;
            break;
        case QChar::Script_Greek:
            bGreek = true;
            break;
        case QChar::Script_Cyrillic:
            bCyrillic = true;
            break;
        default:
            break;
        }
        if (nCode > 0xffff)
            ++i;
    }
    if (strName != strName.trimmed())
        return QStringLiteral("The name must not begin or end with a space.");
    if (int(bLatin) + int(bGreek) + int(bCyrillic) > 1)
        return QStringLiteral("The name mixes Latin, Greek or Cyrillic letters.");
    if (strName.size() > 64)
        return QStringLiteral("The name is longer than 64 characters.");
    return QString();
}

QString Validation::normalUuid(const QString &str)
{
    if (!isUuid(str))
        return str;
    const QString strLower = str.toLower();
    return strLower.startsWith(QLatin1Char('{')) ? strLower
                                                 : QLatin1Char('{') + strLower + QLatin1Char('}');
}

QString Validation::fromUtf8(const char *pData, int nSize)
{
    static QTextCodec *const s_pCodec = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return s_pCodec->toUnicode(pData, nSize, &state);
}
