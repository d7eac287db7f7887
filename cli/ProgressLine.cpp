#include "cli/ProgressLine.h"

#include <QLocale>

#include <unistd.h>

namespace {

constexpr qint64 TerminalIntervalMs = 200;

QString clock(qint64 seconds)
{
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3").arg(seconds / 3600).arg(seconds / 60 % 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

ProgressLine::Mode ProgressLine::modeFor(FILE *stream, bool quiet)
{
    if (quiet)
        return Mode::Quiet;
    return ::isatty(::fileno(stream)) ? Mode::Terminal : Mode::Steps;
}

ProgressLine::ProgressLine(Mode mode, const QString &what, qint64 total, FILE *stream)
    : m_mode(mode)
    , m_what(what)
    , m_total(total)
    , m_stream(stream)
{
    m_clock.start();
}

QString ProgressLine::text(const QString &what, qint64 done, qint64 total, qint64 elapsedMs)
{
    QLocale numbers = QLocale::c();
    numbers.setNumberOptions(QLocale::DefaultNumberOptions);
    const int percent = total > 0 ? int(done * 100 / total) : 100;
    QString line = QStringLiteral("%1/%2 %3 (%4 %)").arg(numbers.toString(done), numbers.toString(total), what).arg(percent);
    if (elapsedMs >= 1000 && done > 0) {
        const double rate = double(done) * 1000.0 / double(elapsedMs);
        line += QStringLiteral(", %1 %2/s").arg(QString::number(rate, 'f', 1), what);
        if (total > done)
            line += QStringLiteral(", %1 left").arg(clock(qint64(double(total - done) / rate + 0.5)));
    }
    return line;
}

void ProgressLine::update(qint64 done)
{
    const qint64 elapsed = m_clock.elapsed();
    if (m_mode == Mode::Quiet)
        return;
    if (m_mode == Mode::Steps) {
        const int step = m_total > 0 ? int(done * 20 / m_total) : 20;
        if (step <= m_lastStep)
            return;
        m_lastStep = step;
        std::fprintf(m_stream, "%s\n", qPrintable(text(m_what, done, m_total, elapsed)));
        std::fflush(m_stream);
        return;
    }
    if (m_lastShownMs >= 0 && elapsed - m_lastShownMs < TerminalIntervalMs && done < m_total)
        return;
    m_lastShownMs = elapsed;
    // Clear to the end of the line: the text may have become shorter.
    std::fprintf(m_stream, "\r%s\033[K", qPrintable(text(m_what, done, m_total, elapsed)));
    std::fflush(m_stream);
    m_open = true;
}

void ProgressLine::finish()
{
    if (m_open)
        std::fputc('\n', m_stream);
    m_open = false;
}
