// Times one search of the real window, headless, and prints what the benchmark tabulates.
#include "EventPump.h"
#include "LineListBox.h"
#include "Messages.h"
#include "frmFinderMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: samelyn-bench FOLDER [--out FILE] [--destined FILE] [--stop-during-comparison MS]\n"
                         "                     [--stop-after MS]\n"
                         "Runs one search of FOLDER and its sub-folders in a fresh window and prints\n"
                         "seconds, peak memory, loads, yields, the longest pause; writes the lines of\n"
                         "the equal list to --out and those of the obsolete list to --destined.\n"
                         "--stop-during-comparison: clicks X once MS milliseconds of the comparison\n"
                         "have passed, and prints the milliseconds from that click to the final box.\n"
                         "--stop-after: the same, but MS milliseconds after the click on \"Start now!\".\n");
    return 2;
}

double peakResidentMegabytes()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

double residentMegabytes()
{
    long size = 0;
    long resident = 0;
    if (FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// The offscreen platform tells on every show() that it cannot raise a window; that is noise here.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || text.contains(QLatin1String("does not support raise()")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

template <typename T>
T *control(const QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("the window has no control named %s", name);
    return found;
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietMessages);
    QApplication app(argc, argv);
    QString folder;
    QString outFile;
    QString destinedFile;
    int stopAfterMs = -1;
    int stopAfterStartMs = -1;
    const QStringList args = QApplication::arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--out") && i + 1 < args.size())
            outFile = args.at(++i);
        else if (args.at(i) == QLatin1String("--destined") && i + 1 < args.size())
            destinedFile = args.at(++i);
        else if (args.at(i) == QLatin1String("--stop-during-comparison") && i + 1 < args.size()) {
            bool ok = false;
            stopAfterMs = args.at(++i).toInt(&ok);
            if (!ok || stopAfterMs < 0)
                return usage();
        }
        else if (args.at(i) == QLatin1String("--stop-after") && i + 1 < args.size()) {
            bool ok = false;
            stopAfterStartMs = args.at(++i).toInt(&ok);
            if (!ok || stopAfterStartMs < 0)
                return usage();
        }
        else if (folder.isEmpty() && !args.at(i).startsWith(QLatin1String("--")))
            folder = QFileInfo(args.at(i)).absoluteFilePath(); // the window asks for a full path
        else
            return usage();
    }
    if (folder.isEmpty() || (stopAfterMs >= 0 && stopAfterStartMs >= 0))
        return usage();
    const bool stopping = stopAfterMs >= 0 || stopAfterStartMs >= 0;

    // The boxes are answered at once; the last one ends the run, so its time is the result.
    QElapsedTimer clock;
    QString finalText;
    qint64 finalNs = -1;
    EventPump::Stats atFinal;
    double finalRss = 0;
    Messages::setHandler([&](QWidget *, const QString &text) {
        finalNs = clock.nsecsElapsed();
        atFinal = EventPump::stats();
        finalRss = residentMegabytes();
        finalText = text;
    });
    bool fatal = false;
    frmFinderMain::setFatalHandler([&] { fatal = true; });

    auto window = std::make_unique<frmFinderMain>();
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get())) {
        std::fprintf(stderr, "samelyn-bench: the window was never shown\n");
        return 1;
    }
    control<QLineEdit>(*window, "txtPath")->setText(folder);
    control<QCheckBox>(*window, "chkSubDirs")->setChecked(true);
    auto *cmdStart = control<QPushButton>(*window, "cmdStart");
    const auto *lstEqual = control<LineListBox>(*window, "lstEqual");
    auto *cmdStop = control<QPushButton>(*window, "cmdStop");

    // The stop is clicked from a timer, as a user's click arrives: through the event loop,
    // whenever the search lets it run. How late the timer fired is how long the user's click
    // would have waited before the window even saw it.
    QTimer stopTimer;
    stopTimer.setSingleShot(true);
    stopTimer.setTimerType(Qt::PreciseTimer);
    qint64 stopDueNs = -1;
    qint64 stopClickNs = -1;
    QObject::connect(&stopTimer, &QTimer::timeout, [&] {
        if (finalNs >= 0)
            return; // too late: the search is over
        stopClickNs = clock.nsecsElapsed();
        QTest::mouseClick(cmdStop, Qt::LeftButton);
    });

    // Where the time and the memory go: when each phase of the run starts, told by the status
    // line, and where the longest pause ended. Cheap enough to leave on: one look each time
    // the event loop runs.
    const QString phaseStarts[] = {QStringLiteral("Reading file"), QStringLiteral("Comparing group")};
    qint64 phaseNs[] = {-1, -1};
    double phaseRss[] = {0, 0};
    int phase = 0;
    QElapsedTimer sinceHook;
    qint64 longestNs = -1;
    QString longestWhere;
    EventPump::setObserver([&] {
        const qint64 gap = sinceHook.nsecsElapsed();
        if (gap > longestNs) {
            longestNs = gap;
            longestWhere = window->statusText() + QStringLiteral(" | ") + window->statusBText();
        }
        for (int next = phase; next < 2; ++next) {
            if (window->statusText().startsWith(phaseStarts[next])) {
                phaseNs[next] = clock.nsecsElapsed();
                phaseRss[next] = residentMegabytes();
                phase = next + 1;
                if (next == 1 && stopAfterMs >= 0) {
                    stopDueNs = phaseNs[1] + qint64(stopAfterMs) * 1'000'000;
                    stopTimer.start(stopAfterMs);
                }
            }
        }
        sinceHook.start();
    });

    const quint64 loadsBefore = window->state().LoadCount;
    EventPump::resetStats();
    if (stopAfterStartMs >= 0) {
        stopDueNs = qint64(stopAfterStartMs) * 1'000'000;
        stopTimer.start(stopAfterStartMs);
    }
    clock.start();
    sinceHook.start();
    // The whole run happens inside the click; it returns after the final box is answered.
    QTest::mouseClick(cmdStart, Qt::LeftButton);

    if (finalNs < 0 || window->isRunning()) {
        std::fprintf(stderr, "samelyn-bench: the run ended without a final message\n");
        return 1;
    }
    EventPump::setObserver({});
    stopTimer.stop();
    const quint64 loads = window->state().LoadCount - loadsBefore;
    const int equalLines = lstEqual->count();

    const auto writeLines = [](const QString &file, const LineListBox *list) {
        if (file.isEmpty())
            return true;
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "samelyn-bench: cannot write %s\n", qPrintable(file));
            return false;
        }
        for (int i = 0; i < list->count(); ++i) {
            out.write(list->line(i).toUtf8());
            out.write("\n", 1);
        }
        if (!out.commit()) {
            std::fprintf(stderr, "samelyn-bench: cannot write %s\n", qPrintable(file));
            return false;
        }
        return true;
    };
    if (!writeLines(outFile, lstEqual)
        || !writeLines(destinedFile, control<LineListBox>(*window, "lstDestined")))
        return 1;

    // Closing takes the window's scratch folder with it.
    window->close();
    window.reset();

    // One line, key=value, read by bench/run; the outcome is the first line of the box.
    QString outcome = finalText.section(QLatin1Char('\n'), 0, 0);
    outcome.replace(QLatin1Char(' '), QLatin1Char('_'));
    const auto seconds = [](qint64 ns) { return double(ns) / 1e9; };
    const qint64 comparingFrom = phaseNs[1] < 0 ? finalNs : phaseNs[1];
    // A phase too short for the event loop to see it took no time, not a negative one.
    const qint64 bucketsFrom = phaseNs[0] < 0 ? comparingFrom : phaseNs[0];
    std::printf("seconds=%.6f rss_mb=%.1f loads=%llu yields=%llu longest_pause_ms=%.3f equal_lines=%d outcome=%s"
                " gathering_s=%.3f buckets_s=%.3f comparing_s=%.3f rss_after_gathering_mb=%.1f"
                " rss_after_buckets_mb=%.1f rss_at_end_mb=%.1f",
                seconds(finalNs), peakResidentMegabytes(), static_cast<unsigned long long>(loads),
                static_cast<unsigned long long>(atFinal.yields), double(atFinal.longestGapNs) / 1e6, equalLines,
                qPrintable(outcome), seconds(bucketsFrom), seconds(comparingFrom - bucketsFrom),
                seconds(finalNs - comparingFrom), phaseRss[0], phaseRss[1], finalRss);
    // Files the box says were left out: what a search lost to, say, too few file descriptors.
    const QRegularExpressionMatch leftOut =
        QRegularExpression(QStringLiteral("\\n(\\d+) files? could not be read")).match(finalText);
    std::printf(" left_out=%s", leftOut.hasMatch() ? qPrintable(leftOut.captured(1)) : "0");
    if (stopping) {
        // -1 when the search ended before the click was due.
        const auto ms = [](qint64 ns) { return double(ns) / 1e6; };
        std::printf(" stop_ms=%.3f stop_click_late_ms=%.3f", stopClickNs < 0 ? -1.0 : ms(finalNs - stopClickNs),
                    stopClickNs < 0 ? -1.0 : ms(stopClickNs - stopDueNs));
    }
    std::printf("\n");
    std::fflush(stdout);
    std::fprintf(stderr, "samelyn-bench: the longest pause ended at: %s\n", qPrintable(longestWhere));
    if (finalText.contains(QLatin1Char('\n')))
        std::fprintf(stderr, "samelyn-bench: the final message was:\n%s\n", qPrintable(finalText));
    if (stopping && stopClickNs < 0)
        std::fprintf(stderr, "samelyn-bench: the search ended before X was clicked\n");
    // Stopped on purpose, the run is right to end "Canceled!".
    const QLatin1String expected(stopping ? "Canceled!" : "DONE!");
    return fatal || (stopping && stopClickNs < 0) || !finalText.startsWith(expected) ? 1 : 0;
}
